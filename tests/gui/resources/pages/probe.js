// Reports this page's life to the test through the "probe" handler: one
// "load" per load, one "action" per handleBridgeAction call.
(function () {
  const page = location.pathname.split('/').pop();
  function report(message) {
    message.page = page;
    window.webkit.messageHandlers.probe.postMessage(message);
  }
  window.probeReport = report;
  if (!document.documentElement.hasAttribute('data-no-actions')) {
    window.handleBridgeAction = function (action) { report({ event: 'action', action: action }); };
  }
  window.addEventListener('load', function () { report({ event: 'load' }); });
  window.addEventListener('error', function (e) { report({ event: 'error', message: String(e.message) }); });
})();
