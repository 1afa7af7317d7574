/* Called on an element (or with `this` undefined for the whole page) with the shared
   element helpers: the elements that can be acted on, with role, name and state as the
   helpers work them out, and their index in document order. */
function(facts) {
  const scope = this instanceof Element ? this : null;
  const all = document.querySelectorAll('*');
  const interactive = new Set(['button', 'link', 'textbox', 'searchbox', 'combobox', 'listbox', 'option',
    'checkbox', 'radio', 'switch', 'slider', 'spinbutton', 'menuitem', 'menuitemcheckbox', 'menuitemradio',
    'tab', 'treeitem', 'DisclosureTriangle', 'scrollbar', 'gridcell', 'columnheader', 'rowheader']);
  const items = [];
  for (let i = 0; i < all.length; i++) {
    const e = all[i];
    const role = facts.roleOf(e);
    if (!interactive.has(role)) continue;
    if (scope && !scope.contains(e)) continue;
    if (role !== 'option' && !e.checkVisibility({visibilityProperty: true})) continue;
    if (e.closest('[aria-hidden="true"],[inert]')) continue;
    const node = Object.assign({role, name: facts.nameOf(e, role)}, facts.statesOf(e, role));
    items.push([i, e.tagName, node]);
  }
  return {count: all.length, items};
}
