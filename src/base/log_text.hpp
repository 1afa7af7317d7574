#pragma once
// What a log line makes of the text it carries.

#include <string>
#include <string_view>

namespace vesk {

// Control characters and bytes that are not valid UTF-8 become escapes ("\n", "\x1b"),
// so that text a peer sent can neither break a log line in two nor forge one, nor garble
// the log for its readers. Everything else, backslashes included, stays as it is.
std::string escape_log_text(std::string_view text);

}  // namespace vesk
