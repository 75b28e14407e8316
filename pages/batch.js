// The batch screen: the front window's tabs, extracted in one go and kept
// in the library.
import { Bridge, renderNav, el, setStatus, messageOf, saveText, notifyDone } from './common.js';
import { keepArticle } from './store.js';

renderNav('batch.html');
const statusNode = document.getElementById('status');
const tabsNode = document.getElementById('tabs');
const resultsNode = document.getElementById('results');
const listButton = document.getElementById('list');
const allButton = document.getElementById('all');
const saveButton = document.getElementById('save');
let tabs = [];
let results = [];

function renderTabs(states = []) {
  if (tabs.length === 0) {
    tabsNode.replaceChildren(el('tr', {}, el('td', { colspan: '4', class: 'empty' }, 'The front window has no tabs.')));
    return;
  }
  tabsNode.replaceChildren(...tabs.map((tab, i) => el('tr', {},
    el('td', {}, String(i + 1)),
    el('td', {}, tab.title || '(untitled)'),
    el('td', { class: 'url' }, tab.url || ''),
    el('td', { class: 'state' }, states[i] || ''))));
}

async function listTabs() {
  listButton.disabled = true;
  setStatus(statusNode, 'busy', 'Listing the tabs of the front window\u2026');
  try {
    const list = await Bridge.call('get-tab-urls');
    tabs = Array.isArray(list) ? list : [];
    renderTabs();
    setStatus(statusNode, 'ok', `${tabs.length} tab${tabs.length === 1 ? '' : 's'} in the front window.`);
    allButton.disabled = tabs.length === 0;
  } catch (error) {
    tabs = [];
    renderTabs();
    allButton.disabled = true;
    setStatus(statusNode, 'error', messageOf(error));
  } finally {
    listButton.disabled = false;
  }
}

async function extractAll() {
  allButton.disabled = true;
  renderTabs(tabs.map(() => 'extracting\u2026'));
  setStatus(statusNode, 'busy', 'Extracting every tab\u2026');
  try {
    const list = await Bridge.call('extract-all-tabs');
    results = Array.isArray(list) ? list : [];
    const kept = [];
    for (const result of results) {
      try {
        kept.push(await keepArticle(result));
      } catch (error) {
        setStatus(statusNode, 'error', messageOf(error));
      }
    }
    resultsNode.replaceChildren(el('ul', { class: 'results' }, ...kept.map((r) => el('li', {},
      el('a', { href: `index.html#article=${encodeURIComponent(r.key)}` }, r.article.title)))));
    renderTabs(tabs.map((_, i) => (i < results.length ? 'done' : '')));
    setStatus(statusNode, 'ok', `${results.length} article${results.length === 1 ? '' : 's'} extracted.`);
    saveButton.disabled = results.length === 0;
    notifyDone(String(results.length));
  } catch (error) {
    renderTabs();
    setStatus(statusNode, 'error', messageOf(error));
  } finally {
    allButton.disabled = tabs.length === 0;
  }
}

async function saveResults() {
  try {
    const path = await saveText(`vesko-batch-${new Date().toISOString().slice(0, 10)}.json`, JSON.stringify(results, null, 2));
    setStatus(statusNode, 'ok', `Saved to ${path}`);
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  }
}

listButton.addEventListener('click', listTabs);
allButton.addEventListener('click', extractAll);
saveButton.addEventListener('click', saveResults);
Bridge.onAction((action) => {
  if (action === 'extract-all') listTabs().then(() => { if (tabs.length) extractAll(); });
});
if (Bridge.available) listTabs();
