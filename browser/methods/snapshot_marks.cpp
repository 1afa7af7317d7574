#include "browser/methods/snapshot_marks.hpp"

#include <set>

namespace vesk::browser {

namespace {

// At most `limit` characters of UTF-8 text, never cutting one in two.
std::string cut_text(const std::string& text, std::size_t limit) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80) continue;  // continuation byte
    if (chars++ == limit) return text.substr(0, i) + "...";
  }
  return text;
}

std::string quoted(const std::string& text) {
  return Json(cut_text(text, kRoleTextValueLimit)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool is_true(const Json& node, const char* key) {
  auto it = node.find(key);
  return it != node.end() && it->is_boolean() && it->get<bool>();
}

std::string states_text(const Json& node) {
  const std::string role = node.value("role", "");
  std::string out;
  auto add = [&out](const std::string& state) { out += " [" + state + "]"; };
  if (auto checked = node.find("checked"); checked != node.end()) {
    if (checked->is_string() && *checked == "mixed") add("checked=mixed");
    else if (is_true(node, "checked")) add("checked");
  }
  if (auto pressed = node.find("pressed"); pressed != node.end()) {
    if (pressed->is_string() && *pressed == "mixed") add("pressed=mixed");
    else if (is_true(node, "pressed")) add("pressed");
  }
  if (auto value = node.find("value"); value != node.end() && value->is_string() && !value->get<std::string>().empty()) {
    const bool chosen = role == "combobox" || role == "listbox" || role == "PopUpButton";
    add(std::string(chosen ? "selected=" : "value=") + quoted(value->get<std::string>()));
  }
  if (is_true(node, "selected")) add("selected");
  if (is_true(node, "expanded")) add("expanded");
  if (is_true(node, "disabled")) add("disabled");
  return out;
}

}  // namespace

std::string interactive_role_text(const Json& node, NodeChange change) {
  std::string text = change == NodeChange::Added ? "+" : (change == NodeChange::Changed ? "~" : "");
  return text + node.value("role", "") + states_text(node);
}

void mark_nodes(Json& nodes, const Json& diff, bool interactive) {
  std::set<std::string> added, changed;
  if (diff.is_object()) {
    for (const auto& node : diff.value("added", Json::array())) added.insert(node.value("id", ""));
    for (const auto& node : diff.value("changed", Json::array())) changed.insert(node.value("id", ""));
  }
  for (auto& node : nodes) {
    const std::string ref = node.value("id", "");
    NodeChange change = NodeChange::None;
    if (!ref.empty() && added.contains(ref)) change = NodeChange::Added;
    else if (!ref.empty() && changed.contains(ref)) change = NodeChange::Changed;
    if (change != NodeChange::None) node["change"] = change == NodeChange::Added ? "added" : "changed";
    if (interactive) node["role"] = interactive_role_text(node, change);
  }
}

}  // namespace vesk::browser
