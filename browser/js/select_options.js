/* Called on a <select>: selects the options whose value, label or text is one of `values`,
   firing input and change; {selected} or {error}. */
function(values) {
  if (this.tagName !== 'SELECT') return {error: 'notSelect', tag: this.tagName.toLowerCase()};
  const picked = [];
  for (const option of this.options) {
    const match = values.some(v => option.value === v || option.label === v || option.text.trim() === v);
    if (this.multiple) option.selected = match;
    if (match && (this.multiple || picked.length === 0)) { if (!this.multiple) this.value = option.value; picked.push(option.value); }
  }
  if (picked.length === 0) return {error: 'noOption', options: Array.from(this.options).map(o => o.value)};
  this.dispatchEvent(new Event('input', {bubbles: true}));
  this.dispatchEvent(new Event('change', {bubbles: true}));
  return {selected: picked};
}
