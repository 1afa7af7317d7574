#pragma once
// Walking UTF-8 text one sequence at a time.

#include <cstddef>
#include <string_view>

namespace vesk {

// The length of the valid UTF-8 sequence that starts at bytes[i] (i < size), or 0 when
// none does (a stray byte, an overlong form, a surrogate, past U+10FFFF, cut short).
std::size_t utf8_sequence_length(std::string_view bytes, std::size_t i);

}  // namespace vesk
