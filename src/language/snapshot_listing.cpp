#include "language/snapshot_listing.hpp"

#include "language/snapshot_change.hpp"

namespace vesk {

namespace {

std::string string_member(const Json& object, const char* key, std::string fallback) {
  if (!object.is_object()) return fallback;
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return fallback;
  return it->get<std::string>();
}

// "url" wins whenever it is present, even when it is not a string; only its absence lets
// "visible_url" stand in.
std::string listing_url(const Json& payload) {
  if (payload.is_object() && payload.contains("url")) return string_member(payload, "url", "");
  return string_member(payload, "visible_url", "");
}

void append_node_line(std::string& out, const Json& node) {
  out += string_member(node, "id", "");
  out += ':';
  out += string_member(node, "role", "element");
  const std::string name = string_member(node, "name", "");
  if (!name.empty()) {
    out += ' ';
    append_json_string(out, name);
  }
  out += '\n';
}

}  // namespace

std::string snapshot_listing(const Json& value) {
  const Json& payload = snapshot_payload(value);
  static const Json kNoNodes = Json::array();
  const Json* nodes = &kNoNodes;
  if (payload.is_object()) {
    const auto it = payload.find("nodes");
    if (it != payload.end() && it->is_array()) nodes = &*it;
  }
  std::string text = "# " + string_member(payload, "title", "") + " | " + listing_url(payload) + " | " +
                     std::to_string(nodes->size()) + " nodes\n";
  for (const Json& node : *nodes) append_node_line(text, node);
  return text;
}

}  // namespace vesk
