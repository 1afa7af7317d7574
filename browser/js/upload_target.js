/* Called on the element an upload names, before anything is clicked: {fileInput: true}
   when it is a file input; otherwise whether a click on it could open a file chooser at
   all: it is a label of a file input, or holds one, or the page (its shadow roots
   included) has a file input for a button to open. A modal opener on a page without any
   file input answers {fileInput: false, mayOpenChooser: false}, so nothing is clicked. */
function() {
  const isFile = (e) => !!e && e.tagName === 'INPUT' && e.type === 'file';
  if (isFile(this)) return {fileInput: true};
  if (this.tagName === 'LABEL' && isFile(this.control)) return {fileInput: false, mayOpenChooser: true};
  const anyFileInput = (root) => {
    if (root.querySelector('input[type=file]')) return true;
    for (const e of root.querySelectorAll('*')) if (e.shadowRoot && anyFileInput(e.shadowRoot)) return true;
    return false;
  };
  return {fileInput: false, mayOpenChooser: anyFileInput(this) || anyFileInput(document),
          tag: this.tagName.toLowerCase()};
}
