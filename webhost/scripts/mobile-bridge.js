// The page-side API of the recorder channel: window.orvanMobile and a window.open that sends
// ordinary links to the desktop's browser. Also owns the node the relay listens on, which it
// lends to the shell page script (injected right after it) and to no one else.
(() => {
  'use strict';
  const APP_ORIGIN = __ORVAN_APP_ORIGIN__;
  const RECORDING_SCHEME = __ORVAN_RECORDING_SCHEME__;
  const GOOGLE_SIGN_IN_HOST = __ORVAN_GOOGLE_SIGN_IN_HOST__;
  const GOOGLE_DOMAIN = __ORVAN_GOOGLE_DOMAIN__;
  const AUTH_BACKEND_SUFFIX = __ORVAN_AUTH_BACKEND_SUFFIX__;

  if (window.__orvanMobileBridge || location.origin !== APP_ORIGIN) return;
  window.__orvanMobileBridge = true;

  // The private node the relay listens on: offered once, before page scripts exist, and never
  // again once the relay has taken it.
  const stringify = JSON.stringify;
  const parse = JSON.parse;
  const pending = new Map();
  const queued = [];
  const node = document.createElement('span');
  let linked = false;
  let nextId = 1;

  const send = (message) => node.dispatchEvent(new CustomEvent('orvan:bridge-request', { detail: message }));
  node.addEventListener('orvan:bridge-reply', (reply) => {
    let answer;
    try {
      answer = parse(reply.detail);
    } catch (_) {
      return;
    }
    const waiter = answer && pending.get(answer.id);
    if (!waiter) return;
    pending.delete(answer.id);
    if (answer.kind === 'error') waiter.reject(new Error(answer.message));
    else if (answer.kind === 'none') waiter.resolve(undefined);
    else waiter.resolve(answer.value);
  });
  const offer = () => {
    if (linked) return;
    // The relay cancels the offer it takes.
    linked = !window.dispatchEvent(new MouseEvent('orvan:bridge-offer', { cancelable: true, relatedTarget: node }));
    if (!linked) return;
    window.removeEventListener('orvan:bridge-ready', offer, true);
    for (const message of queued.splice(0)) send(message);
  };
  window.addEventListener('orvan:bridge-ready', offer, true);
  offer();

  const post = (channel, body) => new Promise((resolve, reject) => {
    const id = nextId++;
    let message;
    try {
      message = stringify({ id, channel, body });
    } catch (error) {
      reject(error);
      return;
    }
    pending.set(id, { resolve, reject });
    if (linked) send(message);
    else queued.push(message);
  });

  Object.defineProperty(window, '__orvanShellTransport', {
    value: (body) => post('orvanShell', body),
    configurable: true,
  });

  const call = (cmd, args = {}) => post('orvanRecorder', { cmd, ...args });

  window.orvanMobile = {
    available: true,
    platform: 'mac',
    startMeetingRecording: () => call('start'),
    pauseMeetingRecording: () => call('pause'),
    resumeMeetingRecording: () => call('resume'),
    stopMeetingRecording: () => call('stop'),
    pendingMeetingRecording: () => call('pending'),
    async readRecording(path) {
      // The scheme fails a refused or missing file as a network error, not as a status.
      let response;
      try {
        response = await fetch(RECORDING_SCHEME + '://file' + encodeURI(path));
      } catch (_) {
        throw new Error('録音ファイルを読めませんでした');
      }
      if (!response.ok) throw new Error('録音ファイルを読めませんでした');
      return response.arrayBuffer();
    },
    discardRecording: (path) => call('discard', { path }),
    async startOAuth({ url, callbackHost, callbackPath }) {
      const result = await call('startOAuth', { url, callbackHost, callbackPath });
      return result === 'ok' || result === 'cancelled' || result === 'error' ? result : 'error';
    },
  };

  const savedOpen = window.open.bind(window);
  window.open = function (url, ...rest) {
    if (!url) return savedOpen(url, ...rest);
    let target;
    try {
      target = new URL(String(url), location.href);
    } catch (_) {
      return savedOpen(url, ...rest);
    }
    if (!/^https?:$/i.test(target.protocol)) return savedOpen(url, ...rest);
    const host = target.hostname.toLowerCase();
    if (host === GOOGLE_SIGN_IN_HOST || host.endsWith('.' + GOOGLE_DOMAIN) || host.endsWith(AUTH_BACKEND_SUFFIX)) {
      return savedOpen(url, ...rest);
    }
    call('openExternal', { url: target.href }).catch(() => {});
    return null;
  };
})();
