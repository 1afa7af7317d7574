/* Called on an element (or with `this` undefined for the whole page): the elements that
   can be acted on, with role, name and state worked out as the accessibility tree does for
   common markup, and their index in document order. */
function() {
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
}
