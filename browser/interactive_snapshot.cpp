#include "browser/interactive_snapshot.hpp"

#include "browser/page_script.hpp"
#include "browser/snapshot.hpp"

namespace vesk::browser {

namespace {

// Collects [index in document order, tag, role, name, states] for every visible element
// that can be acted on. `this` is the scope element, or undefined for the whole page.
constexpr const char* kCollector = R"JS(function() {
  const scope = this instanceof Element ? this : null;
  const all = document.querySelectorAll('*');
  const interactive = new Set(['button', 'link', 'textbox', 'searchbox', 'combobox', 'listbox', 'option',
    'checkbox', 'radio', 'switch', 'slider', 'spinbutton', 'menuitem', 'menuitemcheckbox', 'menuitemradio',
    'tab', 'treeitem', 'DisclosureTriangle', 'scrollbar', 'gridcell', 'columnheader', 'rowheader']);
  const clean = (s) => (s || '').replace(/\s+/g, ' ').trim();
  const inputRoles = {checkbox: 'checkbox', radio: 'radio', range: 'slider', number: 'spinbutton',
    search: 'searchbox', button: 'button', submit: 'button', reset: 'button', image: 'button',
    file: 'button', color: 'button'};
  const roleOf = (e) => {
    const explicit = (e.getAttribute('role') || '').trim().split(/\s+/)[0];
    if (explicit) return explicit;
    switch (e.tagName) {
      case 'A': case 'AREA': return e.hasAttribute('href') ? 'link' : '';
      case 'BUTTON': return 'button';
      case 'INPUT': return e.type === 'hidden' ? '' : (inputRoles[e.type] || 'textbox');
      case 'SELECT': return e.multiple || e.size > 1 ? 'listbox' : 'combobox';
      case 'TEXTAREA': return 'textbox';
      case 'SUMMARY': return 'DisclosureTriangle';
      case 'OPTION': { const s = e.closest('select'); return s && (s.multiple || s.size > 1) ? 'option' : ''; }
    }
    if (e.isContentEditable && !(e.parentElement && e.parentElement.isContentEditable)) return 'textbox';
    return '';
  };
  const fromContent = new Set(['button', 'link', 'tab', 'menuitem', 'menuitemcheckbox', 'menuitemradio',
    'option', 'checkbox', 'radio', 'switch', 'treeitem', 'DisclosureTriangle', 'gridcell', 'columnheader', 'rowheader']);
  const nameOf = (e, role) => {
    const ids = e.getAttribute('aria-labelledby');
    if (ids) {
      const t = clean(ids.split(/\s+/).map((id) => { const r = document.getElementById(id); return r ? r.innerText || r.textContent : ''; }).join(' '));
      if (t) return t;
    }
    const aria = clean(e.getAttribute('aria-label'));
    if (aria) return aria;
    if (e.labels && e.labels.length) {
      const t = clean(Array.from(e.labels).map((l) => l.innerText || l.textContent).join(' '));
      if (t) return t;
    }
    if (e.tagName === 'INPUT') {
      if (e.type === 'submit') return e.value || 'Submit';
      if (e.type === 'reset') return e.value || 'Reset';
      if (e.type === 'button') return e.value || '';
      if (e.type === 'image') return e.alt || '';
      if (e.type === 'file') return e.multiple ? 'Choose Files' : 'Choose File';
    }
    if (fromContent.has(role)) {
      const t = clean(e.innerText || e.textContent);
      if (t) return t.slice(0, 200);
      const img = e.querySelector('img[alt]');
      if (img) return clean(img.alt);
    }
    return clean(e.getAttribute('title') || e.getAttribute('placeholder') || '');
  };
  const items = [];
  for (let i = 0; i < all.length; i++) {
    const e = all[i];
    const role = roleOf(e);
    if (!interactive.has(role)) continue;
    if (scope && !scope.contains(e)) continue;
    if (role !== 'option' && !e.checkVisibility({visibilityProperty: true})) continue;
    if (e.closest('[aria-hidden="true"],[inert]')) continue;
    const node = {role, name: nameOf(e, role)};
    if (role === 'textbox' || role === 'searchbox' || role === 'spinbutton' || role === 'slider') {
      if (e.type !== 'password' && e.value) node.value = e.isContentEditable ? clean(e.innerText) : String(e.value);
    } else if (role === 'combobox' && e.tagName === 'SELECT') {
      const o = e.options[e.selectedIndex];
      if (o) node.value = clean(o.text);
      node.expanded = false;
    }
    const ariaChecked = e.getAttribute('aria-checked');
    if (role === 'checkbox' || role === 'radio' || role === 'switch' || role === 'menuitemcheckbox' || role === 'menuitemradio') {
      node.checked = e.tagName === 'INPUT' ? e.checked : ariaChecked === 'mixed' ? 'mixed' : ariaChecked === 'true';
    }
    if (e.disabled || e.getAttribute('aria-disabled') === 'true') node.disabled = true;
    const expanded = e.getAttribute('aria-expanded');
    if (expanded !== null) node.expanded = expanded === 'true';
    if (e.getAttribute('aria-selected') === 'true' || (e.tagName === 'OPTION' && e.selected)) node.selected = true;
    if (document.activeElement === e) node.focused = true;
    if (e.required) node.required = true;
    if (e.readOnly && (e.tagName === 'INPUT' || e.tagName === 'TEXTAREA')) node.readonly = true;
    const pressed = e.getAttribute('aria-pressed');
    if (pressed !== null) node.pressed = pressed === 'mixed' ? 'mixed' : pressed === 'true';
    items.push([i, e.tagName, node]);
  }
  return {count: all.length, items};
})JS";

void collect_elements(const Json& node, ElementOrder& order) {
  if (node.value("nodeType", 0) == 1) {
    order.backend_ids.push_back(node.value("backendNodeId", std::int64_t{0}));
    order.tags.push_back(node.value("nodeName", ""));
  }
  auto children = node.find("children");
  if (children == node.end() || !children->is_array()) return;
  for (const auto& child : *children) collect_elements(child, order);
}

}  // namespace

ElementOrder element_order(const Json& document_root) {
  ElementOrder order;
  collect_elements(document_root, order);
  return order;
}

std::expected<std::optional<Json>, MethodError> interactive_nodes_from_dom(Browser& browser, Tab& tab,
                                                                            const std::string& scope_object_id) {
  MethodResult collected;
  if (scope_object_id.empty()) {
    collected = evaluate(browser, tab, "(" + std::string(kCollector) + ").call(undefined)");
  } else {
    collected = call_on_object(browser, tab, scope_object_id, kCollector);
  }
  if (!collected) return std::unexpected(collected.error());
  // pierce: false keeps iframe documents and shadow trees out, as querySelectorAll does.
  auto document = browser.call(tab, "DOM.getDocument", {{"depth", -1}, {"pierce", false}});
  if (!document) return std::unexpected(from_cdp(document.error(), "failed to read the page's elements"));
  // Reading the document makes Chromium report every later change of it; we need none.
  browser.call(tab, "DOM.disable", Json::object());
  const ElementOrder order = element_order(document->value("root", Json::object()));
  if (order.backend_ids.size() != collected->value("count", std::size_t{0})) return std::nullopt;

  SnapshotState& state = tab.snapshot;
  Json nodes = Json::array();
  for (const auto& item : collected->value("items", Json::array())) {
    const auto index = item[0].get<std::size_t>();
    if (index >= order.tags.size() || order.tags[index] != item[1].get<std::string>()) return std::nullopt;
    const std::int64_t backend_id = order.backend_ids[index];
    Json node = item[2];
    node["id"] = assign_ref(state, backend_id);
    nodes.push_back(std::move(node));
  }
  return nodes;
}

}  // namespace vesk::browser
