#include "protocol/message.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/base64.hpp"

namespace vesk {
namespace {

Json parse(std::string_view text) {
  auto value = parse_json(text);
  EXPECT_TRUE(value) << text;
  return value ? *value : Json();
}

TEST(DecodeMessage, ReadingRules) {
  struct Case {
    const char* input;
    // Re-encoded form of what decoded, or nullptr when the input is invalid.
    const char* encoded;
    // For invalid input: a piece the reason must contain.
    const char* reason = "";
  } cases[] = {
      // Only id, kind and version are required; the other four are written as null.
      {R"({"id":"a","kind":"event","version":1})",
       R"({"id":"a","kind":"event","version":1,"method":null,"params":null,"result":null,"error":null})"},
      // Null and missing mean the same for params (null) and result (absent).
      {R"({"id":"a","kind":"response","version":1,"params":null,"result":null,"method":null,"error":null})",
       R"({"id":"a","kind":"response","version":1,"method":null,"params":null,"result":null,"error":null})"},
      // Extra members are ignored; objects inside come out sorted by key.
      {R"({"type":"hello","zz":1,"id":"a","kind":"request","version":0,"method":"m","params":{"b":1,"a":{"d":2,"c":3}}})",
       R"({"id":"a","kind":"request","version":0,"method":"m","params":{"a":{"c":3,"d":2},"b":1},"result":null,"error":null})"},
      {R"({"id":"a","kind":"error","version":4294967295,"error":{"code":"c","message":"m"}})",
       R"({"id":"a","kind":"error","version":4294967295,"method":null,"params":null,"result":null,"error":{"code":"c","message":"m","details":null}})"},
      {R"({"id":"a","kind":"error","version":1,"error":{"code":"c","message":"m","details":[1]}})",
       R"({"id":"a","kind":"error","version":1,"method":null,"params":null,"result":null,"error":{"code":"c","message":"m","details":[1]}})"},
      // The positional form of seven elements.
      {R"(["a","response",1,null,{},{"ok":true},null])",
       R"({"id":"a","kind":"response","version":1,"method":null,"params":{},"result":{"ok":true},"error":null})"},
      // Invalid messages, each naming what is wrong.
      {R"({"id":"a","kind":"Request","version":1})", nullptr, "kind \"Request\""},
      {R"({"id":"a","kind":"request","version":-1})", nullptr, "`version`"},
      {R"({"id":"a","kind":"request","version":1.5})", nullptr, "`version`"},
      {R"({"id":"a","kind":"request","version":1.0})", nullptr, "`version`"},
      {R"({"id":"a","kind":"request","version":4294967296})", nullptr, "`version`"},
      {R"({"id":"a","kind":"request","version":"1"})", nullptr, "`version`"},
      {R"({"id":7,"kind":"request","version":1})", nullptr, "`id`"},
      {R"({"kind":"request","version":1})", nullptr, "missing field `id`"},
      {R"({"id":"a","version":1})", nullptr, "missing field `kind`"},
      {R"({"id":"a","kind":"request"})", nullptr, "missing field `version`"},
      {R"({"id":"a","kind":"request","version":1,"method":5})", nullptr, "`method`"},
      {R"({"id":"a","kind":"error","version":1,"error":{"code":"c"}})", nullptr, "missing field `message`"},
      {R"({"id":"a","kind":"error","version":1,"error":"boom"})", nullptr, "`error`"},
      {R"(["a","response",1,null,{},{"ok":true}])", nullptr, "7 elements"},
      {R"(["a","response",1,null,{},{"ok":true},null,null])", nullptr, "7 elements"},
      {R"("text")", nullptr, "string"},
  };
  for (const auto& c : cases) {
    auto message = decode_message(parse(c.input));
    if (c.encoded == nullptr) {
      ASSERT_FALSE(message) << c.input;
      EXPECT_NE(message.error().text().find(c.reason), std::string::npos)
          << c.input << " gave " << message.error().text();
      continue;
    }
    ASSERT_TRUE(message) << c.input << ": " << message.error().text();
    EXPECT_EQ(encode_message(*message), c.encoded) << c.input;
  }
}

TEST(DecodeMessage, TakingMovesThePayloadOnlyOnSuccess) {
  Json valid = parse(R"({"id":"a","kind":"request","version":1,"params":{"big":"x"}})");
  auto message = decode_message_taking(valid);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->params, parse(R"({"big":"x"})"));

  const Json original = parse(R"({"id":"a","kind":"request","version":-1,"params":{"big":"x"}})");
  Json invalid = original;
  EXPECT_FALSE(decode_message_taking(invalid));
  EXPECT_EQ(invalid, original);
}

TEST(EncodeMessage, BuildersWriteTheSevenMembersInOrder) {
  struct Case {
    Message message;
    const char* encoded;
  } cases[] = {
      {request_message("cli_1", "page.title", parse(R"({"tab":null,"args":[]})")),
       R"({"id":"cli_1","kind":"request","version":1,"method":"page.title","params":{"args":[],"tab":null},"result":null,"error":null})"},
      {response_message("x", parse("[1,2]")),
       R"({"id":"x","kind":"response","version":1,"method":null,"params":{},"result":[1,2],"error":null})"},
      {error_message("cli_2", "noBrowser", "no connected Chromium instance"),
       R"({"id":"cli_2","kind":"error","version":1,"method":null,"params":{},"result":null,"error":{"code":"noBrowser","message":"no connected Chromium instance","details":null}})"},
      // Only quotation mark, reverse solidus and control characters are escaped.
      {request_message("q\"\\\n\x01/\x7f\u2028é", "m", nullptr),
       "{\"id\":\"q\\\"\\\\\\n\\u0001/\x7f\u2028é\",\"kind\":\"request\",\"version\":1,\"method\":\"m\","
       "\"params\":null,\"result\":null,\"error\":null}"},
      // Invalid UTF-8 is replaced rather than making encoding fail.
      {request_message("bad\xff", "m", nullptr),
       "{\"id\":\"bad\xEF\xBF\xBD\",\"kind\":\"request\",\"version\":1,\"method\":\"m\","
       "\"params\":null,\"result\":null,\"error\":null}"},
  };
  for (const auto& c : cases) EXPECT_EQ(encode_message(c.message), c.encoded);
}

TEST(EncodeMessage, RoundTripsThroughDecode) {
  Message original = error_message("e", "browserError", "failed");
  original.method = "tab.list";
  original.result = parse(R"({"a":[1,-2,3.5,"ü"]})");
  original.error->details = parse(R"({"why":null})");
  original.version = 7;
  auto decoded = decode_message(parse(encode_message(original)));
  ASSERT_TRUE(decoded) << decoded.error().text();
  EXPECT_EQ(encode_message(*decoded), encode_message(original));
}

// A file's bytes go on the wire as base64 text, made in blocks: lengths around a block's end
// must not lose, repeat or pad a group in the middle.
TEST(EncodeMessage, BinaryValuesAreWrittenAsTheirBase64Text) {
  constexpr std::size_t kBlock = 3 * 256 * 1024;
  for (const std::size_t length : {std::size_t{0}, std::size_t{1}, kBlock - 1, kBlock, kBlock + 2, 2 * kBlock + 1}) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 151 + i / 4096) & 0xFF);
    Json::binary_t binary(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    const std::string encoded = encode_message(request_message("r", "upload", Json{{"data", Json::binary(binary)}}));
    EXPECT_EQ(encoded, encode_message(request_message("r", "upload", Json{{"data", base64_encode(bytes)}})))
        << length;
  }
}

TEST(NewRequestId, IsCliAndARandomVersion4UuidInLowerHex) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string id = new_request_id();
    ASSERT_EQ(id.size(), 36u);
    ASSERT_TRUE(id.starts_with("cli_"));
    for (const char c : id.substr(4)) ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << id;
    EXPECT_EQ(id[4 + 12], '4') << id;                          // version nibble
    EXPECT_NE(std::string("89ab").find(id[4 + 16]), std::string::npos) << id;  // variant bits
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace vesk
