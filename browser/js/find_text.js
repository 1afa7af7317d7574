/* The elements whose own text (or label, placeholder, value) contains `needle`, case-
   insensitively: up to 50, each with a CSS path, its tag and text. */
(needle) => {
  const lower = needle.toLowerCase();
  const path = (el) => {
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
  const matches = [];
  const walker = document.createTreeWalker(document.body || document.documentElement, NodeFilter.SHOW_ELEMENT);
  for (let el = walker.currentNode; el; el = walker.nextNode()) {
    const own = Array.from(el.childNodes).filter(n => n.nodeType === 3).map(n => n.textContent).join('');
    const label = own.trim() || el.getAttribute('aria-label') || el.getAttribute('placeholder') || el.value || '';
    if (typeof label === 'string' && label.toLowerCase().includes(lower)) {
      matches.push({selector: path(el), tag: el.tagName.toLowerCase(), text: label.trim().slice(0, 200)});
      if (matches.length >= 50) break;
    }
  }
  return matches;
}
