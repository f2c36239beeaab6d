// Runs in the shell's own script world, in the top frame only, where the shell's web-process
// extension puts its one native function (`__orvanPost`). The page's world and every iframe cannot
// see it; they reach the shell only through this relay, over a private
// node that the page world's bridge script hands over once, before any page script runs, and only
// in a document of the app's own origin. Requests and replies are events dispatched on that node:
// they stay inside the web process and are delivered at once, where a MessagePort would cost two
// trips through the UI process for every message.
(() => {
  'use strict';
  const APP_ORIGIN = __ORVAN_APP_ORIGIN__;
  if (window.top !== window) return;
  // Read in this world, where the page cannot redefine it. A document keeps its origin for life,
  // so every message this relay sends names the document that sent it, whatever the view is
  // loading meanwhile.
  const origin = location.origin;
  if (origin !== APP_ORIGIN) return;
  const post = globalThis.__orvanPost;
  if (typeof post !== 'function') return;

  const relay = async (node, event) => {
    let request;
    try {
      request = JSON.parse(event.detail);
    } catch (_) {
      return;
    }
    if (!request || typeof request.id !== 'number') return;
    const channel = request.channel === 'orvanShell' ? 'orvanShell' : 'orvanRecorder';
    const reply = await new Promise((resolve) => {
      post(channel, JSON.stringify({ origin, body: request.body }), (kind, text) => {
        if (kind === 'error') resolve({ id: request.id, kind: 'error', message: text });
        else if (kind === 'none') resolve({ id: request.id, kind: 'none' });
        else resolve({ id: request.id, kind: 'value', value: kind === 'null' ? null : text });
      });
    });
    node.dispatchEvent(new CustomEvent('orvan:bridge-reply', { detail: JSON.stringify(reply) }));
  };

  // The first offer wins; both scripts run before the page's, in whichever order the engine picks,
  // so the bridge offers at once and again when this relay says it is ready.
  const onOffer = (event) => {
    const node = event.relatedTarget;
    if (!node || typeof node.addEventListener !== 'function') return;
    event.stopImmediatePropagation();
    event.preventDefault();
    window.removeEventListener('orvan:bridge-offer', onOffer, true);
    node.addEventListener('orvan:bridge-request', (request) => relay(node, request));
  };
  window.addEventListener('orvan:bridge-offer', onOffer, true);
  window.dispatchEvent(new Event('orvan:bridge-ready'));
})();
