// Evaluates scripts the native side sends to the page, against a stub page
// that records every call of Bridge._resolve, Bridge._reject and
// handleBridgeAction. Input on stdin: a JSON array of script texts. Output on
// stdout: a JSON array of the recorded calls, in order.
'use strict';
const fs = require('fs');
const vm = require('vm');

const scripts = JSON.parse(fs.readFileSync(0, 'utf8'));
const calls = [];
const page = vm.createContext({});
page.Bridge = {
  _resolve(id, value) { calls.push({ call: 'resolve', id, value }); },
  _reject(id, message) { calls.push({ call: 'reject', id, message }); },
};
page.handleBridgeAction = (action) => { calls.push({ call: 'action', action }); };

for (const script of scripts) {
  try {
    vm.runInContext(script, page);
  } catch (e) {
    calls.push({ call: 'error', message: String(e && e.message || e) });
  }
}
// Values built inside the page context are plain data; JSON carries them out.
process.stdout.write(JSON.stringify(calls));
