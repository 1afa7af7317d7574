// Requests of navigation, snapshots, tabs, profiles and the file commands.
#include <array>
#include <type_traits>

#include "language/requests.hpp"

namespace vesk::cli {

BrowserRequest navigate_request(const NavArgs& args) {
  return {"tab.navigate", Json{{"url", args.url},
                               {"newTab", args.new_tab},
                               {"tab", text_or_null(args.tab)},
                               {"options",
                                {{"snap", args.snap},
                                 {"snapDiff", args.snap_diff},
                                 {"text", args.text},
                                 {"blockImages", args.block_images},
                                 {"blockAds", args.block_ads},
                                 {"dismissBanners", args.dismiss_banners},
                                 {"printTabId", args.print_tab_id},
                                 {"pdf", args.pdf},
                                 {"screenshot", args.screenshot},
                                 {"capture", args.capture}}}}};
}

std::vector<NavigationFollowUp> navigation_follow_ups(const NavArgs& args) {
  struct Kind {
    bool NavArgs::*wanted;
    const char* log_message;
    const char* method;
  };
  static constexpr std::array<Kind, 4> kKinds = {{
      {&NavArgs::snap, "navigation complete; requesting snapshot", "page.snapshot"},
      {&NavArgs::pdf, "navigation complete; requesting PDF", "page.pdf"},
      {&NavArgs::screenshot, "navigation complete; requesting screenshot", "page.screenshot"},
      {&NavArgs::capture, "navigation complete; requesting capture", "page.capture"},
  }};
  std::vector<NavigationFollowUp> follow_ups;
  for (const Kind& kind : kKinds) {
    if (args.*kind.wanted) follow_ups.push_back({kind.log_message, {kind.method, Json::object()}});
  }
  return follow_ups;
}

BrowserRequest snap_request(const SnapArgs& args) {
  return {"page.snapshot",
          Json{{"selector", text_or_null(args.selector)},
               {"tab", text_or_null(args.tab)},
               {"options",
                {{"full", args.full},
                 {"diff", args.diff},
                 {"interactive", args.interactive},
                 {"compact", args.compact},
                 {"maxTokens", args.max_tokens ? Json(std::uint64_t{*args.max_tokens}) : Json(nullptr)}}},
               {"sourceCommand", "page.snapshot"}}};
}

BrowserRequest snapshot_request() { return {"page.snapshot", Json::object()}; }

Json snapshot_params(const std::optional<std::string>& tab, bool diff, const std::string& source) {
  return Json{{"tab", text_or_null(tab)}, {"options", {{"diff", diff}}}, {"sourceCommand", source}};
}

namespace {

// The first word picks the operation; any other word is a tab to focus.
std::string tab_method(const std::optional<std::string>& first_word) {
  if (!first_word || *first_word == "list") return "tab.list";
  const std::string& word = *first_word;
  if (word == "new" || word == "open") return "tab.open";
  if (word == "close") return "tab.close";
  if (word == "resume") return "tab.resume";
  if (word == "handoff") return "tab.handoff";
  if (word == "handoff-status") return "tab.handoffStatus";
  return "tab.focus";
}

}  // namespace

BrowserRequest tab_request(const TabArgs& args) {
  const std::string method = tab_method(args.command_or_id);
  Json words = Json::array();
  if (args.command_or_id) words.push_back(*args.command_or_id);
  if (args.tab_id) words.push_back(*args.tab_id);
  const Json tab = method == "tab.focus" ? Json(*args.command_or_id) : text_or_null(args.tab_id);
  return {method, Json{{"args", std::move(words)}, {"tab", tab}, {"sourceCommand", method}}};
}

BrowserRequest profile_request(const ProfileCommand& command) {
  return std::visit(
      [](const auto& sub) -> BrowserRequest {
        using Sub = std::decay_t<decltype(sub)>;
        if constexpr (std::is_same_v<Sub, ProfileList>) {
          return {"profile.list", Json::object()};
        } else if constexpr (std::is_same_v<Sub, ProfileCreate>) {
          return {"profile.create", Json{{"name", sub.name}}};
        } else if constexpr (std::is_same_v<Sub, ProfileOpen>) {
          return {"profile.open", Json{{"id", sub.id}}};
        } else {
          return {"profile.delete", Json{{"id", sub.id}}};
        }
      },
      command.subcommand);
}

Result<BrowserRequest> pdf_request(const PdfArgs& args) {
  auto output = path_text_or_null(args.output);
  if (!output) return fail(std::move(output.error()));
  return BrowserRequest{"page.pdf", Json{{"output", std::move(*output)},
                                         {"options", {{"landscape", args.landscape}}},
                                         {"sourceCommand", "page.pdf"}}};
}

Result<BrowserRequest> screenshot_request(const ScreenshotArgs& args) {
  auto output = path_text_or_null(args.output);
  if (!output) return fail(std::move(output.error()));
  return BrowserRequest{"page.screenshot", Json{{"output", std::move(*output)},
                                                {"options", {{"full", args.full}}},
                                                {"sourceCommand", "page.screenshot"}}};
}

Result<BrowserRequest> download_request(const DownloadArgs& args) {
  auto output = path_text_or_null(args.output);
  if (!output) return fail(std::move(output.error()));
  auto dir = path_text_or_null(args.dir);
  if (!dir) return fail(std::move(dir.error()));
  return BrowserRequest{"download", Json{{"url", args.url},
                                         {"target", args.url},
                                         {"output", std::move(*output)},
                                         {"dir", std::move(*dir)},
                                         {"tab", text_or_null(args.tab)},
                                         {"options", {{"overwrite", args.overwrite}, {"wait", args.wait}}},
                                         {"sourceCommand", "download"}}};
}

}  // namespace vesk::cli
