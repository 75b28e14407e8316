// The batch screen: the front window's tabs with a box each; the ticked
// ones are extracted one at a time into the library, with a state per row,
// a progress bar and a Cancel that stops after the tab in hand.
import { Bridge, renderNav, el, setStatus, messageOf, notifyDone } from './common.js';
import { runBatch, batchSummary } from './lib/batch.js';
import { articleKey } from './lib/library.js';
import { keepArticle } from './store.js';

const $ = (id) => document.getElementById(id);
const statusNode = $('status');
let tabs = [];
let rows = [];  // per tab: {box, state}
let running = false;
let cancelRequested = false;

const STATE_TEXT = { waiting: 'Waiting', working: 'Working\u2026', done: 'Done', failed: 'Failed', cancelled: 'Cancelled' };

function setRowState(index, state, detail) {
  const cell = rows[index].state;
  cell.className = `state ${state}`;
  const parts = [STATE_TEXT[state] || ''];
  if (state === 'done' && detail) {
    parts.push(' \u00b7 ', el('a', { href: `index.html#article=${encodeURIComponent(detail.key)}` }, 'Open'));
  }
  if (state === 'failed' && detail) parts.push(el('span', { class: 'state-detail' }, detail));
  cell.replaceChildren(...parts);
}

function selectedIndices() {
  return rows.map((row, i) => (row.box.checked ? i : -1)).filter((i) => i >= 0);
}

function updateButtons() {
  const count = selectedIndices().length;
  $('extract').textContent = `Extract selected (${count})`;
  $('extract').disabled = running || count === 0;
  for (const id of ['select-all', 'select-none', 'extract-all', 'refresh']) $(id).disabled = running || (id !== 'refresh' && !tabs.length);
  $('cancel').hidden = !running;
  if (!running) $('cancel').disabled = false;
  rows.forEach((row) => { row.box.disabled = running; });
}

function renderTabs() {
  if (tabs.length === 0) {
    rows = [];
    $('tabs').replaceChildren(el('tr', {}, el('td', { colspan: '4', class: 'empty' }, 'The front window has no tabs.')));
    updateButtons();
    return;
  }
  rows = tabs.map((tab, i) => {
    const box = el('input', { type: 'checkbox', checked: true, 'aria-label': `Select tab ${i + 1}: ${tab.title || tab.url || 'untitled'}`,
      onchange: updateButtons });
    const state = el('td', { class: 'state' });
    return { box, state, row: el('tr', {},
      el('td', {}, box),
      el('td', { class: 'number' }, String(i + 1)),
      el('td', { class: 'tab' }, el('div', { class: 'tab-title', dir: 'auto' }, tab.title || '(untitled)'), el('div', { class: 'url' }, tab.url || '')),
      state) };
  });
  // One replacement for all rows: fifty tabs appear at once.
  $('tabs').replaceChildren(...rows.map((r) => r.row));
  updateButtons();
}

async function listTabs() {
  $('refresh').disabled = true;
  setStatus(statusNode, 'busy', 'Listing the tabs of the front window\u2026');
  try {
    const list = await Bridge.call('get-tab-urls');
    tabs = Array.isArray(list) ? list : [];
    renderTabs();
    setStatus(statusNode, 'ok', `${tabs.length} tab${tabs.length === 1 ? '' : 's'} in the front window.`);
  } catch (error) {
    tabs = [];
    renderTabs();
    setStatus(statusNode, 'error', messageOf(error));
  } finally {
    updateButtons();
  }
}

function showProgress(done, total) {
  $('progress-row').hidden = false;
  $('progress').max = total;
  $('progress').value = done;
  $('progress-text').textContent = `${done} of ${total}`;
}

function finish(counts) {
  const text = batchSummary(counts);
  setStatus(statusNode, counts.failed ? 'error' : 'ok', `${text}.`);
  if (counts.done) notifyDone(String(counts.done));
}

async function extractSelected() {
  const indices = selectedIndices();
  if (!indices.length || running) return;
  running = true;
  cancelRequested = false;
  updateButtons();
  indices.forEach((i) => setRowState(i, 'waiting'));
  let finished = 0;
  showProgress(0, indices.length);
  setStatus(statusNode, 'busy', `Extracting ${indices.length} tab${indices.length === 1 ? '' : 's'}\u2026`);
  const counts = await runBatch({
    tabs,
    indices,
    bridge: Bridge,
    keep: keepArticle,
    cancelled: () => cancelRequested,
    onState: (index, state, detail) => {
      setRowState(index, state, detail);
      if (state !== 'working') showProgress(++finished, indices.length);
    },
  });
  running = false;
  updateButtons();
  finish(counts);
}

// The one-shot path: every tab in one request.
async function extractAll() {
  if (running || !tabs.length) return;
  running = true;
  updateButtons();
  rows.forEach((_, i) => setRowState(i, 'working'));
  setStatus(statusNode, 'busy', 'Extracting every tab in one go\u2026');
  const counts = { done: 0, failed: 0, cancelled: 0 };
  try {
    const results = await Bridge.call('extract-all-tabs');
    const byKey = new Map();
    for (const result of Array.isArray(results) ? results : []) {
      try {
        byKey.set(articleKey(result.url), await keepArticle(result));
      } catch (error) {
        byKey.set(articleKey(result && result.url), error);
      }
    }
    tabs.forEach((tab, i) => {
      const kept = byKey.get(articleKey(tab.url));
      if (kept && !(kept instanceof Error)) { counts.done += 1; setRowState(i, 'done', kept); }
      else { counts.failed += 1; setRowState(i, 'failed', kept ? messageOf(kept) : 'The browser gave no article for this tab.'); }
    });
    finish(counts);
  } catch (error) {
    rows.forEach((_, i) => setRowState(i, 'failed'));
    setStatus(statusNode, 'error', messageOf(error));
  } finally {
    running = false;
    updateButtons();
  }
}

function start() {
  renderNav('batch.html');
  $('refresh').addEventListener('click', listTabs);
  $('select-all').addEventListener('click', () => { rows.forEach((r) => { r.box.checked = true; }); updateButtons(); });
  $('select-none').addEventListener('click', () => { rows.forEach((r) => { r.box.checked = false; }); updateButtons(); });
  $('extract').addEventListener('click', extractSelected);
  $('extract-all').addEventListener('click', extractAll);
  $('cancel').addEventListener('click', () => {
    cancelRequested = true;
    $('cancel').disabled = true;
    setStatus(statusNode, 'busy', 'Stopping after the tab in hand\u2026');
  });
  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape' && running && !cancelRequested) $('cancel').click();
  });
  Bridge.onAction((action) => {
    if (action === 'extract-all') listTabs().then(extractAll);
  });
  if (Bridge.available) listTabs();
  else setStatus(statusNode, 'error', 'Open this page in the Vesko window to list the browser\u2019s tabs.');
  document.documentElement.dataset.ready = 'true';
}

start();
