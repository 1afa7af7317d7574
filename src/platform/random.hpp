#pragma once
// Random bytes from the operating system's secure generator, for identities and secrets
// another local user must not be able to guess.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace vesk {

// Fills `bytes` from the system generator. The generator failing means the system itself
// is broken; the process then stops with a message instead of handing out weak secrets.
void fill_random_bytes(std::span<unsigned char> bytes);

// `length` characters drawn uniformly from `alphabet` (1 to 256 characters): a byte that
// would favour the first characters is redrawn instead of folded in.
std::string random_text(std::string_view alphabet, std::size_t length);

}  // namespace vesk
