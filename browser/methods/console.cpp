// "console": the tab's console messages, collected since the tab was attached.
//   vesk console [list] [--level error|warning|info|debug] [--last N] [--grep TEXT] [--clear]
// --level keeps that level and the ones above it; --grep keeps messages whose text
// contains TEXT (ignoring case); --last keeps the newest N of what is left; --clear empties
// the tab's log after reading it.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "browser/core/method_table.hpp"
#include "browser/trackers/console.hpp"

namespace vesk::browser {

namespace {

constexpr const char* kUsage =
    "console takes `--level error|warning|info|debug`, `--last N`, `--grep TEXT` and `--clear`";

struct ConsoleQuery {
  int min_rank = 0;
  std::optional<std::size_t> last;
  std::string grep;
  bool clear = false;
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::expected<ConsoleQuery, MethodError> parse_query(const std::vector<std::string>& words) {
  ConsoleQuery query;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool has_value = i + 1 < words.size();
    if (word == "list" && i == 0) continue;
    if (word == "--clear") {
      query.clear = true;
    } else if (word == "--level" && has_value) {
      std::string level = words[++i] == "warn" ? "warning" : words[i];
      query.min_rank = console_level_rank(level);
      if (query.min_rank < 0) return invalid_argument("unknown level \"" + words[i] + "\"; " + kUsage);
    } else if (word == "--last" && has_value) {
      auto count = parse_number(words[++i]);
      if (!count || *count < 1 || *count > 1e9 || *count != std::trunc(*count)) {
        return invalid_argument("--last needs a whole number of messages above 0, not \"" + words[i] + "\"; " + kUsage);
      }
      query.last = static_cast<std::size_t>(*count);
    } else if (word == "--grep" && has_value) {
      query.grep = lower(words[++i]);
    } else {
      return invalid_argument((has_value || !word.starts_with("--") ? "unexpected \"" + word + "\""
                                                                    : word + " needs a value") +
                              "; " + kUsage);
    }
  }
  return query;
}

Json message_json(const ConsoleMessage& message) {
  Json out = {{"level", message.level},
              {"type", message.type},
              {"text", message.text},
              {"time", console_time_text(message.time_ms)}};
  if (!message.url.empty()) out["url"] = message.url;
  if (message.line > 0) out["line"] = message.line;
  if (message.column > 0) out["column"] = message.column;
  return out;
}

MethodResult console(Browser&, Tab& tab, const Json& params) {
  const ConsoleQuery query = unwrap(parse_query(words_of(params)));
  auto* tracker = tab.tracker<ConsoleTracker>();
  if (tracker == nullptr) return method_error("actionFailed", "tab " + tab.id + " keeps no console log");
  ConsoleTracker::Contents contents = tracker->read(query.clear);
  std::vector<const ConsoleMessage*> kept;
  for (const auto& message : contents.entries) {
    if (console_level_rank(message.level) < query.min_rank) continue;
    if (!query.grep.empty() && lower(message.text).find(query.grep) == std::string::npos) continue;
    kept.push_back(&message);
  }
  if (query.last && kept.size() > *query.last) kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(*query.last));
  Json messages = Json::array();
  for (const ConsoleMessage* message : kept) messages.push_back(message_json(*message));
  return Json{{"tab", tab.id},
              {"messages", std::move(messages)},
              {"count", kept.size()},
              {"total", contents.entries.size()},
              {"dropped", contents.dropped},
              {"cleared", query.clear}};
}

}  // namespace

// Reading the log needs nothing of the page, so it works while a dialog is open.
void add_console_methods(MethodTable& table) { table["console"] = tab_method(console, WhenDialogOpen::Serve); }

}  // namespace vesk::browser
