/* Called on the element about to be typed into: focuses it as a person's click would and,
   when it was not focused already, puts the caret at the end of its content (a person
   clicking into a text and typing types after it, not before it). Answers whether the
   element holds the focus. */
function() {
  const root = this.getRootNode();
  if (root.activeElement === this || (this.isContentEditable && this.contains(root.activeElement))) {
    return true;
  }
  this.focus();
  if (this.isContentEditable) {
    const range = document.createRange();
    range.selectNodeContents(this);
    range.collapse(false);
    const selection = getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
  } else if (typeof this.value === 'string') {
    try { this.setSelectionRange(this.value.length, this.value.length); } catch (e) {}
  }
  return root.activeElement === this;
}
