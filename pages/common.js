// Helpers shared by the screens: navigation bar, element building, settings
// and the last results kept between screens.
// bridge.js, a classic script in every page's <head>, defines window.Bridge.
export const Bridge = window.Bridge;

const SCREENS = [
  ['main.html', 'Home'],
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
    if (child === null || child === undefined) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

export function renderNav(current) {
  const nav = document.querySelector('nav.topbar');
  if (!nav) return;
  nav.replaceChildren(
    el('span', { class: 'brand' }, 'Vesko'),
    ...SCREENS.map(([file, label]) =>
      el('a', { href: file, class: file === current ? 'active' : null }, label)),
  );
}

const SETTINGS_KEY = 'vesko.settings';
const DEFAULTS = { excerptLength: 600, notifyOnComplete: true, apiKey: '' };

export function loadSettings() {
  try {
    return Object.assign({}, DEFAULTS, JSON.parse(localStorage.getItem(SETTINGS_KEY) || '{}'));
  } catch {
    return Object.assign({}, DEFAULTS);
  }
}

export function saveSettings(settings) {
  localStorage.setItem(SETTINGS_KEY, JSON.stringify(settings));
}

const RESULTS_KEY = 'vesko.lastResults';

export function rememberResults(results) {
  try {
    localStorage.setItem(RESULTS_KEY, JSON.stringify(results));
  } catch {
    // Storage full or unavailable: the results are still on screen.
  }
}

export function lastResults() {
  try {
    return JSON.parse(localStorage.getItem(RESULTS_KEY) || 'null');
  } catch {
    return null;
  }
}

export function excerpt(text, length) {
  const clean = String(text || '').replace(/\s+/g, ' ').trim();
  return clean.length > length ? `${clean.slice(0, length)}\u2026` : clean;
}

// UTF-8 text as Base64, in chunks so long articles do not overflow the stack.
export function toBase64(text) {
  const bytes = new TextEncoder().encode(text);
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(binary);
}

export function slug(text, fallback = 'article') {
  const base = String(text || '').toLowerCase().replace(/[^a-z0-9]+/g, '-').replace(/^-+|-+$/g, '').slice(0, 60);
  return base || fallback;
}

export function setStatus(node, kind, text) {
  node.className = `status ${kind}`;
  node.textContent = text;
  node.hidden = !text;
}

export function notifyDone(badge) {
  if (!loadSettings().notifyOnComplete) return;
  try {
    Bridge.notifyComplete(badge);
  } catch {
    // Outside the application window there is no dock to tell.
  }
}

// The article's readable text: the extraction's own text when it has one,
// else the text of its HTML, parsed into an inert document (nothing in it
// runs or loads).
export function articleText(result) {
  if (result.raw_text) return result.raw_text;
  if (!result.raw_html) return '';
  const doc = new DOMParser().parseFromString(result.raw_html, 'text/html');
  doc.querySelectorAll('script, style, noscript, template, nav, header, footer, aside').forEach((n) => n.remove());
  const root = doc.querySelector('article') || doc.querySelector('main') || doc.body;
  if (!root) return '';
  const blocks = [...root.querySelectorAll('p, h2, h3, li, blockquote')].map((n) => n.textContent.trim()).filter(Boolean);
  return blocks.length ? blocks.join('\n') : root.textContent;
}

export function articleCard(result, excerptLength) {
  const text = articleText(result);
  const date = result.url_date ? el('span', { class: 'chip' }, result.url_date) : null;
  const publication = result.publication ? el('span', { class: 'chip' }, result.publication) : null;
  return el('article', { class: 'card article' },
    el('h2', { class: 'article-title' }, result.title || '(untitled)'),
    el('div', { class: 'meta' }, publication, date,
      el('a', { class: 'url', href: result.url || '#', target: '_blank', rel: 'noopener' }, result.url || '')),
    el('p', { class: 'excerpt' }, excerpt(text, excerptLength) || 'No text found on this page.'),
    el('div', { class: 'stats' },
      `${text.length.toLocaleString()} characters of text \u00b7 `,
      `${(result.raw_html || '').length.toLocaleString()} characters of HTML`));
}
