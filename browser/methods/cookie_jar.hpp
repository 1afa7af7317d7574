#pragma once
// The browser's cookies, HttpOnly ones included, read and written through Chromium's
// Storage domain (the browser's cookie store, not the page's document.cookie). Cookies go
// out in the form saved-state files use:
//   {"name", "value", "domain", "path", "expires" (seconds since the epoch, -1 for a
//    session cookie), "httpOnly", "secure", "sameSite": "Strict"|"Lax"|"None"}
// and come in as Chromium's cookie parameters (see cookie_param).

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "base/json.hpp"
#include "browser/core/browser.hpp"
#include "browser/core/method_result.hpp"

namespace vesk::browser {

// Every cookie of the browser, each in the saved-state form.
std::expected<Json, MethodError> all_cookies(Browser& browser);

// One of Chromium's cookies in the saved-state form. Chromium leaves out sameSite when the
// site did not set it; it then treats the cookie as Lax, and so does this form.
Json saved_cookie(const Json& chromium_cookie);

// Checks one cookie of the saved-state form (as found in a file, `where` naming it:
// "cookies[2]") and turns it into Chromium's cookie parameters; "url" may stand for
// domain and path. The message of a bad cookie names the member and the accepted forms.
std::expected<Json, std::string> cookie_param(const Json& cookie, const std::string& where);

// Stores the cookies (Chromium's cookie parameters) in the browser. Chromium drops some
// without an error (expired ones, SameSite=None without secure): the answer lists those
// it did not keep, [{"name", "domain", "reason"}], read back from the store.
std::expected<Json, MethodError> store_cookies(Browser& browser, const Json& params);

// An expiry word as seconds since the epoch: "1767225600", or a UTC date "2027-01-31",
// "2027-01-31T12:00", "2027-01-31T12:00:00Z"; nullopt for anything else.
std::optional<double> parse_cookie_expiry(const std::string& text);

// Whether the cookie's domain is `domain` or lies under it ("example.com" takes
// ".example.com" and "www.example.com").
bool cookie_in_domain(const Json& cookie, std::string_view domain);

}  // namespace vesk::browser
