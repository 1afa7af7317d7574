/* Called on an element: focuses it and selects its whole content so typed text replaces
   it; {ok: false, tag, type} for an element that takes no text. An input whose type is one
   of `valueForms` is left as it is: {ok: false, valueForm: its type}. */
function(valueForms) {
  const tag = this.tagName;
  if (tag === 'INPUT' && valueForms.includes(this.type)) return {ok: false, valueForm: this.type};
  const textInput = tag === 'TEXTAREA' || (tag === 'INPUT' && !['checkbox','radio','button','submit','reset','file','image','hidden','range','color'].includes(this.type));
  if (!textInput && !this.isContentEditable) return {ok: false, tag: tag.toLowerCase(), type: this.type || ''};
  this.focus();
  if (textInput) {
    try { this.select(); } catch (e) {}
    if (this.selectionStart === undefined || this.selectionStart === null || this.value === '' ||
        this.selectionEnd - this.selectionStart !== this.value.length) {
      // Inputs without selection support (number, date, email in some cases): clear directly.
      const setter = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(this), 'value').set;
      setter.call(this, '');
      this.dispatchEvent(new Event('input', {bubbles: true}));
    }
  } else {
    const range = document.createRange();
    range.selectNodeContents(this);
    const selection = getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
  }
  return {ok: true};
}
