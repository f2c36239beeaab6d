// Runs in the shell's own script world, in the top frame only. The page's world and every iframe
// cannot see the native message handlers; they reach them only through this relay, over a
// MessagePort that is handed to the page world once, before any page script runs.
(() => {
  'use strict';
  if (window.top !== window) return;
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
      const value = await handler.postMessage(request.body);
      reply = value === undefined ? { id: request.id, kind: 'none' } : { id: request.id, kind: 'value', value };
    } catch (error) {
      reply = { id: request.id, kind: 'error', message: String(error && error.message !== undefined ? error.message : error) };
    }
    port.postMessage(JSON.stringify(reply));
  };
  window.postMessage('orvan:bridge-port', '*', [channel.port2]);
})();
