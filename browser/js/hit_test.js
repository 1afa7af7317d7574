/* Called on the element about to be clicked, with the click point relative to the top left
   corner of its border box in CSS pixels (the same in the page and in the element's frame):
   whether a person's click there would reach it. The click goes to the topmost element at
   the point; when that is neither the element nor inside it (nor a label of it), the answer
   describes what is in the way (an overlay, a cookie banner, a modal backdrop). Also says
   whether the element is a link that saves a download, so the caller knows to wait for it. */
function(facts, dx, dy) {
  const download = !!(this.closest && this.closest('a[download]'));
  const box = this.getBoundingClientRect();
  const x = box.left + dx;
  const y = box.top + dy;
  let hit = document.elementFromPoint(x, y);
  // The topmost element inside open shadow roots; a closed one hides its inside.
  while (hit && hit.shadowRoot) {
    const inner = hit.shadowRoot.elementFromPoint(x, y);
    if (!inner || inner === hit) break;
    hit = inner;
  }
  // Outside the viewport nothing can be tested: let the click decide.
  if (!hit) return {reaches: true, download};
  const within = (outer, inner) => {
    for (let n = inner; n; n = n.parentNode || n.host) if (n === outer) return true;
    return false;
  };
  if (within(this, hit)) return {reaches: true, download};
  // A label passes its clicks to its control (styled checkboxes hide the input under one).
  const label = hit.closest ? hit.closest('label') : null;
  if (label && label.control === this) return {reaches: true, download};
  // The element sits in a closed shadow root of the element hit: as far as we can see.
  for (let root = this.getRootNode(); root instanceof ShadowRoot; root = root.host.getRootNode()) {
    if (root.host === hit && root.mode === 'closed') return {reaches: true, download};
  }
  return {reaches: false, download, covering: facts.describe(hit)};
}
