// The setup guide's connection check.
import { Bridge, renderNav, setStatus, messageOf } from './common.js';

renderNav('setup.html');
const statusNode = document.getElementById('status');
document.getElementById('check').addEventListener('click', async () => {
  setStatus(statusNode, 'busy', 'Asking the browser for its tabs\u2026');
  try {
    const tabs = await Bridge.call('get-tab-urls');
    const count = Array.isArray(tabs) ? tabs.length : 0;
    setStatus(statusNode, 'ok', `Connected: the front window has ${count} tab${count === 1 ? '' : 's'}.`);
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  }
});
