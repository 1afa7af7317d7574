/* The elements a Playwright-style locator names, in document order, open shadow roots
   included:
     text=Sign in        visible text containing "Sign in" (case and spacing ignored)
     text="Sign in"      visible text that is exactly "Sign in" (spacing ignored)
     role=button[name="Sign in"]   role, then [name="..."] (exact) or [name=...] (contains,
                         case ignored), and states: [checked], [disabled=false], [level=2]
   For text, the innermost elements holding the text. `this` is the element to search in,
   or undefined for the page. Answers {elements} or {error} for a locator it cannot read. */
function(facts, locator) {
  const scope = this instanceof Element ? this : document;
  const all = [];
  const walk = (root) => {
    for (const e of root.querySelectorAll('*')) {
      all.push(e);
      if (e.shadowRoot) walk(e.shadowRoot);
    }
  };
  walk(scope);
  const visible = (e) => e.checkVisibility({visibilityProperty: true});
  const unquote = (text) => {
    const m = /^\s*(["'])(.*)\1\s*$/s.exec(text);
    return m ? {text: m[2], exact: true} : {text: text.trim(), exact: false};
  };
  const matcher = (wanted) => {
    const target = facts.clean(wanted.text);
    if (wanted.exact) return (have) => facts.clean(have) === target;
    const lower = target.toLowerCase();
    return (have) => facts.clean(have).toLowerCase().includes(lower);
  };
  const ownText = (e) => {
    if (e.tagName === 'INPUT' && ['button', 'submit', 'reset'].includes(e.type)) return e.value;
    return e.innerText || '';
  };
  if (locator.startsWith('text=')) {
    const wanted = unquote(locator.slice(5));
    if (!wanted.text) return {error: 'text= needs the text to look for'};
    const test = matcher(wanted);
    const hits = all.filter((e) => visible(e) && test(ownText(e)));
    // A parent whose text holds its child's text matches too: keep the innermost (across
    // shadow roots: a host holds what its shadow root shows). Each hit marks its ancestors,
    // up to the first one marked already, so a text every element holds costs one walk of
    // the page instead of one per pair of hits.
    const holdsAHit = new Set();
    for (const e of hits) {
      for (let n = e.parentNode || e.host; n && !holdsAHit.has(n); n = n.parentNode || n.host) holdsAHit.add(n);
    }
    return {elements: hits.filter((e) => !holdsAHit.has(e))};
  }
  if (locator.startsWith('role=')) {
    const m = /^role=([A-Za-z-]+)((?:\[[^\]]*\])*)\s*$/.exec(locator);
    if (!m) return {error: 'a role locator reads role=ROLE or role=ROLE[name="NAME"]'};
    const role = m[1];
    const tests = [];
    for (const [, body] of m[2].matchAll(/\[([^\]]*)\]/g)) {
      const a = /^\s*([a-z-]+)\s*(?:=\s*(.*?))?\s*$/s.exec(body);
      if (!a) return {error: 'cannot read [' + body + '] in ' + locator};
      const [, key, raw] = a;
      if (key === 'name') {
        if (raw === undefined) return {error: '[name] needs a value: [name="Sign in"]'};
        const test = matcher(unquote(raw));
        tests.push((e, r) => test(facts.nameOf(e, r)));
      } else if (['checked', 'disabled', 'expanded', 'pressed', 'selected', 'level'].includes(key)) {
        const want = raw === undefined ? true : unquote(raw).text;
        tests.push((e, r) => {
          const state = facts.statesOf(e, r)[key];
          return key === 'level' ? String(state) === String(want) : String(state === undefined ? false : state) === String(want);
        });
      } else {
        return {error: 'unknown [' + key + '] in ' + locator + '; use name, checked, disabled, expanded, pressed, selected or level'};
      }
    }
    const found = all.filter((e) => {
      const r = facts.roleOf(e);
      return r === role && visible(e) && !e.closest('[aria-hidden="true"],[inert]') && tests.every((t) => t(e, r));
    });
    return {elements: found};
  }
  return {error: 'not a text= or role= locator'};
}
