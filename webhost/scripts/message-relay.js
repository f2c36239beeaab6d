// Runs in the shell's own script world, in the top frame only. The page's world and every iframe
// cannot see the native message handlers; they reach them only through this relay, over a
// MessagePort that is handed to the page world once, before any page script runs, and only in a
// document of the app's own origin.
(() => {
  'use strict';
  const APP_ORIGIN = __ORVAN_APP_ORIGIN__;
  if (window.top !== window) return;
  // Read in this world, where the page cannot redefine it. A document keeps its origin for life,
  // so every message this relay sends names the document that sent it, whatever the view is
  // loading meanwhile.
  const origin = location.origin;
  if (origin !== APP_ORIGIN) return;
  const handlers = window.webkit && window.webkit.messageHandlers;
  if (!handlers) return;
  const channel = new MessageChannel();
  const port = channel.port1;
  port.onmessage = async (event) => {
    let request;
    try {
      request = JSON.parse(event.data);
    } catch (_) {
      return;
    }
    if (!request || typeof request.id !== 'number') return;
    const handler = handlers[request.channel === 'orvanShell' ? 'orvanShell' : 'orvanRecorder'];
    let reply;
    try {
      const value = await handler.postMessage({ origin, body: request.body });
      reply = value === undefined ? { id: request.id, kind: 'none' } : { id: request.id, kind: 'value', value };
    } catch (error) {
      reply = { id: request.id, kind: 'error', message: String(error && error.message !== undefined ? error.message : error) };
    }
    port.postMessage(JSON.stringify(reply));
  };
  window.postMessage('orvan:bridge-port', '*', [channel.port2]);
})();
