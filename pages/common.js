// What every screen shares: the navigation bar, element building, status
// lines, the settings, saving files through the bridge.
// bridge.js, a classic script in every page's <head>, defines window.Bridge.
import { loadPreferences } from './lib/preferences.js';

export const Bridge = window.Bridge;

const SCREENS = [
  ['main.html', 'Library'],
  ['index.html', 'Fetch'],
  ['batch.html', 'Batch'],
  ['export.html', 'Vavadavu'],
  ['settings.html', 'Settings'],
  ['setup.html', 'Setup'],
];

export function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

export function renderNav(current) {
  const nav = document.querySelector('nav.topbar');
  if (!nav) return;
  nav.setAttribute('aria-label', 'Screens');
  nav.replaceChildren(
    el('span', { class: 'brand' }, 'Vesko'),
    ...SCREENS.map(([file, label]) =>
      el('a', { href: file, class: file === current ? 'active' : null, 'aria-current': file === current ? 'page' : null },
        label)),
  );
}

// Fills a filter's choices with `values` after the "all" choice, keeping the
// chosen one while it is still there.
export function fillSelect(select, values, allLabel) {
  const current = select.value;
  select.replaceChildren(el('option', { value: '' }, allLabel), ...values.map((v) => el('option', { value: v }, v)));
  select.value = values.includes(current) ? current : '';
}

// Shows `text` in a status line; kind is busy, ok, error or '' (hidden when
// there is no text). Errors are announced at once, the rest politely.
export function setStatus(node, kind, text, ...extra) {
  node.className = `status ${kind}`;
  node.setAttribute('role', kind === 'error' ? 'alert' : 'status');
  node.replaceChildren(text || '', ...extra);
  node.hidden = !text;
}

export function messageOf(error) {
  return (error && error.message) || String(error || 'Something went wrong.');
}

export function settings() {
  return loadPreferences(window.localStorage);
}

// Tells the application a piece of work is done (dock badge and attention)
// when the settings want it and the window is not in front.
export function notifyDone(badge) {
  if (!settings().notifyOnComplete || document.hasFocus()) return;
  try {
    Bridge.notifyComplete(badge);
  } catch {
    // Outside the application window there is no dock to tell.
  }
}

export function parseHTML(html) {
  return new DOMParser().parseFromString(html, 'text/html');
}

// UTF-8 text as Base64, in chunks so long articles do not overflow the stack.
function toBase64(text) {
  const bytes = new TextEncoder().encode(text);
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(binary);
}

// Saves `text` as `name` in the Downloads folder; resolves with its path.
export function saveText(name, text) {
  return Bridge.call('save-file', { base64: toBase64(text), filename: name });
}

// Copies `text` to the clipboard, with the older route where the newer is refused.
export async function copyText(text) {
  try {
    await navigator.clipboard.writeText(text);
    return;
  } catch {
    const area = el('textarea', { class: 'offscreen', 'aria-hidden': 'true' });
    area.value = text;
    document.body.append(area);
    area.select();
    const copied = document.execCommand('copy');
    area.remove();
    if (!copied) throw new Error('The clipboard refused the text.');
  }
}

// Formatters are made once: making one costs more than using it.
const DATE = new Intl.DateTimeFormat(undefined, { year: 'numeric', month: 'short', day: 'numeric' });
const DAY = new Intl.DateTimeFormat(undefined, { year: 'numeric', month: 'short', day: 'numeric', timeZone: 'UTC' });
const NUMBER = new Intl.NumberFormat();

export function formatDate(iso) {
  if (!iso) return '';
  const date = new Date(iso);
  if (Number.isNaN(date.getTime())) return iso;
  // A date without a time is the same day everywhere.
  return (/^\d{4}-\d{2}-\d{2}$/.test(iso) ? DAY : DATE).format(date);
}

export function formatNumber(count) {
  return NUMBER.format(count);
}

export function plural(count, one, many = `${one}s`) {
  return `${NUMBER.format(count)} ${count === 1 ? one : many}`;
}
