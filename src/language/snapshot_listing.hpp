#pragma once
// The compact listing of a snapshot, as `vesk snap -i` prints it and a capture bundle
// stores it: "# {title} | {url} | {n} nodes", then one "ref:role "name"" line per node.

#include <string>

#include "base/json.hpp"

namespace vesk {

// Missing or mistyped members fall back to defaults; the listing never fails on content.
std::string snapshot_listing(const Json& value);

}  // namespace vesk
