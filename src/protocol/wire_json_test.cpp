#include "protocol/wire_json.hpp"

#include <gtest/gtest.h>

#include <random>

namespace vesk {
namespace {

// Equal values of equal types all the way down (1, 1.0 and -0 compare equal otherwise).
bool same(const Json& a, const Json& b) {
  if (a.type() != b.type()) return false;
  if (a.is_object()) {
    if (a.size() != b.size()) return false;
    for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
      if (ia.key() != ib.key() || !same(*ia, *ib)) return false;
    }
    return true;
  }
  if (a.is_array()) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!same(a[i], b[i])) return false;
    }
    return true;
  }
  if (a.is_number_float()) return std::signbit(a.get<double>()) == std::signbit(b.get<double>()) && a == b;
  return a == b;
}

// The fast path may decline anything, but what it takes must be what parse_json builds.
// Returns whether the fast path took the text.
bool expect_agrees_with_parse_json(std::string_view text) {
  const auto fast = parse_json_fast(text);
  const auto general = parse_json(text);
  if (!fast) return false;
  EXPECT_TRUE(general) << "fast path accepted what parse_json rejects: " << text << "\n" << general.error().text();
  EXPECT_TRUE(general && same(*fast, *general))
      << text << "\nfast:    " << fast->dump() << "\ngeneral: " << (general ? general->dump() : "");
  return true;
}

TEST(ParseJsonFast, BuildsTheSameValuesAsParseJson) {
  const char* cases[] = {
      R"({"id":"cli_1","kind":"request","version":1,"method":"m","params":{"b":[1,-2,3.5,true,false,null],"a":{}},"result":null,"error":null})",
      R"({"k":1,"k":2,"a":[],"z":{"y":{"x":[[]]}}})",
      R"(  [ 1 , 2 ,  "x" ]  )",
      "\t\r\n[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0000\\u00e9\\u20AC\\ud83d\\ude00\"]",
      "[\"plain é € 😀 \x7f text that is long enough to take the word-at-a-time path\"]",
      R"([0,-0,1,-1,18446744073709551615,18446744073709551616,-9223372036854775808,-9223372036854775809])",
      R"([0.0,-0.0,1.5,1e2,1E-2,1e+2,-1.25e-3,0.1,123456789012345678901234567890,2.2250738585072014e-308])",
      R"("top-level string")",
      "17",
      "null",
      R"({"":""})",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    const auto fast = parse_json_fast(text);
    ASSERT_TRUE(fast) << "declined a valid text";
    expect_agrees_with_parse_json(text);
  }
}

TEST(ParseJsonFast, DeclinesWhatParseJsonRejects) {
  const std::string cases[] = {
      "",
      "   ",
      "{",
      "[1,]",
      "{\"a\":1,}",
      "{\"a\" 1}",
      "{a:1}",
      "[01]",
      "[1.]",
      "[.5]",
      "[-]",
      "[1e]",
      "[+1]",
      "[1E400]",
      "[tru]",
      "[nul]",
      "[\"\\x\"]",
      "[\"\\u12\"]",
      "[\"\\ud800\"]",
      "[\"\\ud800\\u0041\"]",
      "[\"\\udc00\"]",
      "[\"raw\nnewline\"]",
      "[\"raw\ttab\"]",
      "[\"\x01\"]",
      "[\"bad \xff byte\"]",
      "[\"overlong \xc0\xaf\"]",
      "[\"surrogate \xed\xa0\x80\"]",
      "[\"beyond \xf4\x90\x80\x80\"]",
      "[\"cut \xe2\x82\"]",
      "[\"unterminated",
      "[1] [2]",
      "[1]x",
      "\v[1]",
      std::string(600, '[') + std::string(600, ']'),
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_json_fast(text));
    EXPECT_FALSE(parse_json(text));
  }
}

TEST(ParseWireJson, ErrorsAreThoseOfParseJson) {
  const std::string cases[] = {"[1,]", "\xef\xbb\xbf[1]", std::string(600, '[') + std::string(600, ']')};
  for (const auto& text : cases) {
    const auto wire = parse_wire_json(text);
    const auto general = parse_json(text);
    ASSERT_EQ(wire.has_value(), general.has_value()) << text;
    if (!wire) {
      EXPECT_EQ(wire.error().text(), general.error().text());
    }
  }
}

// Mutations of real messages: every result the fast path takes must match parse_json.
TEST(ParseJsonFast, AgreesWithParseJsonOnMutatedMessages) {
  const std::string seeds[] = {
      R"({"id":"cli_0a1b","kind":"response","version":1,"method":null,"params":{},"result":{"text":"a\"b\\c\u00e9 é","n":[1,-2,3.5e3,0]},"error":null})",
      R"(["x","event",1,"tab.changed",{"tabs":[{"id":1,"url":"https://example.com/?q=1&r=\/"}]},null,null])",
  };
  const std::string alphabet = "{}[]\":,\\/-+.0123456789eEtrufalsn \t\n\x01\x7f\xc3\xa9\xe2\x82\xac\xed\xf4\xff";
  std::mt19937 random(12345);
  int taken = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text = seeds[round % 2];
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % (text.size() + 1);
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0:
          text.insert(at, 1, c);
          break;
        case 1:
          if (at < text.size()) text[at] = c;
          break;
        default:
          if (at < text.size()) text.erase(at, 1);
          break;
      }
    }
    taken += expect_agrees_with_parse_json(text) ? 1 : 0;
    if (HasFailure()) return;
  }
  // Many mutations stay valid JSON; the comparison must have had work to do.
  EXPECT_GT(taken, 2000) << taken;
}

}  // namespace
}  // namespace vesk
