/* Called with `this` bound to the scope element (or the global object, for the whole
   document), the shared element helpers, and the document's closed shadow roots: the
   elements that can be acted on, with role, name and state as the helpers work them out,
   and the visible iframes, each with its index in the walk. The walk goes through an
   element, then its shadow tree, then its children, as element_order() does in C++.
   The answer is JSON text. */
function(facts, ...closedRoots) {
  const scope = this instanceof Element ? this : null;
  // The prototype getters: a form's named controls can hide its own properties.
  const childrenOf = Object.getOwnPropertyDescriptor(Element.prototype, 'children').get;
  const openRootOf = Object.getOwnPropertyDescriptor(Element.prototype, 'shadowRoot').get;
  const closedRootOf = new Map(closedRoots.map((root) => [root.host, root]));
  const interactive = new Set(['button', 'link', 'textbox', 'searchbox', 'combobox', 'listbox', 'option',
    'checkbox', 'radio', 'switch', 'slider', 'spinbutton', 'menuitem', 'menuitemcheckbox', 'menuitemradio',
    'tab', 'treeitem', 'DisclosureTriangle', 'scrollbar', 'gridcell', 'columnheader', 'rowheader']);
  const items = [];
  const consider = (e, i) => {
    if (e.tagName === 'IFRAME' || e.tagName === 'FRAME') {
      if (!e.checkVisibility({visibilityProperty: true})) return;
      items.push([i, e.tagName, {role: 'Iframe', name: facts.clean(e.title || e.name || e.getAttribute('src') || '')}]);
      return;
    }
    const role = facts.roleOf(e);
    if (!interactive.has(role)) return;
    if (role !== 'option' && !e.checkVisibility({visibilityProperty: true})) return;
    if (e.closest('[aria-hidden="true"],[inert]')) return;
    const node = Object.assign({role, name: facts.nameOf(e, role)}, facts.statesOf(e, role));
    items.push([i, e.tagName, node]);
  };
  let count = 0;
  const visit = (e, inScope) => {
    const i = count++;
    const here = inScope || e === scope;
    if (here) consider(e, i);
    const root = openRootOf.call(e) || closedRootOf.get(e);
    if (root) for (const child of root.children) visit(child, here);
    for (const child of childrenOf.call(e)) visit(child, here);
  };
  for (const child of document.children) visit(child, !scope);
  return JSON.stringify({count, items});
}
