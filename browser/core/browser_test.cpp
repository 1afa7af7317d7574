// What a call that timed out leaves behind, against a real Chromium: a page stuck in a
// script has it stopped and serves again; a page that is only waiting (for a promise, for
// the user to answer a dialog) is left as it is.
#include <gtest/gtest.h>

#include "browser/test_support.hpp"

namespace vesk::browser {
namespace {

using namespace std::chrono_literals;

TEST(BrowserTimeouts, OnlyAPageStuckInAScriptHasItStopped) {
  testing::TempDir dir;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);
  Browser& browser = running->browser();

  struct Case {
    const char* what;
    const char* expression;
    bool stopped;
    bool dialog_left_open;
  };
  const Case cases[] = {
      {"a loop that never ends", "while (true) {}", true, false},
      {"a promise that never settles", "new Promise(() => {})", false, false},
      {"a dialog nobody answers", "alert('still here')", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto tab = browser.open_tab("about:blank");
    ASSERT_TRUE(tab.has_value()) << tab.error().message;
    // Without stopping at the dialog, so that the dialog's call runs into its deadline too.
    auto timed_out = browser.call(**tab, "Runtime.evaluate",
                                  {{"expression", c.expression}, {"awaitPromise", true}}, 1s, false);
    ASSERT_FALSE(timed_out.has_value());
    EXPECT_EQ(timed_out.error().kind, CdpFailureKind::Timeout) << timed_out.error().message;
    EXPECT_EQ(timed_out.error().script_stopped, c.stopped) << timed_out.error().message;

    const auto dialog = browser.open_dialog(**tab);
    EXPECT_EQ(dialog.has_value(), c.dialog_left_open);
    if (dialog) {
      ASSERT_TRUE(browser.call(**tab, "Page.handleJavaScriptDialog", {{"accept", true}}, kCommandTimeout, false));
    }
    auto answer = browser.call(**tab, "Runtime.evaluate", {{"expression", "1 + 1"}, {"returnByValue", true}});
    ASSERT_TRUE(answer.has_value()) << answer.error().message;
    EXPECT_EQ((*answer)["result"]["value"], 2);
    ASSERT_TRUE(browser.close_tab(**tab).has_value());
  }
}

}  // namespace
}  // namespace vesk::browser
