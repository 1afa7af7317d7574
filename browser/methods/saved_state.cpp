// The "state" method: a session's cookies and local storage as a file, to sign a fresh
// profile in again.
//   state save FILE   the browser's cookies and the local storage of the http(s) origins
//                     open in the tabs: {"cookies": [...], "origins": [{"origin",
//                     "localStorage": [{"name", "value"}]}]} (cookies as in cookie_jar.hpp)
//   state load FILE   stores the cookies, and writes each origin's local storage at once
//                     (tabs of that origin see it; pages that load later find it there)
// FILE is an absolute path. The file is written atomically and user-only: it holds
// session secrets. A file with a bad member is refused whole, naming the member.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"
#include "browser/methods/cookie_jar.hpp"
#include "platform/files.hpp"

namespace vesk::browser {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kUsage = "state save FILE | state load FILE (FILE an absolute path)";
// Far above any real session, small enough to read whole.
constexpr std::uintmax_t kMaxStateFileBytes = 64u * 1024u * 1024u;

std::expected<fs::path, MethodError> file_word(const std::vector<std::string>& words, const std::string& verb) {
  if (words.size() != 2) return invalid_argument("state " + verb + " takes one FILE; accepted: " + std::string(kUsage));
  fs::path path(words[1]);
  if (!path.is_absolute()) {
    return invalid_argument("state " + verb + " needs an absolute path, not \"" + words[1] +
                            "\" (veskbrowser does not run in your directory); accepted: " + std::string(kUsage));
  }
  return path.lexically_normal();
}

// "https://example.com:8443" of an http(s) URL; empty for other schemes.
std::string origin_of(const std::string& url) {
  const auto scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return {};
  const std::string scheme = url.substr(0, scheme_end);
  if (scheme != "http" && scheme != "https") return {};
  const auto host_end = url.find_first_of("/?#", scheme_end + 3);
  return url.substr(0, host_end);
}

// The local storage of each http(s) origin open in a tab, one tab per origin. A tab that
// cannot answer (a dialog blocks it) is reported in `skipped`.
Json open_origins(Browser& browser, Json& skipped) {
  Json origins = Json::array();
  std::set<std::string> seen;
  unwrap(browser.refresh_tabs());
  for (Tab* tab : browser.tabs()) {
    const std::string origin = origin_of(tab->url);
    if (origin.empty() || seen.contains(origin)) continue;
    if (auto attached = browser.attach(*tab); !attached) {
      skipped.push_back({{"tab", tab->id}, {"origin", origin}, {"reason", attached.error().message}});
      continue;
    }
    auto items = evaluate(browser, *tab,
                          "(() => { const items = []; for (let i = 0; i < localStorage.length; i++) { "
                          "const name = localStorage.key(i); items.push({name, value: localStorage.getItem(name)}); } "
                          "return {origin: location.origin, items}; })()");
    if (!items || !items->is_object()) {
      skipped.push_back({{"tab", tab->id}, {"origin", origin},
                         {"reason", items ? "the page answered no storage" : items.error().message}});
      continue;
    }
    // The tab list may be a moment behind a navigation: trust the page's own origin.
    const std::string actual = items->value("origin", origin);
    if (!seen.insert(actual).second) continue;
    seen.insert(origin);
    origins.push_back({{"origin", actual}, {"localStorage", (*items)["items"]}});
  }
  return origins;
}

MethodResult save(Browser& browser, const std::vector<std::string>& words) {
  const fs::path path = unwrap(file_word(words, "save"));
  std::error_code ec;
  if (fs::is_directory(path, ec)) return invalid_argument(path.string() + " is a folder; name the file to write");
  if (!fs::is_directory(path.parent_path(), ec)) {
    return method_error("fileError", "failed to write " + path.string() + ": its folder does not exist");
  }
  Json skipped = Json::array();
  Json state = {{"cookies", unwrap(all_cookies(browser))}, {"origins", open_origins(browser, skipped)}};
  if (auto written = write_file_atomically(path, state.dump(2) + "\n"); !written) {
    return method_error("fileError", written.error().text() + "; choose another path");
  }
  Json origin_names = Json::array();
  for (const Json& origin : state["origins"]) origin_names.push_back(origin["origin"]);
  Json result = {{"path", path.string()}, {"cookies", state["cookies"].size()}, {"origins", origin_names}};
  if (!skipped.empty()) result["skipped"] = skipped;
  return result;
}

struct OriginItems {
  std::string origin;
  Json items;  // [{"name", "value"}]
};

struct LoadPlan {
  Json cookies = Json::array();  // Chromium's cookie parameters
  std::vector<OriginItems> origins;
};

std::expected<LoadPlan, std::string> plan_of(const Json& state) {
  if (!state.is_object()) return std::unexpected("the top level must be an object {\"cookies\": [...], \"origins\": [...]}");
  LoadPlan plan;
  const Json cookies = state.value("cookies", Json::array());
  if (!cookies.is_array()) return std::unexpected("\"cookies\" must be an array");
  for (std::size_t i = 0; i < cookies.size(); ++i) {
    auto param = cookie_param(cookies[i], "cookies[" + std::to_string(i) + "]");
    if (!param) return std::unexpected(param.error());
    plan.cookies.push_back(*param);
  }
  const Json origins = state.value("origins", Json::array());
  if (!origins.is_array()) return std::unexpected("\"origins\" must be an array");
  for (std::size_t i = 0; i < origins.size(); ++i) {
    const std::string where = "origins[" + std::to_string(i) + "]";
    const Json& entry = origins[i];
    if (!entry.is_object() || !entry.contains("origin") || !entry["origin"].is_string()) {
      return std::unexpected(where + " must be an object with a string \"origin\"");
    }
    const std::string origin = entry["origin"].get<std::string>();
    if (origin_of(origin) != origin || origin.empty()) {
      return std::unexpected(where + ".origin must be an http(s) origin such as \"https://example.com\" (found \"" +
                             origin + "\")");
    }
    const Json items = entry.value("localStorage", Json::array());
    if (!items.is_array()) return std::unexpected(where + ".localStorage must be an array of {\"name\", \"value\"}");
    for (std::size_t j = 0; j < items.size(); ++j) {
      const Json& item = items[j];
      if (!item.is_object() || !item.contains("name") || !item["name"].is_string() || !item.contains("value") ||
          !item["value"].is_string()) {
        return std::unexpected(where + ".localStorage[" + std::to_string(j) +
                               "] must be {\"name\": string, \"value\": string}");
      }
    }
    plan.origins.push_back({origin, items});
  }
  return plan;
}

std::expected<LoadPlan, MethodError> read_plan(const fs::path& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) return invalid_argument("cannot read state file " + path.string() + ": " + ec.message());
  if (size > kMaxStateFileBytes) return invalid_argument("state file " + path.string() + " is larger than 64 MiB");
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) return invalid_argument("cannot read state file " + path.string());
  Json state = Json::parse(text.str(), nullptr, false);
  if (state.is_discarded()) return invalid_argument("state file " + path.string() + " is not valid JSON");
  auto plan = plan_of(state);
  if (!plan) return invalid_argument("state file " + path.string() + ": " + plan.error() + "; nothing was applied");
  return std::move(*plan);
}

// Writes each origin's local storage from a background tab of our own. Its requests never
// reach the network: the tab's first request to the origin is answered with an empty page,
// which gives a document of that origin to write in. Other tabs of the origin share the
// storage, so they see the items at once.
class StorageWriter {
 public:
  explicit StorageWriter(Browser& browser) : browser_(browser) {}
  ~StorageWriter() {
    if (tab_.target_id.empty()) return;
    browser_.call_browser("Target.closeTarget", {{"targetId", tab_.target_id}});
    // Chromium may list a closed target for a moment; wait until it is gone, so that the
    // next method does not take it for a tab of the user's.
    const Deadline deadline = deadline_in(2s);
    while (Clock::now() < deadline && listed()) std::this_thread::sleep_for(20ms);
  }
  StorageWriter(const StorageWriter&) = delete;
  StorageWriter& operator=(const StorageWriter&) = delete;

  std::expected<void, MethodError> write(const OriginItems& origin) {
    if (tab_.target_id.empty()) unwrap(open());
    auto paused = browser_.client().subscribe([session = tab_.session_id](const CdpEvent& event) {
      return event.session_id == session && event.method == "Fetch.requestPaused";
    });
    unwrap(evaluate(browser_, tab_, "location.href = " + js_string(origin.origin + "/") + "; true"));
    // Answer the page's request, and wait until the document of the origin is there (it
    // commits a moment after its response; a service worker may answer it instead of us).
    const Deadline deadline = deadline_in(10s);
    for (;;) {
      if (auto request = paused->wait_for([](const CdpEvent&) { return true; }, std::min(deadline, deadline_in(50ms)))) {
        unwrap(fulfill(*request, origin.origin));
      }
      auto current = evaluate(browser_, tab_, "location.origin");
      if (current && *current == origin.origin) break;
      if (Clock::now() >= deadline) return method_error("timeout", "the page for " + origin.origin + " did not open in time");
    }
    const std::string script =
        "(() => { for (const {name, value} of " + origin.items.dump() +
        ") localStorage.setItem(name, value); return localStorage.length; })()";
    unwrap(evaluate(browser_, tab_, script));
    return {};
  }

 private:
  std::expected<void, MethodError> open() {
    auto created = browser_.call_browser("Target.createTarget", {{"url", "about:blank"}, {"background", true}});
    if (!created) return std::unexpected(from_cdp(created.error(), "failed to open a tab to write local storage"));
    tab_.id = "storage-writer";
    tab_.target_id = created->value("targetId", "");
    auto attached = browser_.call_browser("Target.attachToTarget", {{"targetId", tab_.target_id}, {"flatten", true}});
    if (!attached) return std::unexpected(from_cdp(attached.error(), "failed to attach to the storage tab"));
    tab_.session_id = attached->value("sessionId", "");
    auto intercepted = browser_.call(tab_, "Fetch.enable",
                                     {{"patterns", Json::array({{{"urlPattern", "*"}, {"requestStage", "Request"}}})}});
    if (!intercepted) return std::unexpected(from_cdp(intercepted.error(), "failed to prepare the storage tab"));
    // A service worker of the origin would answer the page itself, unseen by Fetch. Best
    // effort: the page of the origin is then still written in, by its worker's answer.
    browser_.call(tab_, "Network.setBypassServiceWorker", {{"bypass", true}});
    return {};
  }

  bool listed() {
    auto targets = browser_.call_browser("Target.getTargets", Json::object());
    if (!targets) return false;
    for (const Json& info : targets->value("targetInfos", Json::array())) {
      if (info.value("targetId", "") == tab_.target_id) return true;
    }
    return false;
  }

  std::expected<void, MethodError> fulfill(const CdpEvent& request, const std::string& origin) {
    auto answered = browser_.call(tab_, "Fetch.fulfillRequest",
                                  {{"requestId", request.params.value("requestId", "")},
                                   {"responseCode", 200},
                                   {"responseHeaders", Json::array({{{"name", "Content-Type"}, {"value", "text/html"}}})}});
    if (!answered) return std::unexpected(from_cdp(answered.error(), "failed to open " + origin));
    return {};
  }

  Browser& browser_;
  Tab tab_;
};

MethodResult load(Browser& browser, const std::vector<std::string>& words) {
  const fs::path path = unwrap(file_word(words, "load"));
  const LoadPlan plan = unwrap(read_plan(path));
  const Json refused = unwrap(store_cookies(browser, plan.cookies));
  Json origin_names = Json::array();
  StorageWriter writer(browser);
  for (const auto& origin : plan.origins) {
    if (origin.items.empty()) continue;
    unwrap(writer.write(origin));
    origin_names.push_back(origin.origin);
  }
  Json result = {{"path", path.string()}, {"cookies", plan.cookies.size() - refused.size()}, {"origins", origin_names}};
  if (!refused.empty()) result["refused"] = refused;
  return result;
}

MethodResult saved_state(Browser& browser, const Json& params) {
  const auto words = words_of(params);
  const std::string verb = words.empty() ? "" : words[0];
  if (verb == "save") return save(browser, words);
  if (verb == "load") return load(browser, words);
  return invalid_argument((verb.empty() ? std::string("state needs a command") : "unknown state command \"" + verb + "\"") +
                          "; accepted: " + std::string(kUsage));
}

}  // namespace

void add_saved_state_methods(MethodTable& table) { table["state"] = saved_state; }

}  // namespace vesk::browser
