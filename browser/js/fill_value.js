/* Called on an input whose value has a fixed form (date, time, datetime-local, month, week,
   color, range, number) with the value to give it. First tries the value on a detached
   input of the same type and limits, so a value the input would refuse changes nothing;
   then sets it as a person's edit does: focus, the value, an input and a change event.
   Answers {took, value} with the value the input holds. */
function(value) {
  const probe = document.createElement('input');
  probe.type = this.type;
  for (const name of ['min', 'max', 'step']) {
    if (this.hasAttribute(name)) probe.setAttribute(name, this.getAttribute(name));
  }
  probe.value = value;
  const same = (held) => {
    if (held === value) return true;
    if (this.type === 'color') return held === value.toLowerCase();
    if (this.type === 'datetime-local') return held === value.replace(' ', 'T');
    return false;
  };
  if (!same(probe.value)) {
    return {took: false, value: this.value, became: probe.value,
            min: this.min, max: this.max, step: this.step};
  }
  this.focus();
  const setter = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, 'value').set;
  setter.call(this, value);
  this.dispatchEvent(new Event('input', {bubbles: true}));
  this.dispatchEvent(new Event('change', {bubbles: true}));
  return {took: same(this.value), value: this.value};
}
