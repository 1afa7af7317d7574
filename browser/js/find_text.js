/* Called with the shared element helpers: the elements whose own text (or label,
   placeholder, value) contains `needle`, case-insensitively: up to 50, each with a CSS
   path, its tag and text, and the elements themselves (for their refs). */
function(facts, needle) {
  const lower = needle.toLowerCase();
  const matches = [];
  const elements = [];
  const walker = document.createTreeWalker(document.body || document.documentElement, NodeFilter.SHOW_ELEMENT);
  for (let el = walker.currentNode; el; el = walker.nextNode()) {
    const own = Array.from(el.childNodes).filter(n => n.nodeType === 3).map(n => n.textContent).join('');
    const label = own.trim() || el.getAttribute('aria-label') || el.getAttribute('placeholder') || el.value || '';
    if (typeof label === 'string' && label.toLowerCase().includes(lower)) {
      matches.push({selector: facts.cssPath(el), tag: el.tagName.toLowerCase(), text: label.trim().slice(0, 200)});
      elements.push(el);
      if (matches.length >= 50) break;
    }
  }
  return {matches, elements};
}
