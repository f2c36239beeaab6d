// Adapts the web application to life inside the desktop shell: native notifications, visibility
// decided by the shell, badge polling, and reloading after a new deployment only when nobody is
// looking and nothing could be lost.
(() => {
  'use strict';
  const APP_ORIGIN = __ORVAN_APP_ORIGIN__;
  const transport = window.__orvanShellTransport;
  delete window.__orvanShellTransport;

  if (window.__orvanMacShell || location.origin !== APP_ORIGIN || typeof transport !== 'function') return;
  window.__orvanMacShell = true;

  const send = (cmd, args = {}) => transport({ cmd, ...args });
  const POLL_MS = __ORVAN_POLL_MS__;

  // What waits for the page's own load, so that it does not compete with it.
  const afterLoad = (work) => {
    if (document.readyState === 'complete') work();
    else window.addEventListener('load', () => work(), { once: true });
  };

  // Notifications.
  let notifyPermission = 'default';
  afterLoad(() => send('notificationPermission').then((answer) => {
    if (typeof answer === 'string') notifyPermission = answer;
  }, () => {}));

  const text = (value) => (value === null || value === undefined ? null : String(value));
  class ShellNotification {
    constructor(title, options) {
      const opts = options || {};
      send('notify', {
        title: title === null || title === undefined ? '' : String(title),
        body: text(opts.body),
        tag: text(opts.tag),
        sound: opts.silent !== true,
      }).catch(() => {});
    }
    close() {}
    static get permission() {
      return notifyPermission;
    }
    static async requestPermission() {
      try {
        const answer = await send('requestNotificationPermission');
        notifyPermission = typeof answer === 'string' ? answer : 'denied';
      } catch (_) {
        notifyPermission = 'denied';
      }
      return notifyPermission;
    }
  }
  window.Notification = ShellNotification;

  // Visibility follows the shell's shown/hidden signals.
  let shellHidden = false;
  try {
    Object.defineProperty(document, 'visibilityState', {
      configurable: true,
      get: () => (shellHidden ? 'hidden' : 'visible'),
    });
  } catch (_) {
    // Carry on with the engine's own value.
  }
  const setHidden = (hidden) => {
    shellHidden = hidden;
    document.dispatchEvent(new Event('visibilitychange'));
  };
  window.addEventListener('orvan:hidden', () => setHidden(true));
  window.addEventListener('orvan:shown', () => setHidden(false));

  // Badges: only the newest poll may report, and nothing is sent while signed out.
  let badgeSequence = 0;
  const pollBadges = async () => {
    const sequence = ++badgeSequence;
    try {
      const response = await fetch('/api/badges', { credentials: 'include', cache: 'no-store' });
      if (!response.ok) return;
      const counts = await response.json();
      if (sequence === badgeSequence) send('badges', { counts }).catch(() => {});
    } catch (_) {
      // The next poll tries again.
    }
  };

  // Deployments.
  let loaded = null;
  let stale = false;
  const reloadIfUnwatched = () => {
    if (!stale || document.visibilityState !== 'hidden' || window.__orvanRecordingActive === true) return;
    const active = document.activeElement;
    if (active && (active.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(active.tagName))) return;
    location.reload();
  };
  const pollDeployment = async () => {
    try {
      const response = await fetch('/api/version', { cache: 'no-store' });
      if (!response.ok) return;
      const body = await response.json();
      const id = body && typeof body === 'object' ? body.deploymentId : undefined;
      if (typeof id !== 'string') return;
      if (loaded === null) loaded = id;
      else if (id !== loaded) stale = true;
      reloadIfUnwatched();
    } catch (_) {
      // The next poll tries again.
    }
  };

  window.addEventListener('focus', () => pollBadges());
  window.addEventListener('office-badges-refresh', () => pollBadges());
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') pollBadges();
  });
  document.addEventListener('visibilitychange', reloadIfUnwatched);

  const poll = () => {
    pollBadges();
    pollDeployment();
  };
  afterLoad(poll);
  setInterval(poll, POLL_MS);
})();
