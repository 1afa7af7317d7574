#pragma once
// Identities of a launched browser: its instance id and the secret token it presents in
// its hello. Drawn from the operating system's secure generator, uniformly (no modulo
// bias), so tokens cannot be guessed by another local user.

#include <string>

namespace vesk {

// "inst_" and 8 characters: each drawn from A-Z, a-z, 0-9, then lower-cased.
std::string new_instance_id();
// 48 characters from A-Z, a-z, 0-9.
std::string new_instance_token();

}  // namespace vesk
