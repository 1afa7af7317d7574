#pragma once
// The person's input on the live view page, as the DevTools commands that replay it in
// the tab: mouse presses, moves and wheel turns at viewport coordinates, keys (with the
// editing commands behind the usual shortcuts, which a headless tab does not derive from
// the keys itself) and composed text.

#include <optional>
#include <string>
#include <vector>

#include "base/json.hpp"

namespace vesk::browser {

struct DevToolsCommand {
  std::string method;  // "Input.dispatchMouseEvent"
  Json params;
};

// The commands for one event of the page ({"kind": "mouse"|"wheel"|"key"|"text", ...});
// nullopt for an event that is malformed or of an unknown kind (it is dropped).
std::optional<DevToolsCommand> live_input_command(const Json& event);

}  // namespace vesk::browser
