#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "language/snapshot_change.hpp"
#include "render/render.hpp"

namespace vesk {
namespace {

struct DocumentCase {
  const char* name;
  Json value;
  std::string expected;
};

TEST(JsonDocument, WritesTheIndentedTextForm) {
  const DocumentCase cases[] = {
      {"bare string keeps its quotes", "hello", R"("hello")"},
      {"members sorted", Json{{"b", 1}, {"a", 2}}, "{\n  \"a\": 2,\n  \"b\": 1\n}"},
      {"whole float gets .0", 100.0, "100.0"},
      {"short fraction", 0.1, "0.1"},
      {"large exponent", 1e21, "1e+21"},
      // The JSON library writes 9.999999999999999e+22 here: not the shortest text.
      {"shortest rather than library text", 1e23, "1e+23"},
      {"small exponent", 1e-7, "1e-07"},
      {"negative zero float", -0.0, "-0.0"},
      {"not a number", std::nan(""), "null"},
      {"infinity", std::numeric_limits<double>::infinity(), "null"},
      {"largest unsigned", std::numeric_limits<std::uint64_t>::max(), "18446744073709551615"},
      {"smallest signed", std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {"literals", Json::array({true, false, nullptr}), "[\n  true,\n  false,\n  null\n]"},
      {"nested empties", Json{{"a", Json::object()}, {"b", Json::array()}, {"c", Json::array({Json::array(), Json::object()})}},
       "{\n  \"a\": {},\n  \"b\": [],\n  \"c\": [\n    [],\n    {}\n  ]\n}"},
      {"empty object", Json::object(), "{}"},
      {"escapes", std::string("q\"b\\\b\f\n\r\t\x01\x1f/\x7f\xc3\xa9\xe2\x80\xa8"),
       "\"q\\\"b\\\\\\b\\f\\n\\r\\t\\u0001\\u001f/\x7f\xc3\xa9\xe2\x80\xa8\""},
      {"escaped key", Json{{"a\nb", 1}}, "{\n  \"a\\nb\": 1\n}"},
      {"invalid UTF-8 passes through", std::string("\xff"), "\"\xff\""},
  };
  for (const auto& c : cases) EXPECT_EQ(json_document(c.value), c.expected) << c.name;
}

TEST(JsonDocument, FloatsReadBackToTheSameValue) {
  for (const double d : {0.1, 1e23, 5e-324, 1.7976931348623157e308, 123456.789, 9007199254740992.0}) {
    const std::string text = json_document(d);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), d) << text;
  }
}

TEST(PrintResult, WritesTheDocumentAndOneNewline) {
  testing::internal::CaptureStdout();
  ASSERT_TRUE(print_result(Json{{"b", "x"}, {"a", 1.5}}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "{\n  \"a\": 1.5,\n  \"b\": \"x\"\n}\n");
}

struct ListingCase {
  const char* name;
  Json value;
  std::string expected;
};

TEST(SnapshotListing, UsesDefaultsForMissingOrMistypedMembers) {
  const ListingCase cases[] = {
      {"empty object", Json::object(), "#  |  | 0 nodes\n"},
      {"payload under snapshot",
       Json{{"snapshot", {{"title", "T"}, {"url", "u"}, {"nodes", Json::array({{{"id", "e1"}, {"role", "button"}, {"name", "Go"}}})}}}},
       "# T | u | 1 nodes\ne1:button \"Go\"\n"},
      {"no url falls back to visible_url", Json{{"visible_url", "v"}}, "#  | v | 0 nodes\n"},
      {"url not a string hides visible_url", Json{{"url", 5}, {"visible_url", "v"}}, "#  |  | 0 nodes\n"},
      {"title not a string", Json{{"title", 1}, {"url", "u"}}, "#  | u | 0 nodes\n"},
      {"nodes not an array", Json{{"nodes", {{"id", "x"}}}}, "#  |  | 0 nodes\n"},
      {"node not an object", Json{{"nodes", Json::array({5, "s"})}}, "#  |  | 2 nodes\n:element\n:element\n"},
      {"no role and empty name", Json{{"nodes", Json::array({{{"id", "e2"}, {"name", ""}}})}}, "#  |  | 1 nodes\ne2:element\n"},
      {"name with quote and newline", Json{{"nodes", Json::array({{{"id", "e3"}, {"role", "link"}, {"name", "a\"b\nc"}}})}},
       "#  |  | 1 nodes\ne3:link \"a\\\"b\\nc\"\n"},
      {"not an object at all", Json::array({1}), "#  |  | 0 nodes\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    const Status listed = print_snapshot_listing(c.value);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.expected) << c.name;
    EXPECT_TRUE(listed) << c.name;
  }
}

TEST(SnapshotPayload, IsTheSnapshotMemberOrTheWholeValue) {
  const Json wrapped{{"snapshot", {{"a", 1}}}, {"other", 2}};
  EXPECT_EQ(snapshot_payload(wrapped), (Json{{"a", 1}}));
  const Json bare{{"a", 1}};
  EXPECT_EQ(&snapshot_payload(bare), &bare);
  const Json text = "s";
  EXPECT_EQ(&snapshot_payload(text), &text);
}

TEST(FormatSize, StepsUnitsAtPowersOf1024) {
  const std::pair<Json, std::string> cases[] = {
      {0, "0 B"},
      {512, "512 B"},
      {1023, "1023 B"},
      {1024, "1.00 KiB"},
      {1536, "1.50 KiB"},
      {1048575, "1024.00 KiB"},
      {1048576, "1.00 MiB"},
      {std::uint64_t{1} << 50, "1024.00 TiB"},
      {-5, "0 B"},
      {-0.5, "0 B"},
      {std::nan(""), "0 B"},
      {1536.0, "1.50 KiB"},
  };
  for (const auto& [number, expected] : cases) EXPECT_EQ(format_size(number), expected) << number.dump();
}

// Sets VESK_SESSION, or removes it for nullopt (an empty value removes it on Windows).
void set_session_variable(const std::optional<std::string>& value) {
#ifdef _WIN32
  _putenv_s("VESK_SESSION", value ? value->c_str() : "");
#else
  if (value) {
    ::setenv("VESK_SESSION", value->c_str(), 1);
  } else {
    ::unsetenv("VESK_SESSION");
  }
#endif
}

// Sets or unsets VESK_SESSION for one case and restores the previous value.
class SessionEnv {
 public:
  explicit SessionEnv(std::optional<std::string> value) {
    if (const char* old = std::getenv("VESK_SESSION")) saved_ = old;
    set_session_variable(value);
  }
  ~SessionEnv() { set_session_variable(saved_); }

 private:
  std::optional<std::string> saved_;
};

constexpr const char* kHintStart = "HINT: no session set - this tab is shared. Create one with: export VESK_SESSION=$(vesk session create --agent-id ";

struct HintCase {
  const char* name;
  Json vesk;
  std::optional<std::string> session;
  std::string expected_stderr;
};

TEST(SessionHint, RemovesTheMarkerAndHintsOnlyForSharedTabsOutsideASession) {
  const HintCase cases[] = {
      {"shared with agent", {{"shared", true}, {"agentId", "a1"}}, std::nullopt,
       std::string(kHintStart) + "a1 --print-token)\n"},
      {"agent id missing", {{"shared", true}}, std::nullopt, std::string(kHintStart) + "<id> --print-token)\n"},
      {"agent id not a string", {{"shared", true}, {"agentId", 7}}, std::nullopt,
       std::string(kHintStart) + "<id> --print-token)\n"},
#ifndef _WIN32  // the C runtime of Windows removes a variable set to ""
      {"empty session still counts", {{"shared", true}, {"agentId", "a1"}}, std::string(""), ""},
#endif
      {"session set", {{"shared", true}}, std::string("s1"), ""},
      {"shared as a string", {{"shared", "true"}}, std::nullopt, ""},
      {"not shared", {{"shared", false}}, std::nullopt, ""},
      {"marker not an object", true, std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SessionEnv env(c.session);
    Json value{{"ok", 1}, {"vesk", c.vesk}};
    testing::internal::CaptureStderr();
    session_hint(value);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected_stderr) << c.name;
    EXPECT_EQ(value, (Json{{"ok", 1}})) << c.name;
  }
}

TEST(SessionHint, LeavesOtherValuesAlone) {
  SessionEnv env(std::nullopt);
  for (Json value : {Json("vesk"), Json::array({{{"vesk", {{"shared", true}}}}}), Json{{"a", 1}}}) {
    const Json before = value;
    testing::internal::CaptureStderr();
    session_hint(value);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(value, before);
  }
}

}  // namespace
}  // namespace vesk
