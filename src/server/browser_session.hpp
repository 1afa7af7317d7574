#pragma once
// A browser connection: its hello is checked against the state file and answered; an
// accepted browser is registered and then serves queued requests one at a time until its
// registry entry is removed or replaced by a newer hello under the same id.

#include <filesystem>

#include "base/error.hpp"
#include "protocol/framing.hpp"
#include "server/registry.hpp"

namespace vesk {

Status serve_browser(Connection& connection, const Message& hello,
                     const std::filesystem::path& state_path, Registry& registry);

}  // namespace vesk
