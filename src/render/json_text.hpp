#pragma once
// The pieces of the printed JSON form that other printers reuse.

#include <string>
#include <string_view>

namespace vesk {

// Appends the shortest text that reads back to `value`, with ".0" when that text has
// neither a fraction nor an exponent; "null" for NaN and the infinities.
void append_json_float(std::string& out, double value);

}  // namespace vesk
