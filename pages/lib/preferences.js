// The settings, kept in the window's local storage (the native side keeps
// none): their defaults, their checks as typed, loading and saving.
// `storage` is a Web Storage object (localStorage) or anything with its
// getItem and setItem.

const KEY = 'vesko.settings';

const DEFAULT_API_ADDRESS = 'https://api.anthropic.com';

export const DEFAULTS = Object.freeze({
  apiKey: '',
  apiAddress: DEFAULT_API_ADDRESS,
  model: 'claude-sonnet-4-5',
  summaryTokens: 600,
  summaryInputLimit: 60000,
  excerptLength: 240,
  remoteImages: false,
  notifyOnComplete: true,
  browser: '',
});

// What each setting accepts: whole numbers within a range, or text checks.
const NUMBERS = {
  summaryTokens: [64, 4096, 'The summary length'],
  summaryInputLimit: [1000, 400000, 'The text limit'],
  excerptLength: [0, 2000, 'The excerpt length'],
};
const BROWSERS = ['', 'chromium', 'chrome', 'firefox'];

// Checks `input` (values as typed: text for fields, booleans for boxes).
// Returns the values to keep and a message per field that is wrong; the
// values of wrong fields stay as they were in `current`.
export function validatePreferences(input, current = DEFAULTS) {
  const values = { ...DEFAULTS, ...current };
  const errors = {};
  if ('apiKey' in input) {
    const key = String(input.apiKey ?? '').trim();
    if (/\s/.test(key)) errors.apiKey = 'The key has spaces inside it: paste it again, exactly as the console shows it.';
    else values.apiKey = key;
  }
  if ('apiAddress' in input) {
    const text = String(input.apiAddress ?? '').trim() || DEFAULT_API_ADDRESS;
    let url = null;
    try { url = new URL(text); } catch { url = null; }
    if (!url || !/^https?:$/.test(url.protocol) || !url.host) errors.apiAddress = 'Enter a web address such as https://api.anthropic.com.';
    else if (url.search || url.hash || (url.pathname !== '/' && url.pathname !== '')) errors.apiAddress = 'Enter the address of the service only, without a path.';
    else values.apiAddress = url.origin;
  }
  if ('model' in input) {
    const model = String(input.model ?? '').trim();
    if (!model) errors.model = 'Enter a model name, for example claude-sonnet-4-5.';
    else if (!/^[A-Za-z0-9][A-Za-z0-9._:@/-]*$/.test(model)) errors.model = 'A model name has letters, digits, dots and dashes only.';
    else values.model = model;
  }
  for (const [name, [min, max, label]] of Object.entries(NUMBERS)) {
    if (!(name in input)) continue;
    const text = String(input[name] ?? '').trim();
    const number = Number(text);
    if (!/^\d+$/.test(text) || number < min || number > max) {
      errors[name] = `${label} is a whole number from ${min.toLocaleString('en')} to ${max.toLocaleString('en')}.`;
    } else {
      values[name] = number;
    }
  }
  for (const name of ['remoteImages', 'notifyOnComplete']) {
    if (name in input) values[name] = Boolean(input[name]);
  }
  if ('browser' in input) values.browser = BROWSERS.includes(input.browser) ? input.browser : '';
  return { values, errors };
}

export function loadPreferences(storage) {
  let stored = {};
  try {
    stored = JSON.parse((storage && storage.getItem(KEY)) || '{}') || {};
  } catch {
    stored = {};
  }
  // Whatever is stored passes the same checks; what fails takes its default.
  const input = {};
  for (const name of Object.keys(DEFAULTS)) if (name in stored) input[name] = stored[name];
  return validatePreferences(input, DEFAULTS).values;
}

export function savePreferences(storage, values) {
  storage.setItem(KEY, JSON.stringify(values));
}
