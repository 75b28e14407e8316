// Vavadavu: exports articles of the library (all of them, a search's
// results, or the ticked ones) as JSON, Markdown or CSV into Downloads,
// and shows where each file landed or why it did not.
import { renderNav, el, setStatus, messageOf, saveText, plural, formatNumber, fillSelect } from './common.js';
import { filterEntries, facets } from './lib/library.js';
import { jsonExport, markdownFiles, combinedMarkdown, csvExport, fileStem, timeStamp } from './lib/formats.js';
import { library } from './store.js';

const SHOWN = 100;  // ticking rows shown at once; the search narrows the rest
const $ = (id) => document.getElementById(id);
const statusNode = $('status');
let entries = [];
let words = null;  // the articles' words, once read
const ticked = new Set();

const choice = (name) => document.querySelector(`input[name="${name}"]:checked`).value;

function matching() {
  return filterEntries(entries, { query: $('search').value, site: $('site').value, tag: $('tag').value }, words);
}

function renderCounts(found = matching()) {
  $('count-all').textContent = `(${formatNumber(entries.length)})`;
  $('count-search').textContent = `(${formatNumber(found.length)})`;
  $('count-selected').textContent = `(${formatNumber(ticked.size)})`;
}

function renderChoices() {
  const found = matching();
  const rows = found.slice(0, SHOWN).map((entry) => el('li', {},
    el('label', { class: 'check' },
      el('input', {
        type: 'checkbox', checked: ticked.has(entry.key),
        onchange: (event) => {
          if (event.target.checked) ticked.add(entry.key);
          else ticked.delete(entry.key);
          document.querySelector('input[name="scope"][value="selected"]').checked = true;
          renderCounts();
        },
      }),
      el('span', { dir: 'auto' }, entry.title, el('span', { class: 'muted' }, entry.site ? ` \u00b7 ${entry.site}` : '')))));
  if (found.length > SHOWN) rows.push(el('li', { class: 'muted' }, `${formatNumber(found.length - SHOWN)} more: narrow the search to see them.`));
  if (entries.length === 0) rows.push(el('li', { class: 'empty' }, 'The library is empty: fetch articles first.'));
  $('choices').replaceChildren(...rows);
  renderCounts(found);
}

function chosenKeys() {
  const scope = choice('scope');
  if (scope === 'selected') return entries.filter((e) => ticked.has(e.key)).map((e) => e.key);
  return (scope === 'search' ? matching() : entries).map((e) => e.key);
}

function renderNameField() {
  const format = choice('format');
  $('name-field').hidden = format === 'markdown-files';
}

// The files of one export: [{name, text}].
function filesFor(records, format, stem) {
  if (format === 'markdown-files') return markdownFiles(records);
  if (format === 'markdown-one') return [{ name: `${stem}.md`, text: combinedMarkdown(records) }];
  if (format === 'csv') return [{ name: `${stem}.csv`, text: csvExport(records) }];
  return [{ name: `${stem}.json`, text: jsonExport(records) }];
}

async function exportChosen(event) {
  event.preventDefault();
  const keys = chosenKeys();
  if (keys.length === 0) {
    setStatus(statusNode, 'error', choice('scope') === 'selected' ? 'Tick the articles to export first.' : 'There are no articles to export.');
    return;
  }
  $('export').disabled = true;
  $('results').replaceChildren();
  try {
    setStatus(statusNode, 'busy', `Reading ${plural(keys.length, 'article')} from the library\u2026`);
    const db = await library();
    const records = (await Promise.all(keys.map((k) => db.get(k)))).filter(Boolean);
    const stem = fileStem($('filename').value, `vesko-export-${timeStamp()}`);
    const files = filesFor(records, choice('format'), stem);
    let failed = 0;
    for (const [i, file] of files.entries()) {
      setStatus(statusNode, 'busy', `Saving ${file.name} (${i + 1} of ${files.length})\u2026`);
      const row = el('li', {}, el('span', { class: 'file-name' }, file.name), ' ');
      try {
        const path = await saveText(file.name, file.text);
        row.classList.add('ok');
        row.append(el('span', { class: 'muted' }, `saved to ${path}`));
      } catch (error) {
        failed += 1;
        row.classList.add('error');
        row.append(el('span', {}, `not saved: ${messageOf(error)}`));
      }
      $('results').append(row);
    }
    const what = `${plural(records.length, 'article')} in ${plural(files.length, 'file')}`;
    if (failed) setStatus(statusNode, 'error', `${plural(failed, 'file')} of ${files.length} could not be saved (${what}).`);
    else setStatus(statusNode, 'ok', `Exported ${what}.`);
    statusNode.scrollIntoView({ block: 'nearest' });
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  } finally {
    $('export').disabled = false;
  }
}

async function start() {
  renderNav('export.html');
  $('filename').placeholder = `vesko-export-${timeStamp()}`;
  $('form').addEventListener('submit', exportChosen);
  for (const input of document.querySelectorAll('input[name="format"]')) input.addEventListener('change', renderNameField);
  const refilter = () => {
    if (choice('scope') === 'all' && ($('search').value || $('site').value || $('tag').value)) {
      document.querySelector('input[name="scope"][value="search"]').checked = true;
    }
    renderChoices();
  };
  $('search').addEventListener('input', refilter);
  $('site').addEventListener('change', refilter);
  $('tag').addEventListener('change', refilter);
  $('tick-shown').addEventListener('click', () => {
    matching().slice(0, SHOWN).forEach((e) => ticked.add(e.key));
    document.querySelector('input[name="scope"][value="selected"]').checked = true;
    renderChoices();
  });
  $('untick-all').addEventListener('click', () => { ticked.clear(); renderChoices(); });
  renderNameField();
  try {
    entries = await (await library()).entries();
    const { sites, tags } = facets(entries);
    fillSelect($('site'), sites, 'All sites');
    fillSelect($('tag'), tags, 'All tags');
    // A selection handed over by the library screen.
    if (window.location.hash === '#selection') {
      const keys = JSON.parse(sessionStorage.getItem('vesko.exportSelection') || '[]');
      keys.forEach((k) => ticked.add(k));
      if (ticked.size) document.querySelector('input[name="scope"][value="selected"]').checked = true;
    }
    renderChoices();
    words = await (await library()).words();
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  }
  renderChoices();
  document.documentElement.dataset.ready = 'true';
}

start();
