#include "browser/methods/cookie_jar.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "browser/core/params.hpp"

namespace vesk::browser {

namespace {

bool is_same_site(const std::string& text) { return text == "Strict" || text == "Lax" || text == "None"; }

}  // namespace

Json saved_cookie(const Json& chromium_cookie) {
  const bool session = chromium_cookie.value("session", false);
  Json expires = session ? Json(-1) : chromium_cookie.value("expires", Json(-1));
  std::string same_site = chromium_cookie.value("sameSite", "Lax");
  if (!is_same_site(same_site)) same_site = "Lax";
  return Json{{"name", chromium_cookie.value("name", "")},
              {"value", chromium_cookie.value("value", "")},
              {"domain", chromium_cookie.value("domain", "")},
              {"path", chromium_cookie.value("path", "/")},
              {"expires", expires},
              {"httpOnly", chromium_cookie.value("httpOnly", false)},
              {"secure", chromium_cookie.value("secure", false)},
              {"sameSite", same_site}};
}

std::expected<Json, MethodError> all_cookies(Browser& browser) {
  auto reply = browser.call_browser("Storage.getCookies", Json::object());
  if (!reply) return std::unexpected(from_cdp(reply.error(), "failed to read the browser's cookies"));
  Json cookies = Json::array();
  for (const Json& cookie : reply->value("cookies", Json::array())) cookies.push_back(saved_cookie(cookie));
  return cookies;
}

std::expected<Json, std::string> cookie_param(const Json& cookie, const std::string& where) {
  if (!cookie.is_object()) return std::unexpected(where + " must be an object {\"name\", \"value\", \"domain\", ...}");
  const auto text_member = [&](const char* key, bool required) -> std::expected<std::optional<std::string>, std::string> {
    auto it = cookie.find(key);
    if (it == cookie.end() || it->is_null()) {
      if (required) return std::unexpected(where + " has no \"" + key + "\" (a string)");
      return std::optional<std::string>();
    }
    if (!it->is_string()) return std::unexpected(where + "." + key + " must be a string");
    return std::optional<std::string>(it->get<std::string>());
  };
  Json param = Json::object();
  for (const char* key : {"name", "value"}) {
    auto text = text_member(key, true);
    if (!text) return std::unexpected(text.error());
    param[key] = **text;
  }
  if (param["name"].get<std::string>().empty()) return std::unexpected(where + ".name must not be empty");
  auto url = text_member("url", false);
  auto domain = text_member("domain", false);
  auto path = text_member("path", false);
  if (!url) return std::unexpected(url.error());
  if (!domain) return std::unexpected(domain.error());
  if (!path) return std::unexpected(path.error());
  if (*url) {
    if (!(*url)->starts_with("http://") && !(*url)->starts_with("https://")) {
      return std::unexpected(where + ".url must be an http:// or https:// URL");
    }
    param["url"] = **url;
  } else if (!*domain || (*domain)->empty()) {
    return std::unexpected(where + " needs a \"domain\" (or a \"url\")");
  }
  if (*domain) param["domain"] = **domain;
  param["path"] = path->value_or("/");
  if (auto it = cookie.find("expires"); it != cookie.end() && !it->is_null()) {
    if (!it->is_number()) return std::unexpected(where + ".expires must be seconds since the epoch, or -1 for a session cookie");
    // Any negative time marks a session cookie; Chromium takes those without an expiry.
    if (it->get<double>() >= 0) param["expires"] = it->get<double>();
  }
  for (const char* key : {"httpOnly", "secure"}) {
    auto it = cookie.find(key);
    if (it == cookie.end() || it->is_null()) continue;
    if (!it->is_boolean()) return std::unexpected(where + "." + key + " must be true or false");
    param[key] = it->get<bool>();
  }
  if (auto it = cookie.find("sameSite"); it != cookie.end() && !it->is_null()) {
    if (!it->is_string() || !is_same_site(it->get<std::string>())) {
      return std::unexpected(where + ".sameSite must be \"Strict\", \"Lax\" or \"None\" (found " + it->dump() + ")");
    }
    param["sameSite"] = it->get<std::string>();
  }
  return param;
}

namespace {

std::string host_of(const std::string& url) {
  const auto start = url.find("://");
  if (start == std::string::npos) return {};
  const auto end = url.find_first_of(":/?#", start + 3);
  return url.substr(start + 3, end == std::string::npos ? std::string::npos : end - start - 3);
}

bool kept(const Json& param, const Json& stored_cookies) {
  const std::string domain = param.contains("domain") ? param["domain"].get<std::string>() : host_of(param.value("url", ""));
  for (const Json& cookie : stored_cookies) {
    if (cookie.value("name", "") == param.value("name", "") && cookie.value("value", "") == param.value("value", "") &&
        cookie.value("path", "") == param.value("path", "/") && cookie_in_domain(cookie, domain)) {
      return true;
    }
  }
  return false;
}

std::string refusal_reason(const Json& param) {
  const auto now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  if (param.contains("expires") && param["expires"].get<double>() <= now) return "it has expired";
  if (param.value("sameSite", "") == "None" && !param.value("secure", false)) return "SameSite=None needs secure";
  return "Chromium refused it (a Secure cookie needs https or localhost)";
}

}  // namespace

std::expected<Json, MethodError> store_cookies(Browser& browser, const Json& params) {
  Json refused = Json::array();
  if (params.empty()) return refused;
  auto stored = browser.call_browser("Storage.setCookies", {{"cookies", params}});
  if (!stored) {
    if (stored.error().kind == CdpFailureKind::Protocol) {
      return invalid_argument("Chromium refused the cookies (" + stored.error().message +
                              "); check their domains or URLs");
    }
    return std::unexpected(from_cdp(stored.error(), "failed to store cookies"));
  }
  auto now_stored = all_cookies(browser);
  if (!now_stored) return std::unexpected(now_stored.error());
  for (const Json& param : params) {
    if (kept(param, *now_stored)) continue;
    refused.push_back({{"name", param.value("name", "")},
                       {"domain", param.contains("domain") ? param["domain"] : Json(param.value("url", ""))},
                       {"reason", refusal_reason(param)}});
  }
  return refused;
}

std::optional<double> parse_cookie_expiry(const std::string& text) {
  if (auto seconds = parse_number(text)) return *seconds;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  std::string rest = text;
  if (!rest.empty() && rest.back() == 'Z') rest.pop_back();
  const int fields = std::sscanf(rest.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used);
  if (fields != 3) return std::nullopt;
  std::size_t at = static_cast<std::size_t>(used);
  if (at < rest.size()) {
    if (rest[at] != 'T' && rest[at] != ' ') return std::nullopt;
    int time_used = 0;
    const char* clock = rest.c_str() + at + 1;
    if (std::sscanf(clock, "%2d:%2d:%2d%n", &hour, &minute, &second, &time_used) != 3) {
      second = 0;
      if (std::sscanf(clock, "%2d:%2d%n", &hour, &minute, &time_used) != 2) return std::nullopt;
    }
    if (at + 1 + static_cast<std::size_t>(time_used) != rest.size()) return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return static_cast<double>(::timegm(&parts));
}

bool cookie_in_domain(const Json& cookie, std::string_view domain) {
  std::string_view wanted = domain;
  if (wanted.starts_with('.')) wanted.remove_prefix(1);
  std::string own = cookie.value("domain", "");
  std::string_view have = own;
  if (have.starts_with('.')) have.remove_prefix(1);
  if (have == wanted) return true;
  return have.size() > wanted.size() && have.ends_with(wanted) && have[have.size() - wanted.size() - 1] == '.';
}

}  // namespace vesk::browser
