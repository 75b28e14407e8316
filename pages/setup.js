// The setup guide: the command that starts the chosen browser with remote
// debugging, and a live check of the connection.
import { Bridge, renderNav, setStatus, messageOf, settings, copyText } from './common.js';
import { savePreferences } from './lib/preferences.js';
import { BROWSERS, browserName, browserInMessage, startCommand, foundMessage, adviceFor } from './lib/browsers.js';

const $ = (id) => document.getElementById(id);

function chosen() {
  const input = document.querySelector('input[name="browser"]:checked');
  return input ? input.value : '';
}

function render() {
  const choice = chosen() || 'chromium';
  $('command').textContent = startCommand(choice, navigator.platform);
  $('profile-note').textContent = choice === 'firefox'
    ? 'Run this in a terminal. Firefox then answers on port 9222 (WebDriver BiDi), with a profile of Vesko\u2019s own.'
    : `Run this in a terminal. ${BROWSERS[choice].name} refuses remote debugging on its default profile, so this starts it with a profile of Vesko\u2019s own.`;
  $('run-command').textContent = choice === 'firefox' ? 'VESKO_BROWSER=firefox scripts/run.sh' : 'scripts/run.sh';
}

// The browser that answered, which may not be the one picked: asking for a
// tab that cannot exist fails with a message naming the browser reached.
async function reachedBrowser(choice) {
  try {
    await Bridge.call('extract-tab-by-index', { tabIndex: 0 });
  } catch (error) {
    const name = browserInMessage(messageOf(error));
    if (name) return name;
  }
  return browserName(choice);
}

async function check() {
  const choice = chosen();
  $('check').disabled = true;
  $('advice').hidden = true;
  setStatus($('status'), 'busy', `Asking ${browserName(choice)} for its tabs\u2026`);
  try {
    const tabs = await Bridge.call('get-tab-urls');
    setStatus($('status'), 'ok', foundMessage(await reachedBrowser(choice), Array.isArray(tabs) ? tabs.length : 0));
  } catch (error) {
    setStatus($('status'), 'error', messageOf(error));
    $('advice').textContent = adviceFor(messageOf(error), choice);
    $('advice').hidden = false;
  } finally {
    $('check').disabled = false;
  }
}

function start() {
  renderNav('setup.html');
  const current = settings();
  const input = document.querySelector(`input[name="browser"][value="${current.browser || 'chromium'}"]`);
  if (current.browser && input) input.checked = true;
  for (const radio of document.querySelectorAll('input[name="browser"]')) {
    radio.addEventListener('change', () => {
      savePreferences(localStorage, { ...settings(), browser: chosen() });
      render();
    });
  }
  $('copy-command').addEventListener('click', async () => {
    try {
      await copyText($('command').textContent);
      setStatus($('status'), 'ok', 'Command copied: paste it into a terminal.');
    } catch (error) {
      setStatus($('status'), 'error', messageOf(error));
    }
  });
  $('check').addEventListener('click', check);
  render();
  document.documentElement.dataset.ready = 'true';
}

start();
