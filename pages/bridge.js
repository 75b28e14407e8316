// The page side of the native bridge, loaded as a classic script in <head>
// so that it is in place before anything else runs.
//
//   Bridge.call(action, args)  posts a request and returns a promise that the
//                              native side settles with Bridge._resolve or
//                              Bridge._reject, addressed by callback id.
//   Bridge.post(action, args)  posts a request that gets no answer
//                              ("navigate", "notify-complete").
//   Bridge.onAction(handler)   receives the page actions the application
//                              pushes with handleBridgeAction(action).
//
// Callback ids are made of letters, digits and underscores only, so they
// never need escaping inside the reply scripts.
(function () {
  'use strict';

  const pending = new Map();
  let counter = 0;
  let actionHandler = null;
  const queuedActions = [];

  function handler() {
    const handlers = window.webkit && window.webkit.messageHandlers;
    return handlers && handlers.vesko ? handlers.vesko : null;
  }

  function newCallbackId() {
    counter += 1;
    const random = Math.random().toString(36).slice(2, 10);
    return 'cb_' + Date.now().toString(36) + '_' + counter + '_' + random;
  }

  function post(action, args, callbackId) {
    const target = handler();
    if (!target) throw new Error('Vesko\u2019s native side is not available (open this page inside the Vesko window).');
    const request = Object.assign({}, args || {}, { action: action });
    if (callbackId !== undefined) request.callbackId = callbackId;
    target.postMessage(request);
  }

  const Bridge = {
    get available() {
      return handler() !== null;
    },

    call(action, args) {
      return new Promise(function (resolve, reject) {
        const callbackId = newCallbackId();
        pending.set(callbackId, { resolve: resolve, reject: reject });
        try {
          post(action, args, callbackId);
        } catch (error) {
          pending.delete(callbackId);
          reject(error);
        }
      });
    },

    post(action, args) {
      post(action, args);
    },

    navigate(page, navAction) {
      const args = { page: page };
      if (navAction) args.navAction = navAction;
      post('navigate', args);
    },

    notifyComplete(badge) {
      post('notify-complete', badge === undefined ? {} : { badge: String(badge) });
    },

    // The page's handler of pushed actions. Actions that arrived before it
    // was set (the page's modules may still be loading) are handed over now.
    onAction(fn) {
      actionHandler = fn;
      while (queuedActions.length) fn(queuedActions.shift());
    },

    _resolve(callbackId, value) {
      const entry = pending.get(callbackId);
      if (!entry) return;
      pending.delete(callbackId);
      entry.resolve(value);
    },

    _reject(callbackId, message) {
      const entry = pending.get(callbackId);
      if (!entry) return;
      pending.delete(callbackId);
      entry.reject(new Error(String(message)));
    },

    // Requests still waiting for their answer.
    get pendingCount() {
      return pending.size;
    },
  };

  window.Bridge = Bridge;
  window.handleBridgeAction = function (action) {
    if (actionHandler) actionHandler(String(action));
    else queuedActions.push(String(action));
  };
})();
