// The settings screen.
import { Bridge, renderNav, setStatus, messageOf } from './common.js';
import { loadPreferences, savePreferences, validatePreferences } from './lib/preferences.js';

renderNav('settings.html');
const statusNode = document.getElementById('status');
const fields = {
  excerptLength: document.getElementById('excerptLength'),
  notifyOnComplete: document.getElementById('notifyOnComplete'),
  remoteImages: document.getElementById('remoteImages'),
  apiKey: document.getElementById('apiKey'),
};

const settings = loadPreferences(localStorage);
fields.excerptLength.value = settings.excerptLength;
fields.notifyOnComplete.checked = settings.notifyOnComplete;
fields.remoteImages.checked = settings.remoteImages;
fields.apiKey.value = settings.apiKey;

document.getElementById('form').addEventListener('submit', (event) => {
  event.preventDefault();
  const { values, errors } = validatePreferences({
    excerptLength: fields.excerptLength.value, notifyOnComplete: fields.notifyOnComplete.checked,
    remoteImages: fields.remoteImages.checked, apiKey: fields.apiKey.value,
  }, loadPreferences(localStorage));
  const problems = Object.values(errors);
  if (problems.length) { setStatus(statusNode, 'error', problems.join(' ')); return; }
  savePreferences(localStorage, values);
  setStatus(statusNode, 'ok', 'Settings saved.');
});

document.getElementById('test').addEventListener('click', async () => {
  const key = fields.apiKey.value.trim();
  if (!key) { setStatus(statusNode, 'error', 'Enter an API key first.'); return; }
  setStatus(statusNode, 'busy', 'Asking the service\u2026');
  try {
    const answer = await Bridge.call('proxy-fetch', {
      url: 'https://api.anthropic.com/v1/models',
      method: 'GET',
      headers: { 'x-api-key': key, 'anthropic-version': '2023-06-01' },
    });
    if (answer.status >= 200 && answer.status < 300) setStatus(statusNode, 'ok', 'The key works.');
    else setStatus(statusNode, 'error', `The service answered with status ${answer.status}.`);
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  }
});
