#pragma once
// The fixture of the end-to-end suites: one real browser per suite (a Chromium launch is the
// slow part), shared by its tests. Each test opens the page it needs first, so the tests do
// not depend on one another's order. Skipped, with a message, when Chromium is not installed.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/browser_session.hpp"

namespace vesk::test {

// A member of a result, or null when the result is not an object or lacks it.
inline Json at(const Json& object, const std::string& key) {
  if (!object.is_object()) return Json();
  auto it = object.find(key);
  return it == object.end() ? Json() : *it;
}

class RealBrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    start_failure_.clear();
    if (!installed_chromium()) return;
    session_ = std::make_unique<BrowserSession>();
    if (!session_->start(start_failure_) && start_failure_.empty()) start_failure_ = "the browser did not start";
  }

  static void TearDownTestSuite() { session_.reset(); }

  void SetUp() override {
    if (!installed_chromium()) {
      GTEST_SKIP() << "Chromium is not installed (no /usr/lib/chromium/chromium, no chromium on PATH, "
                      "VESK_CHROMIUM unset): the end-to-end tests need a real browser";
    }
    ASSERT_TRUE(session_ != nullptr && start_failure_.empty()) << start_failure_;
  }

  static BrowserSession& session() { return *session_; }

  static std::string joined(const std::vector<std::string>& args) {
    std::string text = "vesk";
    for (const auto& arg : args) text += " " + arg;
    return text;
  }

  // Runs a command that must succeed and print a JSON object; null (with a failure) otherwise.
  static Json ok(const std::vector<std::string>& args) {
    RunResult result = session_->vesk(args);
    if (result.status != 0) {
      ADD_FAILURE() << joined(args) << " failed: " << describe(result) << session_->veskbrowser_log_tail(10);
      return Json();
    }
    try {
      return Json::parse(result.out);
    } catch (const Json::exception& e) {
      ADD_FAILURE() << joined(args) << " printed no JSON (" << e.what() << "): " << result.out;
      return Json();
    }
  }

  // Runs a command that must succeed; its standard output.
  static std::string ok_text(const std::vector<std::string>& args) {
    RunResult result = session_->vesk(args);
    EXPECT_EQ(result.status, 0) << joined(args) << ": " << describe(result);
    return result.out;
  }

  // Runs a command that must fail with the error code `code` ("code: message" on stderr).
  static void fails_with(const std::vector<std::string>& args, const std::string& code) {
    RunResult result = session_->vesk(args);
    EXPECT_NE(result.status, 0) << joined(args) << " should fail with " << code << ": " << describe(result);
    EXPECT_FALSE(lines_with(result.err, code + ": ").empty())
        << joined(args) << " should fail with " << code << ": " << describe(result);
  }

  // Opens a fixture page from a file:// URL in the current tab.
  static void open(const std::string& page) {
    Json opened = ok({"nav", fixture_file_url(page)});
    ASSERT_TRUE(opened.is_object()) << "could not open " << page;
  }

  // The value of a JavaScript expression in the current tab.
  static Json eval(const std::string& script) {
    Json result = ok({"eval", script});
    return result.is_object() ? result.value("value", Json()) : Json();
  }

  // The ref of the first line of `vesk snap -i` with this role and name ("e3:button \"Save\""),
  // whatever state the line shows after the role ("e4:checkbox [checked] \"Terms\"").
  static std::string ref_of(const std::string& listing, const std::string& role, const std::string& name) {
    for (const auto& line : lines_with(listing, " \"" + name + "\"")) {
      const auto colon = line.find(':');
      if (colon == std::string::npos || !line.ends_with(" \"" + name + "\"")) continue;
      std::string rest = line.substr(colon + 1);
      if (!rest.empty() && (rest[0] == '+' || rest[0] == '~')) rest.erase(0, 1);
      if (rest.starts_with(role + " \"") || rest.starts_with(role + " [")) return line.substr(0, colon);
    }
    ADD_FAILURE() << "no " << role << " \"" << name << "\" in the snapshot:\n" << listing;
    return "e0";
  }

  static inline std::unique_ptr<BrowserSession> session_;
  static inline std::string start_failure_;
};

}  // namespace vesk::test
