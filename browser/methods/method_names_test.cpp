// Every method the command line can send is one veskbrowser serves, or one the method
// reference lists as not served yet (those answer "unsupportedMethod"); and every served
// method is documented. The names come from the command line's own request builders, run
// over every command word, so a new command or method cannot slip past.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <variant>

#include <gtest/gtest.h>

#include "browser/methods/all_methods.hpp"
#include "browser/running_browser.hpp"
#include "browser/test_support.hpp"
#include "language/grammar.hpp"
#include "language/requests.hpp"

namespace vesk::browser {
namespace {

using namespace vesk::cli;

template <std::size_t... I>
void add_profile_methods(std::set<std::string>& methods, std::index_sequence<I...>) {
  using Sub = decltype(ProfileCommand::subcommand);
  (methods.insert(profile_request(ProfileCommand{Sub(std::in_place_index<I>)}).method), ...);
}

// The methods the requests of one command word can name.
void add_methods_of(CommandWord word, std::set<std::string>& methods) {
  if (auto method = raw_command_method(word)) methods.insert(*method);
  if (auto method = action_method(word)) methods.insert(*method);
  if (auto method = history_method(word)) methods.insert(*method);
  switch (record_kind_of(word)) {
    case RecordKind::raw: {
      RawBrowserArgs click;
      click.args = {"click", "1", "2"};
      methods.insert(mouse_request(click).method);
      break;
    }
    case RecordKind::action:
    {
      ActionArgs at_point;
      at_point.x = 1;
      at_point.y = 2;
      if (auto click = coordinate_click_request(at_point)) methods.insert(click->method);
      break;
    }
    case RecordKind::nav: {
      NavArgs all;
      all.snap = all.pdf = all.screenshot = all.capture = true;
      methods.insert(navigate_request(all).method);
      for (const auto& follow_up : navigation_follow_ups(all)) methods.insert(follow_up.request.method);
      break;
    }
    case RecordKind::snap:
      methods.insert(snap_request(SnapArgs{}).method);
      methods.insert(snapshot_request().method);
      break;
    case RecordKind::tab:
      for (const char* first : {"list", "new", "close", "resume", "handoff", "handoff-status", "2"}) {
        TabArgs args;
        args.command_or_id = first;
        methods.insert(tab_request(args).method);
      }
      break;
    case RecordKind::profile:
      add_profile_methods(methods, std::make_index_sequence<std::variant_size_v<decltype(ProfileCommand::subcommand)>>());
      break;
    case RecordKind::pdf: methods.insert(pdf_request(PdfArgs{})->method); break;
    case RecordKind::screenshot: methods.insert(screenshot_request(ScreenshotArgs{})->method); break;
    case RecordKind::download: methods.insert(download_request(DownloadArgs{})->method); break;
    case RecordKind::upload: methods.insert(std::string(command_word_text(word))); break;  // sent under its word
    default: break;  // server, instance, health, status: answered by vesk itself
  }
}

std::set<std::string> methods_the_command_line_sends() {
  std::set<std::string> methods;
  for (std::size_t i = 0; i < kCommandWords.size(); ++i) add_methods_of(static_cast<CommandWord>(i), methods);
  return methods;
}

std::string method_reference() {
  return testing::read_file(testing::fixtures_dir().parent_path().parent_path() / "docs" / "browser-methods.md");
}

// The `names` of the reference's "Not served yet" section.
std::set<std::string> listed_as_not_served(const std::string& reference) {
  const auto start = reference.find("## Not served yet");
  const auto end = reference.find("\n## ", start + 1);
  const std::string section = reference.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::set<std::string> names;
  const std::regex quoted("`([a-zA-Z.]+)`");
  for (auto it = std::sregex_iterator(section.begin(), section.end(), quoted); it != std::sregex_iterator(); ++it) {
    names.insert((*it)[1]);
  }
  return names;
}

// Every method veskbrowser serves: the method table and what the running browser serves
// itself.
std::set<std::string> served_methods() {
  std::set<std::string> served;
  for (const auto& [method, handler] : all_methods()) served.insert(method);
  for (std::string_view method : RunningBrowser::kOwnMethods) served.insert(std::string(method));
  return served;
}

TEST(MethodNames, EverySentMethodIsServedOrListedAsNotServedYet) {
  const std::set<std::string> table = served_methods();
  const std::string reference = method_reference();
  ASSERT_NE(reference.find("## Not served yet"), std::string::npos);
  const std::set<std::string> not_served = listed_as_not_served(reference);
  const std::set<std::string> sent = methods_the_command_line_sends();
  ASSERT_TRUE(sent.contains("tab.navigate") && sent.contains("console") && sent.contains("profile.open"));
  for (const std::string& method : sent) {
    EXPECT_TRUE(table.contains(method) || not_served.contains(method))
        << method << " is neither served nor listed under \"Not served yet\"";
  }
  for (const std::string& method : not_served) {
    EXPECT_FALSE(table.contains(method)) << method << " is served but listed under \"Not served yet\"";
  }
}

TEST(MethodNames, EveryServedMethodIsDocumented) {
  const std::string reference = method_reference();
  for (const std::string& method : served_methods()) {
    EXPECT_NE(reference.find("`" + method + "`"), std::string::npos) << method << " is not in docs/browser-methods.md";
  }
}

}  // namespace
}  // namespace vesk::browser
