#pragma once
// The table of browser methods ("tab.navigate", "element.click", ...) and the helpers
// every area uses to read the params the command line sends: "args" (the words after the
// command), "selector", "tab" and the "options" object.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "browser/browser.hpp"
#include "browser/method_result.hpp"

namespace vesk::browser {

using MethodHandler = std::function<MethodResult(Browser&, const Json& params)>;
using MethodTable = std::map<std::string, MethodHandler, std::less<>>;

// One registration function per area of methods.
void add_tab_methods(MethodTable& table);
void add_navigation_methods(MethodTable& table);
void add_page_methods(MethodTable& table);
void add_page_query_methods(MethodTable& table);
void add_snapshot_methods(MethodTable& table);
void add_element_methods(MethodTable& table);
void add_input_methods(MethodTable& table);
void add_file_methods(MethodTable& table);
void add_dialog_methods(MethodTable& table);

// Every method this browser serves.
MethodTable all_methods();

// Runs the method; a method not in the table is "unsupportedMethod".
MethodResult serve_method(Browser& browser, const MethodTable& table, std::string_view method,
                          const Json& params);

// ---- reading params ----

// The "args" words; non-strings are skipped.
std::vector<std::string> words_of(const Json& params);
// The words joined by single spaces ("1 + 2").
std::string joined_words(const Json& params, std::size_t from = 0);
// params[key] when it is a string.
std::optional<std::string> string_member(const Json& params, std::string_view key);
// params["options"][key] as a boolean (false when absent or not a boolean).
bool option_flag(const Json& params, std::string_view key);
std::optional<std::string> option_string(const Json& params, std::string_view key);
std::optional<double> option_number(const Json& params, std::string_view key);
// A decimal number word ("250", "-3.5").
std::optional<double> parse_number(std::string_view text);

}  // namespace vesk::browser
