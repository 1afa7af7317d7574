/* Clicks the accept button of common cookie and consent banners; answers how many it
   clicked. */
(() => {
  const words = /^(accept|accept all|accept all cookies|accept cookies|allow all|allow cookies|agree|i agree|agree and close|got it|ok|okay|consent|alle akzeptieren|akzeptieren|tout accepter|accepter|aceptar|aceptar todo|accetta|accetta tutto)$/i;
  const holders = /cookie|consent|gdpr|privacy|banner|cmp/i;
  let clicked = 0;
  for (const el of document.querySelectorAll('button, a, [role=button], input[type=button], input[type=submit]')) {
    const text = (el.innerText || el.value || '').trim();
    if (!words.test(text)) continue;
    let node = el, inBanner = false;
    for (let depth = 0; node && depth < 12; depth++, node = node.parentElement) {
      if (holders.test((node.id || '') + ' ' + (typeof node.className === 'string' ? node.className : ''))) { inBanner = true; break; }
    }
    if (!inBanner) continue;
    el.click();
    clicked++;
  }
  return clicked;
})()
