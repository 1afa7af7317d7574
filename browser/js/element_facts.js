/* The helpers every page script that describes elements shares: role, accessible name and
   state worked out the way the accessibility tree does for common markup, and a CSS path.
   The interactive snapshot, the hit test before a click and the role= locator all get them,
   so an element has the same role and name wherever vesk names it. */
function() {
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
      case 'H1': case 'H2': case 'H3': case 'H4': case 'H5': case 'H6': return 'heading';
      case 'IMG': return e.getAttribute('alt') === '' ? 'presentation' : 'img';
      case 'DIALOG': return 'dialog';
    }
    if (e.isContentEditable && !(e.parentElement && e.parentElement.isContentEditable)) return 'textbox';
    return '';
  };
  // The labels of a control, from one index of each tree's labels built on first use.
  // Chromium answers e.labels with a walk of the whole tree whenever the page changed
  // since the last one: for every control of a page, that is a walk per control (ten
  // thousand controls took 1.6 s).
  const labelIndexes = new Map();
  const labelsOf = (e) => {
    const root = e.getRootNode();
    let index = labelIndexes.get(root);
    if (!index) {
      index = new Map();
      if (root.querySelectorAll) {
        for (const label of root.querySelectorAll('label')) {
          const control = label.control;
          if (!control) continue;
          if (!index.has(control)) index.set(control, []);
          index.get(control).push(label);
        }
      }
      labelIndexes.set(root, index);
    }
    return index.get(e) || [];
  };
  const fromContent = new Set(['button', 'link', 'tab', 'menuitem', 'menuitemcheckbox', 'menuitemradio',
    'option', 'checkbox', 'radio', 'switch', 'treeitem', 'DisclosureTriangle', 'gridcell', 'columnheader',
    'rowheader', 'heading']);
  const nameOf = (e, role) => {
    const ids = e.getAttribute('aria-labelledby');
    if (ids) {
      const root = e.getRootNode();
      const t = clean(ids.split(/\s+/).map((id) => {
        const r = root.getElementById ? root.getElementById(id) : document.getElementById(id);
        return r ? r.innerText || r.textContent : '';
      }).join(' '));
      if (t) return t;
    }
    const aria = clean(e.getAttribute('aria-label'));
    if (aria) return aria;
    const labels = labelsOf(e);
    if (labels.length) {
      const t = clean(labels.map((l) => l.innerText || l.textContent).join(' '));
      if (t) return t;
    }
    if (e.tagName === 'INPUT') {
      if (e.type === 'submit') return e.value || 'Submit';
      if (e.type === 'reset') return e.value || 'Reset';
      if (e.type === 'button') return e.value || '';
      if (e.type === 'image') return e.alt || '';
      if (e.type === 'file') return e.multiple ? 'Choose Files' : 'Choose File';
    }
    if (e.tagName === 'IMG') return clean(e.alt);
    if (fromContent.has(role)) {
      const t = clean(e.innerText || e.textContent);
      if (t) return t.slice(0, 200);
      const img = e.querySelector('img[alt]');
      if (img) return clean(img.alt);
    }
    return clean(e.getAttribute('title') || e.getAttribute('placeholder') || '');
  };
  // The states an agent reads from a snapshot node, as JSON members.
  const statesOf = (e, role) => {
    const node = {};
    if (role === 'textbox' || role === 'searchbox' || role === 'spinbutton' || role === 'slider') {
      if (e.isContentEditable) {
        const text = clean(e.innerText);
        if (text) node.value = text;
      } else if (e.type !== 'password' && e.value) {
        node.value = String(e.value);
      }
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
    else if (e.tagName === 'SUMMARY' && e.parentElement && e.parentElement.tagName === 'DETAILS') node.expanded = e.parentElement.open;
    if (e.getAttribute('aria-selected') === 'true' || (e.tagName === 'OPTION' && e.selected)) node.selected = true;
    if (e.getRootNode().activeElement === e) node.focused = true;
    if (e.required) node.required = true;
    if (e.readOnly && (e.tagName === 'INPUT' || e.tagName === 'TEXTAREA')) node.readonly = true;
    const pressed = e.getAttribute('aria-pressed');
    if (pressed !== null) node.pressed = pressed === 'mixed' ? 'mixed' : pressed === 'true';
    if (role === 'heading') node.level = Number((e.getAttribute('aria-level') || e.tagName.slice(1))) || 2;
    return node;
  };
  // A selector that finds the element again: its id, or a path of :nth-of-type steps up to
  // the nearest ancestor with an id (within its own document or shadow root).
  const cssPath = (el) => {
    if (el.id) return '#' + CSS.escape(el.id);
    const parts = [];
    for (; el && el.nodeType === 1 && el !== document.documentElement; el = el.parentElement) {
      if (el.id) { parts.unshift('#' + CSS.escape(el.id)); break; }
      let index = 1;
      for (let sib = el.previousElementSibling; sib; sib = sib.previousElementSibling) if (sib.tagName === el.tagName) index++;
      parts.unshift(el.tagName.toLowerCase() + ':nth-of-type(' + index + ')');
    }
    return parts.join(' > ');
  };
  // What an agent needs to recognise an element it did not ask about (the one in the way
  // of a click): role, name, a selector and its tag.
  const describe = (e) => {
    const role = roleOf(e) || 'generic';
    const name = nameOf(e, role) || clean(e.getAttribute('aria-label')) || clean(e.innerText).slice(0, 80);
    return {role, name, selector: cssPath(e), tag: e.tagName.toLowerCase()};
  };
  return {clean, roleOf, nameOf, statesOf, cssPath, describe};
}
