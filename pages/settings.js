// The settings screen: each setting checked as it is typed and kept as soon
// as it is valid; the key can be shown, removed and tested.
import { Bridge, renderNav, setStatus } from './common.js';
import { loadPreferences, savePreferences, validatePreferences } from './lib/preferences.js';
import { testKey } from './lib/messages.js';

const $ = (id) => document.getElementById(id);
const TEXT_FIELDS = ['apiKey', 'model', 'summaryTokens', 'summaryInputLimit', 'apiAddress', 'excerptLength'];
const BOXES = ['remoteImages', 'notifyOnComplete'];
let savedTimer = null;

function saved(text) {
  $('saved').textContent = text;
  clearTimeout(savedTimer);
  savedTimer = setTimeout(() => { $('saved').textContent = ''; }, 4000);
}

function showError(name, message) {
  const input = $(name);
  const note = $(`${name}-error`);
  input.setAttribute('aria-invalid', message ? 'true' : 'false');
  note.textContent = message || '';
  note.hidden = !message;
}

// Checks one setting as typed; keeps it when it is valid.
function change(name, value) {
  const current = loadPreferences(localStorage);
  const { values, errors } = validatePreferences({ [name]: value }, current);
  if (TEXT_FIELDS.includes(name)) showError(name, errors[name]);
  if (errors[name]) return false;
  if (values[name] !== current[name]) {
    savePreferences(localStorage, values);
    saved('Saved.');
  }
  return true;
}

function fill() {
  const values = loadPreferences(localStorage);
  for (const name of TEXT_FIELDS) {
    $(name).value = values[name];
    showError(name, '');
  }
  for (const name of BOXES) $(name).checked = values[name];
}

async function test() {
  const button = $('test');
  if (!change('apiKey', $('apiKey').value)) return;
  button.disabled = true;
  setStatus($('status'), 'busy', 'Asking the service with the smallest request\u2026');
  try {
    const model = await testKey(Bridge, loadPreferences(localStorage));
    setStatus($('status'), 'ok', `The key works: ${model} answered.`);
  } catch (error) {
    setStatus($('status'), 'error', error.message || String(error));
  } finally {
    button.disabled = false;
  }
}

function start() {
  renderNav('settings.html');
  fill();
  $('form').addEventListener('submit', (event) => event.preventDefault());
  for (const name of TEXT_FIELDS) {
    $(name).addEventListener('input', () => change(name, $(name).value));
    // Leaving a field shows it as kept (a blank address is the default).
    $(name).addEventListener('change', () => { if (change(name, $(name).value)) $(name).value = loadPreferences(localStorage)[name]; });
  }
  for (const name of BOXES) $(name).addEventListener('change', () => change(name, $(name).checked));
  $('show-key').addEventListener('click', () => {
    const shown = $('apiKey').type === 'text';
    $('apiKey').type = shown ? 'password' : 'text';
    $('show-key').textContent = shown ? 'Show' : 'Hide';
    $('show-key').setAttribute('aria-pressed', String(!shown));
  });
  $('remove-key').addEventListener('click', () => {
    $('apiKey').value = '';
    change('apiKey', '');
    setStatus($('status'), 'ok', 'The key was removed from this window\u2019s storage.');
  });
  $('test').addEventListener('click', test);
  if (!Bridge.available) setStatus($('status'), 'error', 'Open this page in the Vesko window to test the key.');
  document.documentElement.dataset.ready = 'true';
}

start();
