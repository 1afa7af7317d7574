#include "protocol/relayed_message.hpp"


#include <gtest/gtest.h>

#include "protocol/json_writer.hpp"

namespace vesk {
namespace {

// One message written to a socket pair and read back, both as a relay and as a decode.
struct Reads {
  Result<RelayedMessage> relayed;
  Result<Message> decoded;
};

Reads read_both(const std::string& text) {
  Reads reads{fail("unread"), fail("unread")};
  for (int pass = 0; pass < 2; ++pass) {
    auto pair = connected_socket_pair();
    if (!pair) std::abort();
    Connection reader{std::move(pair->first)};
    UniqueSocket writer = std::move(pair->second);
    if (!write_all(writer.get(), text)) std::abort();
    writer.reset();
    if (pass == 0) reads.relayed = read_relayed_message(reader);
    if (pass == 1) reads.decoded = read_message(reader);
  }
  return reads;
}

constexpr const char* kCanonical =
    R"({"id":"cli_1","kind":"request","version":1,"method":"upload",)"
    R"("params":{"files":[{"b64":"QUJD","n":1.5e3}],"a":{"a":"x"},"a":{"b":"\u00e9"}},"result":null,"error":null})";

// The relay forwards a wire record in wire order byte for byte, and writes anything else
// afresh; what the peer then decodes is what a full decode of the original gives, and
// failures are the decode's failures, word for word.
TEST(RelayedMessage, ForwardsWireRecordsAsTheyCameAndAgreesWithDecode) {
  struct Case {
    const char* name;
    std::string text;
    bool forwarded_as_is;
  } cases[] = {
      {"wire record", kCanonical, true},
      {"white space between members", R"({ "id" : "a" , "kind":"response","version":1,"method":null,)"
                                      R"("params":null,"result":{"x":[1,-2,true,null]},"error":null })",
       true},
      {"error member", R"({"id":"a","kind":"error","version":1,"method":null,"params":{},"result":null,)"
                       R"("error":{"code":"noBrowser","message":"none","details":{"k":1}}})",
       true},
      {"members out of order", R"({"kind":"event","id":"a","version":1})", false},
      {"extra member", R"({"id":"a","kind":"event","version":1,"method":null,"params":1,"result":null,"error":null,"x":2})",
       false},
      {"array form", R"(["a","event",1,null,null,null,null])", false},
      {"older hello frame", R"({"type":"hello","protocol_version":1,"token":"t","instance_id":"i"})", false},
      {"wrong version type", R"({"id":"a","kind":"event","version":"1","method":null,"params":null,"result":null,"error":null})",
       false},
      {"invalid params", R"({"id":"a","kind":"event","version":1,"method":null,"params":[1,],"result":null,"error":null})",
       false},
      {"raw control character in result", "{\"id\":\"a\",\"kind\":\"event\",\"version\":1,\"method\":null,"
                                          "\"params\":null,\"result\":\"a\x01\",\"error\":null}",
       false},
      {"invalid UTF-8 in params", "{\"id\":\"a\",\"kind\":\"event\",\"version\":1,\"method\":null,"
                                  "\"params\":\"\xC0\xAF\",\"result\":null,\"error\":null}",
       false},
      {"unknown kind", R"({"id":"a","kind":"note","version":1,"method":null,"params":null,"result":null,"error":null})",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Reads reads = read_both(c.text);
    ASSERT_EQ(reads.relayed.has_value(), reads.decoded.has_value());
    if (!reads.decoded) {
      EXPECT_EQ(reads.relayed.error().text(), reads.decoded.error().text());
      continue;
    }
    EXPECT_EQ(reads.relayed->text.view() == c.text, c.forwarded_as_is);
    EXPECT_EQ(reads.relayed->header.id, reads.decoded->id);
    EXPECT_EQ(reads.relayed->header.kind, reads.decoded->kind);
    EXPECT_EQ(reads.relayed->header.method, reads.decoded->method);
    auto forwarded = decode_relayed_message(*reads.relayed);
    ASSERT_TRUE(forwarded) << forwarded.error().text();
    EXPECT_EQ(encode_message(*forwarded), encode_message(*reads.decoded));
  }
}

// The piecewise writer gives exactly the general serialiser's compact text.
TEST(JsonWriter, WritesWhatDumpWrites) {
  const Json values[] = {
      Json::parse(R"({"b":[1,2.5,-3,true,null,{}],"a":"plain","c":[],"d":{"z":1,"y":"q\"uote"}})"),
      Json("tab\there, slash / and \\ and \x7f"),
      Json("caf\xC3\xA9 and invalid \xFF byte"),
      Json(std::string(100000, 'x') + "\n"),
      Json(1e300),
      Json::object({{"\xE2\x82\xAC", "euro key"}}),
  };
  for (const Json& value : values) {
    std::string written;
    StringSink sink(written);
    write_compact_json(sink, value);
    EXPECT_EQ(written, value.dump(-1, ' ', false, Json::error_handler_t::replace));
  }
}

}  // namespace
}  // namespace vesk
