// The "cookies" method: the browser's cookies, HttpOnly ones included.
//   cookies [list] [--domain D] [--url U]
//   cookies get NAME [--domain D] [--url U]
//   cookies set NAME VALUE [--url U] [--domain D] [--path P] [--expires TIME] [--http-only]
//               [--secure] [--same-site Strict|Lax|None]
//   cookies delete NAME [--domain D] [--url U] [--path P]
//   cookies clear [--domain D]
// Cookies are shown in the saved-state form (cookie_jar.hpp).
#include <chrono>

#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"
#include "browser/methods/cookie_jar.hpp"
#include "browser/methods/word_options.hpp"

namespace vesk::browser {

namespace {

constexpr std::string_view kUsage =
    "cookies [list] [--domain D] [--url U] | cookies get NAME | cookies set NAME VALUE [--url U] [--domain D] "
    "[--path P] [--expires SECONDS|YYYY-MM-DD[THH:MM[:SS]][Z]] [--http-only] [--secure] [--same-site "
    "Strict|Lax|None] | cookies delete NAME [--domain D] | cookies clear [--domain D]";

const KnownOptions kFilterOptions{{"--domain", "--url", "--path"}, {}};
const KnownOptions kSetOptions{{"--url", "--domain", "--path", "--expires", "--same-site"}, {"--http-only", "--secure"}};

// The options after the verb (words[0]); `positionals` values must remain.
std::expected<OptionWords, MethodError> options_of(const std::vector<std::string>& words, const KnownOptions& known,
                                                   std::size_t positionals) {
  const bool verb_given = !words.empty() && !words[0].starts_with("--");
  auto read = read_option_words(words, verb_given ? 1 : 0, known, kUsage);
  if (read && read->positionals.size() != positionals) {
    return invalid_argument("cookies " + (verb_given ? words[0] : std::string("list")) + " takes " + std::to_string(positionals) +
                            " value(s), got " + std::to_string(read->positionals.size()) +
                            " (quote a value with spaces); accepted: " + std::string(kUsage));
  }
  return read;
}

bool is_http_url(const std::string& url) { return url.starts_with("http://") || url.starts_with("https://"); }

// The cookies that --domain, --url and --path keep. --url asks Chromium which cookies it
// would send to that URL.
std::expected<Json, MethodError> matching_cookies(Browser& browser, Tab& tab, const OptionWords& options) {
  Json cookies;
  if (auto url = options.value("--url")) {
    if (!is_http_url(*url)) return invalid_argument("--url must be an http:// or https:// URL, not \"" + *url + "\"");
    auto reply = browser.call(tab, "Network.getCookies", {{"urls", Json::array({*url})}});
    if (!reply) return std::unexpected(from_cdp(reply.error(), "failed to read the cookies of " + *url));
    cookies = Json::array();
    for (const Json& cookie : reply->value("cookies", Json::array())) cookies.push_back(saved_cookie(cookie));
  } else {
    cookies = unwrap(all_cookies(browser));
  }
  Json kept = Json::array();
  for (const Json& cookie : cookies) {
    if (auto domain = options.value("--domain"); domain && !cookie_in_domain(cookie, *domain)) continue;
    if (auto path = options.value("--path"); path && cookie.value("path", "") != *path) continue;
    kept.push_back(cookie);
  }
  return kept;
}

Json named(const Json& cookies, const std::string& name) {
  Json kept = Json::array();
  for (const Json& cookie : cookies) {
    if (cookie.value("name", "") == name) kept.push_back(cookie);
  }
  return kept;
}

MethodResult list_cookies(Browser& browser, Tab& tab, const std::vector<std::string>& words) {
  auto options = unwrap(options_of(words, kFilterOptions, 0));
  Json cookies = unwrap(matching_cookies(browser, tab, options));
  return Json{{"cookies", cookies}, {"count", cookies.size()}};
}

MethodResult get_cookie(Browser& browser, Tab& tab, const std::vector<std::string>& words) {
  auto options = unwrap(options_of(words, kFilterOptions, 1));
  const std::string& name = options.positionals[0];
  Json matches = named(unwrap(matching_cookies(browser, tab, options)), name);
  Json result = {{"name", name}, {"found", !matches.empty()}, {"matches", matches.size()},
                 {"cookie", matches.empty() ? Json() : matches[0]}};
  if (matches.size() > 1) result["note"] = "several cookies have this name; narrow with --domain or --url";
  return result;
}

MethodResult set_cookie(Browser& browser, Tab& tab, const std::vector<std::string>& words) {
  auto options = unwrap(options_of(words, kSetOptions, 2));
  Json cookie = {{"name", options.positionals[0]}, {"value", options.positionals[1]},
                 {"httpOnly", options.flag("--http-only")}, {"secure", options.flag("--secure")}};
  auto url = options.value("--url");
  auto domain = options.value("--domain");
  if (!url && !domain) {
    // The current page's URL, read now: the tab list may be a moment behind a navigation.
    Json href = unwrap(evaluate(browser, tab, "location.href"));
    url = href.is_string() ? href.get<std::string>() : std::string();
    if (!is_http_url(*url)) {
      return invalid_argument("the page (" + *url + ") has no http(s) URL to set a cookie for; pass --url U or --domain D");
    }
  }
  if (url) cookie["url"] = *url;
  if (domain) cookie["domain"] = *domain;
  if (auto path = options.value("--path")) cookie["path"] = *path;
  if (auto same_site = options.value("--same-site")) cookie["sameSite"] = *same_site;
  if (auto expires = options.value("--expires")) {
    auto seconds = parse_cookie_expiry(*expires);
    if (!seconds) {
      return invalid_argument("--expires " + *expires + " is neither seconds since the epoch nor a date like "
                              "2027-01-31 or 2027-01-31T12:00:00Z");
    }
    const auto now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (*seconds <= now) {
      return invalid_argument("--expires " + *expires + " is in the past; to remove a cookie use `cookies delete NAME`");
    }
    cookie["expires"] = *seconds;
  }
  auto param = cookie_param(cookie, "the cookie");
  if (!param) return invalid_argument(param.error() + "; accepted: " + std::string(kUsage));
  const Json refused = unwrap(store_cookies(browser, Json::array({*param})));
  if (!refused.empty()) {
    return method_error("actionFailed", "Chromium did not keep cookie " + options.positionals[0] + ": " +
                                            refused[0].value("reason", "") + "; accepted: " + std::string(kUsage));
  }
  // Read it back for the answer (not through --url: a cookie whose path lies below the
  // URL's is never sent to it).
  OptionWords stored_filter;
  if (domain) stored_filter.values["--domain"] = *domain;
  stored_filter.values["--path"] = param->value("path", "/");
  Json stored = named(unwrap(matching_cookies(browser, tab, stored_filter)), options.positionals[0]);
  for (const Json& candidate : stored) {
    if (candidate.value("value", "") != options.positionals[1]) continue;
    Json result = {{"cookie", candidate}, {"set", true}};
    // Chromium shortens lifetimes beyond 400 days without a word; say so.
    if (param->contains("expires") && candidate.value("expires", 0.0) + 1 < (*param)["expires"].get<double>()) {
      result["note"] = "Chromium keeps a cookie at most 400 days; its expiry was shortened";
    }
    return result;
  }
  return method_error("actionFailed", "Chromium did not keep cookie " + options.positionals[0] +
                                          " (a --domain must contain the URL's host)");
}

// Deletes each cookie exactly (its own domain and path), so that a filter never removes
// more than it listed.
std::expected<std::size_t, MethodError> delete_each(Browser& browser, Tab& tab, const Json& cookies) {
  for (const Json& cookie : cookies) {
    auto deleted = browser.call(tab, "Network.deleteCookies",
                                {{"name", cookie.value("name", "")},
                                 {"domain", cookie.value("domain", "")},
                                 {"path", cookie.value("path", "/")}});
    if (!deleted) return std::unexpected(from_cdp(deleted.error(), "failed to delete cookie " + cookie.value("name", "")));
  }
  return cookies.size();
}

MethodResult delete_cookie(Browser& browser, Tab& tab, const std::vector<std::string>& words) {
  auto options = unwrap(options_of(words, kFilterOptions, 1));
  Json matches = named(unwrap(matching_cookies(browser, tab, options)), options.positionals[0]);
  const std::size_t deleted = unwrap(delete_each(browser, tab, matches));
  return Json{{"name", options.positionals[0]}, {"deleted", deleted}};
}

MethodResult clear_cookies(Browser& browser, Tab& tab, const std::vector<std::string>& words) {
  auto options = unwrap(options_of(words, KnownOptions{{"--domain"}, {}}, 0));
  Json matches = unwrap(matching_cookies(browser, tab, options));
  if (!options.value("--domain")) {
    auto cleared = browser.call_browser("Storage.clearCookies", Json::object());
    if (!cleared) return std::unexpected(from_cdp(cleared.error(), "failed to clear the cookies"));
    return Json{{"cleared", matches.size()}};
  }
  return Json{{"cleared", unwrap(delete_each(browser, tab, matches))}, {"domain", *options.value("--domain")}};
}

MethodResult cookies(Browser& browser, Tab& tab, const Json& params) {
  const auto words = words_of(params);
  const std::string verb = words.empty() || words[0].starts_with("--") ? "list" : words[0];
  if (verb == "list") return list_cookies(browser, tab, words);
  if (verb == "get") return get_cookie(browser, tab, words);
  if (verb == "set") return set_cookie(browser, tab, words);
  if (verb == "delete") return delete_cookie(browser, tab, words);
  if (verb == "clear") return clear_cookies(browser, tab, words);
  return invalid_argument("unknown cookies command \"" + verb + "\"; accepted: " + std::string(kUsage));
}

}  // namespace

void add_cookie_methods(MethodTable& table) { table["cookies"] = tab_method(cookies); }

}  // namespace vesk::browser
