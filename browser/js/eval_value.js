/* Called on the value a script evaluated to (not a plain JSON value): the JSON an agent can
   read. A DOM node is described (tag, id, the start of its outer HTML); arrays, node lists
   and objects are copied with their nodes described the same way; what JSON cannot hold
   (functions, symbols, cycles) becomes its description text. */
function(htmlLimit) {
  const describe = (node) => {
    if (!(node instanceof Element)) {
      return {node: node.nodeName.toLowerCase(), text: (node.textContent || '').slice(0, htmlLimit)};
    }
    const html = node.outerHTML;
    const out = {tag: node.tagName.toLowerCase(), outerHTML: html.length > htmlLimit ? html.slice(0, htmlLimit) + '...' : html};
    if (node.id) out.id = node.id;
    return out;
  };
  if (this instanceof Node) return describe(this);
  const seen = new WeakSet();
  const copy = (value) => {
    if (value instanceof Node) return describe(value);
    if (typeof value === 'function') return 'function ' + (value.name || '(anonymous)');
    if (typeof value === 'symbol' || typeof value === 'bigint') return String(value);
    if (value === null || typeof value !== 'object') return value === undefined ? null : value;
    if (seen.has(value)) return '[cycle]';
    seen.add(value);
    if (Array.isArray(value) || value instanceof NodeList || value instanceof HTMLCollection) {
      return Array.from(value, copy);
    }
    if (typeof value.toJSON === 'function') return copy(value.toJSON());
    const out = {};
    for (const key of Object.keys(value)) out[key] = copy(value[key]);
    return out;
  };
  return copy(this);
}
