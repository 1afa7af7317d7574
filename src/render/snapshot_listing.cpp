// The compact listing of a snapshot: a header line and one line per node. Missing or
// mistyped members fall back to defaults; the listing never fails on content.
#include <string>

#include "language/snapshot_change.hpp"
#include "render/json_text.hpp"
#include "render/render.hpp"
#include "render/stdout_writer.hpp"

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

std::string node_line(const Json& node) {
  std::string line = string_member(node, "id", "");
  line += ':';
  line += string_member(node, "role", "element");
  const std::string name = string_member(node, "name", "");
  if (!name.empty()) {
    line += ' ';
    append_json_string(line, name);
  }
  line += '\n';
  return line;
}

}  // namespace

Status print_snapshot_listing(const Json& value) {
  const Json& payload = snapshot_payload(value);
  static const Json kNoNodes = Json::array();
  const Json* nodes = &kNoNodes;
  if (payload.is_object()) {
    const auto it = payload.find("nodes");
    if (it != payload.end() && it->is_array()) nodes = &*it;
  }
  const std::string header = "# " + string_member(payload, "title", "") + " | " +
                             listing_url(payload) + " | " + std::to_string(nodes->size()) +
                             " nodes\n";
  if (auto written = write_stdout(header); !written) return written;
  for (const Json& node : *nodes) {
    if (auto written = write_stdout(node_line(node)); !written) return written;
  }
  return {};
}

}  // namespace vesk
