// Element actions, queries, input and dialogs against a real Chromium on the form fixture.
#include <gtest/gtest.h>

#include "browser/test_support.hpp"

namespace vesk::browser {
namespace {

using testing::TempDir;
using testing::fixture_url;

class FormPage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!find_chromium_binary()) GTEST_SKIP() << "no Chromium installed";
    running_ = testing::start_test_browser(dir_);
    ASSERT_NE(running_, nullptr);
    auto loaded = call("tab.navigate", {{"url", fixture_url("form.html")}, {"options", Json::object()}});
    ASSERT_TRUE(loaded.has_value()) << loaded.error().message;
  }

  MethodResult call(const std::string& method, Json params) { return running_->serve(method, params); }
  // An element action as the command line sends it.
  MethodResult act(const std::string& method, const std::string& selector, std::vector<std::string> args = {},
                   Json options = Json::object()) {
    return call(method, {{"selector", selector}, {"args", args}, {"tab", nullptr}, {"options", options}});
  }
  // A raw command: every word in "args".
  MethodResult raw(const std::string& method, std::vector<std::string> args) {
    return call(method, {{"args", args}, {"tab", nullptr}, {"sourceCommand", method}});
  }
  Json result_text() { return (*raw("page.eval", {"document.getElementById('result').textContent"}))["value"]; }
  std::string ref_of(const std::string& role, const std::string& name) {
    auto snap = call("page.snapshot", {{"options", {{"interactive", true}}}});
    EXPECT_TRUE(snap.has_value());
    for (const auto& node : (*snap)["snapshot"]["nodes"]) {
      if (node["role"] == role && node["name"] == name) return node["id"];
    }
    ADD_FAILURE() << "no " << role << " named " << name << " in " << snap->dump();
    return "";
  }

  TempDir dir_;
  std::unique_ptr<RunningBrowser> running_;
};

TEST_F(FormPage, FillAndClickByRefSubmitTheForm) {
  const std::string name = ref_of("textbox", "Name");
  auto filled = act("element.fill", name, {"Ada", "Lovelace"});
  ASSERT_TRUE(filled.has_value()) << filled.error().message;
  EXPECT_EQ((*filled)["value"], "Ada Lovelace");
  // Filling again replaces the text rather than appending to it.
  ASSERT_TRUE(act("element.fill", name, {"Ada"}));
  auto clicked = act("element.click", ref_of("button", "Save"));
  ASSERT_TRUE(clicked.has_value()) << clicked.error().message;
  EXPECT_EQ(result_text(), "Hello, Ada!");
  EXPECT_EQ((*raw("element.value", {"#name"}))["value"], "Ada");
}

TEST_F(FormPage, SelectCheckAndQueries) {
  auto selected = act("element.select", "#plan", {"Pro"});
  ASSERT_TRUE(selected.has_value()) << selected.error().message;
  EXPECT_EQ((*raw("element.value", {"#plan"}))["value"], "pro");
  auto missing_option = act("element.select", "#plan", {"Gold"});
  ASSERT_FALSE(missing_option.has_value());
  EXPECT_EQ(missing_option.error().code, "elementNotFound");
  EXPECT_NE(missing_option.error().message.find("free"), std::string::npos);

  ASSERT_TRUE(raw("element.check", {"#terms"}));
  EXPECT_EQ((*raw("element.checked", {"#terms"}))["checked"], true);
  ASSERT_TRUE(raw("element.check", {"#terms"})) << "checking a checked box keeps it checked";
  EXPECT_EQ((*raw("element.checked", {"#terms"}))["checked"], true);
  ASSERT_TRUE(raw("element.uncheck", {"#terms"}));
  EXPECT_EQ((*raw("element.checked", {"#terms"}))["checked"], false);

  EXPECT_EQ((*raw("element.count", {"input"}))["count"], 4);
  EXPECT_EQ((*raw("element.attr", {"#name", "placeholder"}))["value"], "Your name");
  EXPECT_EQ((*raw("element.visible", {"#save"}))["visible"], true);
  EXPECT_EQ((*raw("element.enabled", {"#save"}))["enabled"], true);
  auto box = raw("element.box", {"#hover-target"});
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ((*box)["box"]["width"], 100);

  ASSERT_TRUE(raw("element.hover", {"#hover-target"}));
  EXPECT_EQ((*raw("element.value", {"#hover-target"}))["value"], "hovered");
}

TEST_F(FormPage, MissingStaleAndInvalidTargetsSayWhatToDo) {
  struct Case {
    std::string method;
    std::vector<std::string> args;
    std::string code;
  };
  const std::string email = ref_of("textbox", "Email");
  ASSERT_TRUE(raw("element.click", {"#remove-button"}));
  const Case cases[] = {
      {"element.click", {"#does-not-exist"}, "elementNotFound"},
      {"element.click", {"e9999"}, "elementNotFound"},
      {"element.fill", {email, "x"}, "staleRef"},
      {"element.click", {"##bad"}, "invalidArgument"},
      {"element.click", {}, "invalidArgument"},
      {"element.fill", {"#save", "x"}, "invalidArgument"},
      {"element.check", {"#name"}, "invalidArgument"},
      {"keyboard.press", {"Hyper+x"}, "invalidArgument"},
      {"mouse", {"fly"}, "invalidArgument"},
  };
  for (const auto& c : cases) {
    auto result = raw(c.method, c.args);
    ASSERT_FALSE(result.has_value()) << c.method << " " << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.error().code, c.code) << c.method << ": " << result.error().message;
    EXPECT_FALSE(result.error().message.empty());
  }
}

TEST_F(FormPage, DialogsNeverHangAndFollowTheDialogAction) {
  // No dialog action: reported, left open, and the page says it is blocked.
  auto alerted = act("element.click", "#alert-button");
  ASSERT_TRUE(alerted.has_value()) << alerted.error().message;
  EXPECT_EQ((*alerted)["dialog"]["type"], "alert");
  EXPECT_EQ((*alerted)["dialog"]["message"], "Careful!");
  EXPECT_EQ((*alerted)["dialog"]["handled"], false);
  auto blocked = raw("page.title", {});
  ASSERT_FALSE(blocked.has_value());
  EXPECT_EQ(blocked.error().code, "dialogOpen");
  auto accepted = raw("dialog", {"accept"});
  ASSERT_TRUE(accepted.has_value()) << accepted.error().message;
  EXPECT_EQ(result_text(), "after alert");
  EXPECT_EQ(raw("dialog", {"accept"}).error().code, "noDialog");

  struct Case {
    std::string button;
    Json options;
    std::string expected;
  };
  const Case cases[] = {
      {"#confirm-button", {{"dialogAction", "dismiss"}}, "cancelled"},
      {"#confirm-button", {{"dialogAction", "accept"}}, "confirmed"},
      {"#prompt-button", {{"dialogAction", "accept"}, {"dialogText", "Bo"}}, "prompted Bo"},
      {"#prompt-button", {{"dialogAction", "dismiss"}}, "prompted null"},
  };
  for (const auto& c : cases) {
    auto clicked = act("element.click", c.button, {}, c.options);
    ASSERT_TRUE(clicked.has_value()) << clicked.error().message;
    EXPECT_NE((*clicked)["dialog"]["handled"], false) << clicked->dump();
    EXPECT_EQ(result_text(), c.expected) << c.options.dump();
  }
}

TEST_F(FormPage, KeyboardMouseAndWaitNav) {
  ASSERT_TRUE(raw("element.focus", {"#name"}));
  ASSERT_TRUE(raw("keyboard", {"type", "Hello"}));
  ASSERT_TRUE(raw("keyboard.press", {"Control+a", "Backspace"}));
  ASSERT_TRUE(raw("element.type", {"#name", "Zed"}));
  EXPECT_EQ((*raw("element.value", {"#name"}))["value"], "Zed");

  auto box = (*raw("element.box", {"#save"}))["box"];
  const double x = box["x"].get<double>() + box["width"].get<double>() / 2;
  const double y = box["y"].get<double>() + box["height"].get<double>() / 2;
  auto clicked = call("mouse.click", {{"x", x}, {"y", y}, {"tab", nullptr}, {"options", Json::object()}});
  ASSERT_TRUE(clicked.has_value()) << clicked.error().message;
  EXPECT_EQ(result_text(), "Hello, Zed!");

  auto followed = act("element.click", "#next-link", {}, {{"waitNav", true}});
  ASSERT_TRUE(followed.has_value()) << followed.error().message;
  EXPECT_EQ((*followed)["navigated"], true);
  EXPECT_EQ((*followed)["url"], fixture_url("form.html") + "#section2");
}

}  // namespace
}  // namespace vesk::browser
