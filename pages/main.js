// The library screen: every fetched article, newest first; search, filters
// by site and tag, open, tags, delete with undo, and a selection to export.
import {
  Bridge, renderNav, el, setStatus, messageOf, settings, formatDate, formatNumber, plural, fillSelect,
} from './common.js';
import { filterEntries, facets, parseTags, entryOf, wordsOf, newestFirst } from './lib/library.js';
import { library, summariseArticle, summaryFailure } from './store.js';

const PAGE = 60;  // rows shown at once; "Show more" adds the next ones

const $ = (id) => document.getElementById(id);
const statusNode = $('status');
const listNode = $('list');
let entries = [];
let total = 0;  // entries in the library; more than entries.length until all are read
let words = null;  // the articles' words, once read: until then search sees titles, sites, bylines and tags
let shown = PAGE;
const selected = new Set();
const excerptLength = settings().excerptLength;

function filters() {
  return { query: $('search').value, site: $('site').value, tag: $('tag').value };
}

function excerptOf(text) {
  const clean = String(text || '').replace(/\s+/g, ' ').trim();
  return clean.length > excerptLength ? `${clean.slice(0, excerptLength).trimEnd()}\u2026` : clean;
}

function tagChips(tags) {
  return tags.map((t) => el('span', { class: 'chip' }, t));
}

function entryRow(entry) {
  const details = [entry.site, formatDate(entry.published), entry.words ? plural(entry.words, 'word') : '',
    entry.minutes ? `${entry.minutes} min read` : ''].filter(Boolean).join(' \u00b7 ');
  const title = el('a', { class: 'entry-title', href: `index.html#article=${encodeURIComponent(entry.key)}`, dir: 'auto' },
    entry.title);
  return el('li', { class: 'entry', 'data-key': entry.key },
    el('input', {
      type: 'checkbox', class: 'entry-select', 'aria-label': `Select \u201c${entry.title}\u201d`,
      checked: selected.has(entry.key), onchange: (event) => toggleSelected(entry.key, event.target.checked),
    }),
    el('div', { class: 'entry-main' },
      title,
      el('div', { class: 'entry-meta' }, details, entry.hasSummary ? el('span', { class: 'chip accent' }, 'Summary') : null),
      el('div', { class: 'entry-tags' }, tagChips(entry.tags)),
      excerptLength > 0 && entry.excerpt ? el('p', { class: 'entry-excerpt', dir: 'auto' }, excerptOf(entry.excerpt)) : null),
    el('div', { class: 'entry-actions' },
      el('button', { type: 'button', 'aria-label': `Tags of \u201c${entry.title}\u201d`, onclick: () => editTags(entry) }, 'Tags'),
      el('button', { type: 'button', 'aria-label': `Delete \u201c${entry.title}\u201d`, onclick: () => remove([entry.key]) }, 'Delete')));
}

// The filters' choices, when the entries have changed.
function renderFacets() {
  const { sites, tags } = facets(entries);
  fillSelect($('site'), sites, 'All sites');
  fillSelect($('tag'), tags, 'All tags');
}

function render() {
  total = Math.max(total, entries.length);
  const found = filterEntries(entries, filters(), words);
  const filtered = found.length !== entries.length;
  $('count').textContent = filtered ? `${formatNumber(found.length)} of ${plural(total, 'article')}`
    : plural(total, 'article');
  if (!words && filters().query.trim()) $('count').textContent += ' (still reading the articles\u2019 text)';
  if (entries.length === 0) {
    listNode.replaceChildren(el('li', { class: 'empty' },
      'Your library is empty. Open an article in the browser and press ', el('kbd', {}, 'Ctrl'), '+', el('kbd', {}, 'Shift'),
      '+', el('kbd', {}, 'F'), ', or use Fetch current tab.'));
  } else if (found.length === 0) {
    listNode.replaceChildren(el('li', { class: 'empty' }, 'No article matches the search.'));
  } else {
    listNode.replaceChildren(...found.slice(0, shown).map(entryRow));
  }
  const rest = found.length - Math.min(shown, found.length);
  $('more').hidden = rest <= 0;
  $('show-more').textContent = `Show ${formatNumber(Math.min(rest, PAGE))} more (${formatNumber(rest)} not shown)`;
  renderSelection();
}

function renderSelection() {
  $('selection-bar').hidden = selected.size === 0;
  $('selection-count').textContent = `${plural(selected.size, 'article')} selected`;
}

function toggleSelected(key, on) {
  if (on) selected.add(key);
  else selected.delete(key);
  renderSelection();
}

function replaceEntries(records) {
  const keys = new Set(records.map((r) => r.key));
  entries = entries.filter((e) => !keys.has(e.key)).concat(records.map(entryOf)).sort(newestFirst);
  if (words) records.forEach((r) => words.set(r.key, wordsOf(r)));
}

async function remove(keys) {
  try {
    const removed = await (await library()).remove(...keys);
    const gone = new Set(keys);
    entries = entries.filter((e) => !gone.has(e.key));
    total -= removed.length;
    keys.forEach((k) => selected.delete(k));
    renderFacets();
    render();
    const what = removed.length === 1 ? `\u201c${removed[0].article.title}\u201d` : plural(removed.length, 'article');
    const undo = el('button', { type: 'button', class: 'link-button', onclick: () => restore(removed) }, 'Undo');
    setStatus(statusNode, 'ok', `Deleted ${what}. `, undo);
    undo.focus();
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  }
}

async function restore(records) {
  try {
    await (await library()).put(...records);
    total += records.length;
    replaceEntries(records);
    renderFacets();
    render();
    setStatus(statusNode, 'ok', `Restored ${plural(records.length, 'article')}.`);
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  }
}

function editTags(entry) {
  const row = listNode.querySelector(`li[data-key="${CSS.escape(entry.key)}"]`);
  if (!row) return;
  const holder = row.querySelector('.entry-tags');
  const input = el('input', {
    type: 'text', class: 'tag-input', value: entry.tags.join(', '), 'aria-label': `Tags of \u201c${entry.title}\u201d, separated by commas`,
    placeholder: 'Tags, separated by commas',
  });
  let done = false;
  const finish = async (save) => {
    if (done) return;
    done = true;
    if (!save) { render(); return; }
    try {
      const record = await (await library()).update(entry.key, (r) => { r.tags = parseTags(input.value); });
      replaceEntries([record]);
      renderFacets();
      render();
      listNode.querySelector(`li[data-key="${CSS.escape(entry.key)}"] .entry-title`)?.focus();
    } catch (error) {
      render();
      setStatus(statusNode, 'error', messageOf(error));
    }
  };
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') { event.preventDefault(); finish(true); }
    if (event.key === 'Escape') { event.preventDefault(); finish(false); }
  });
  input.addEventListener('blur', () => finish(true));
  holder.replaceChildren(input);
  input.focus();
  input.select();
}

function openFetch() {
  if (Bridge.available) Bridge.navigate('index.html', 'fetch');
  else window.location.href = 'index.html';
}

// Summarises the selected articles one after another. A failure that would
// repeat for every article (no key, a refused key, model or address, a busy
// service) stops the run; any other is counted and the run goes on.
async function summariseSelection() {
  const keys = entries.filter((e) => selected.has(e.key)).map((e) => e.key);
  const button = $('summarise-selected');
  button.disabled = true;
  let done = 0;
  const failures = [];
  try {
    for (const [i, key] of keys.entries()) {
      const entry = entries.find((e) => e.key === key);
      setStatus(statusNode, 'busy', `Summarising ${i + 1} of ${keys.length}: \u201c${entry ? entry.title : key}\u201d\u2026`);
      try {
        replaceEntries([await summariseArticle(key)]);
        done += 1;
        render();
      } catch (error) {
        if (['no-key', 'key', 'model', 'address', 'busy'].includes(error.kind)) {
          setStatus(statusNode, 'error', ...(done ? [`Summarised ${done} of ${keys.length}, then: `] : []), ...summaryFailure(error));
          return;
        }
        failures.push(`\u201c${entry ? entry.title : key}\u201d: ${error.message}`);
      }
    }
    if (failures.length) setStatus(statusNode, 'error', `Summarised ${done} of ${keys.length}. ${failures.join(' ')}`);
    else setStatus(statusNode, 'ok', `Summarised ${plural(done, 'article')}; the summaries are kept with them.`);
  } finally {
    button.disabled = false;
  }
}

function exportSelection() {
  sessionStorage.setItem('vesko.exportSelection', JSON.stringify([...selected]));
  window.location.href = 'export.html#selection';
}

async function start() {
  renderNav('main.html');
  $('fetch').addEventListener('click', openFetch);
  for (const id of ['site', 'tag']) $(id).addEventListener('change', () => { shown = PAGE; render(); });
  $('search').addEventListener('input', () => { shown = PAGE; render(); });
  $('show-more').addEventListener('click', () => { shown += PAGE; render(); });
  $('export-selected').addEventListener('click', exportSelection);
  $('summarise-selected').addEventListener('click', summariseSelection);
  $('delete-selected').addEventListener('click', () => remove([...selected]));
  $('clear-selection').addEventListener('click', () => { selected.clear(); render(); });
  document.addEventListener('keydown', (event) => {
    const typing = event.target.matches('input:not([type="checkbox"]), textarea, select');
    if (event.key === '/' && !typing) { event.preventDefault(); $('search').focus(); }
    if (event.key === 'Delete' && !typing) {
      const row = event.target.closest && event.target.closest('li.entry');
      if (row) { event.preventDefault(); remove([row.dataset.key]); }
    }
  });
  try {
    const db = await library();
    // The latest first, at once; then all of them, then their words.
    [entries, total] = await Promise.all([db.recent(PAGE), db.count()]);
    render();
    performance.mark('vesko:listed');
    entries = await db.entries();
    renderFacets();
    render();
    words = await db.words();
    performance.mark('vesko:words');
    if (filters().query.trim()) render();
  } catch (error) {
    render();
    setStatus(statusNode, 'error', messageOf(error));
  }
  document.documentElement.dataset.ready = 'true';
}

start();
