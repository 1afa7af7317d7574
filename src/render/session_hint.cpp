// The shared-tab hint: the broker marks results of a tab shared between agents with a
// "vesk" member; the command line strips it and, outside a session, says how to get one.
#include "base/log.hpp"
#include "base/paths.hpp"
#include "render/render.hpp"

namespace vesk {

void session_hint(Json& value) {
  if (!value.is_object()) return;
  const auto it = value.find("vesk");
  if (it == value.end()) return;
  const Json marker = std::move(*it);
  value.erase(it);

  if (!marker.is_object()) return;
  const auto shared = marker.find("shared");
  if (shared == marker.end() || !shared->is_boolean() || !shared->get<bool>()) return;
  if (process_env("VESK_SESSION").has_value()) return;  // set, even to "", means a session

  const auto agent = marker.find("agentId");
  const std::string agent_id =
      agent != marker.end() && agent->is_string() ? agent->get<std::string>() : "<id>";
  write_stderr(
      "HINT: no session set - this tab is shared. Create one with: export "
      "VESK_SESSION=$(vesk session create --agent-id " +
      agent_id + " --print-token)\n");
}

}  // namespace vesk
