/* The first element that matches a CSS selector, or (with `count`) how many match, in the
   document and in every open shadow root under it, in tree order with the document's own
   matches first. A bad selector throws the browser's SyntaxError. */
(selector, count) => {
  const first = count ? null : document.querySelector(selector);
  if (first) return first;
  const roots = [document];
  for (let i = 0; i < roots.length; i++) {
    for (const e of roots[i].querySelectorAll('*')) if (e.shadowRoot) roots.push(e.shadowRoot);
  }
  if (count) return roots.reduce((n, root) => n + root.querySelectorAll(selector).length, 0);
  for (const root of roots) {
    const e = root.querySelector(selector);
    if (e) return e;
  }
  return null;
}
