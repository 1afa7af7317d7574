#pragma once
// What the interactive listing shows of a node beyond its role and name. The command line
// prints each node as `{id}:{role} "{name}"`, so the state an agent has just set (a filled
// value, a checked box, a chosen option) and what changed since the previous snapshot go
// into the role text: `e5:checkbox [checked] "Terms"`, `e3:~textbox [value="Ada"] "Name"`,
// `e9:+button "Pay"`. The JSON members of the node stay as they are.

#include <string>

#include "base/json.hpp"

namespace vesk::browser {

// Longest value shown in the role text, in characters; longer ones end in "...".
inline constexpr std::size_t kRoleTextValueLimit = 40;

// How a node differs from the tab's previous snapshot.
enum class NodeChange { None, Added, Changed };

// The role text of an interactive node: a change mark ("+" added, "~" changed), the role,
// then its states in brackets. Pure.
std::string interactive_role_text(const Json& node, NodeChange change);

// Sets each node's change against `diff` ({"added": [nodes], "changed": [nodes]}): the
// member "change" ("added" or "changed") on every node, and, for interactive snapshots,
// the role text above. `diff` may be null (no previous snapshot: nothing is marked).
void mark_nodes(Json& nodes, const Json& diff, bool interactive);

}  // namespace vesk::browser
