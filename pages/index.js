// The fetch screen: fetches the browser's current tab (button, menu or hot
// key), keeps it in the library and shows it in the reader; opened from
// the library with #article=<address> it shows that article.
import {
  Bridge, renderNav, el, setStatus, messageOf, settings, notifyDone, parseHTML, saveText, copyText, formatDate, formatNumber,
  plural,
} from './common.js';
import { library, keepArticle, summariseArticle, summaryFailure } from './store.js';
import { readerDocument } from './lib/view.js';
import { summaryInput } from './lib/messages.js';
import { recordMarkdown, fileStem, exportItem } from './lib/formats.js';
import { parseTags } from './lib/library.js';

const $ = (id) => document.getElementById(id);
const statusNode = $('status');
const ACTIONS = ['save-markdown', 'copy-markdown', 'save-json', 'save-fixture', 'open-original', 'summarise'];
let current = null;  // the record shown
let fetching = false;

function enableActions(on) {
  for (const id of ACTIONS) $(id).disabled = !on;
}

function metaRow(label, ...value) {
  return [el('dt', {}, label), el('dd', { dir: 'auto' }, ...value)];
}

function languageName(code) {
  try {
    const name = new Intl.DisplayNames(undefined, { type: 'language' }).of(code);
    return name && name !== code ? `${name} (${code})` : code;
  } catch {
    return code;
  }
}

// Only web addresses become links: nothing else may be opened from here.
function isWebAddress(url) {
  return /^https?:\/\//i.test(String(url || ''));
}

function show(record) {
  current = record;
  const a = record.article;
  $('empty').hidden = true;
  $('reader').hidden = false;
  $('meta').replaceChildren(
    ...metaRow('Title', a.title),
    ...(a.byline ? metaRow('By', a.byline) : []),
    ...(a.siteName ? metaRow('Site', a.siteName) : []),
    ...(a.publishedTime ? metaRow('Published', formatDate(a.publishedTime)) : []),
    ...metaRow('Address', isWebAddress(a.url)
      ? el('a', { href: a.url, target: '_blank', rel: 'noopener noreferrer', class: 'url' }, a.url)
      : el('span', { class: 'url' }, a.url)),
    ...(a.lang ? metaRow('Language', languageName(a.lang)) : []),
    ...metaRow('Length', a.wordCount ? `${plural(a.wordCount, 'word')} \u00b7 ${a.readingMinutes} min read` : 'No text'),
    ...metaRow('Fetched', formatDate(record.fetched)));
  $('tags').value = (record.tags || []).join(', ');
  $('notes').value = record.notes || '';
  const notice = $('notice');
  if (!a.textContent) {
    notice.textContent = 'The page gave no text to read (an empty page, a PDF viewer or a page that draws its text itself). Its address and title are kept.';
  } else if (!a.readerable) {
    notice.textContent = 'This page does not look like an article; the reader shows the text it could find.';
  } else {
    notice.textContent = '';
  }
  notice.hidden = !notice.textContent;
  showSummary(record);
  $('article').srcdoc = readerDocument(a, { remoteImages: settings().remoteImages, parseHTML });
  enableActions(true);
  document.title = `Vesko \u00b7 ${a.title}`;
  history.replaceState(null, '', `#article=${encodeURIComponent(record.key)}`);
}

// The stored summary above the article, and what Summarise would send.
function showSummary(record) {
  const summary = record.summary;
  $('summary').hidden = !(summary && summary.text);
  if (summary && summary.text) {
    $('summary-text').replaceChildren(...summary.text.split(/\n\s*\n/).map((p) => el('p', {}, p.trim())));
    const from = summary.cut ? ` from the first ${formatNumber(summary.sent)} of ${formatNumber(summary.total)} characters` : '';
    $('summary-about').textContent = `Written by ${summary.model} on ${formatDate(summary.created)}${from}.`;
  }
  const input = summaryInput(record.article, settings().summaryInputLimit);
  $('summary-note').textContent = !input.total ? 'There is no text to summarise.'
    : input.cut ? `Summarise sends the first ${formatNumber(input.sent)} of the article\u2019s ${formatNumber(input.total)} characters (the limit is in Settings).`
      : `Summarise sends the article\u2019s ${formatNumber(input.total)} characters.`;
  $('summarise').textContent = summary && summary.text ? 'Summarise again' : 'Summarise';
}

async function summariseShown() {
  if (!current) return;
  const button = $('summarise');
  button.disabled = true;
  setStatus(statusNode, 'busy', 'Asking for a summary\u2026');
  try {
    current = await summariseArticle(current.key);
    showSummary(current);
    setStatus(statusNode, 'ok', 'Summary written and kept with the article.');
  } catch (error) {
    setStatus(statusNode, 'error', ...summaryFailure(error));
  } finally {
    button.disabled = false;
  }
}

async function fetchCurrentTab() {
  if (fetching) return;
  fetching = true;
  $('fetch').disabled = true;
  setStatus(statusNode, 'busy', 'Reading the current tab\u2026');
  try {
    const result = await Bridge.call('extract-tab');
    setStatus(statusNode, 'busy', 'Preparing the article\u2026');
    try {
      show(await keepArticle(result));
      setStatus(statusNode, 'ok', 'Fetched and kept in the library.');
    } catch (error) {
      if (!error.record) throw error;
      show(error.record);
      setStatus(statusNode, 'error', `The article is shown but could not be kept: ${messageOf(error)}`);
    }
    notifyDone('1');
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  } finally {
    fetching = false;
    $('fetch').disabled = false;
  }
}

async function run(work, busyText) {
  if (!current) return;
  setStatus(statusNode, 'busy', busyText);
  try {
    setStatus(statusNode, 'ok', await work(current));
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  }
}

const actions = {
  'save-markdown': () => run(async (r) => `Saved to ${await saveText(`${fileStem(r.article.title)}.md`, recordMarkdown(r))}`,
    'Saving the Markdown\u2026'),
  'copy-markdown': () => run(async (r) => { await copyText(recordMarkdown(r)); return 'Markdown copied.'; }, 'Copying\u2026'),
  'save-json': () => run(async (r) => `Saved to ${await saveText(`${fileStem(r.article.title)}.json`,
    `${JSON.stringify(exportItem(r), null, 2)}\n`)}`, 'Saving the JSON\u2026'),
  'save-fixture': () => run(async (r) => `Saved to ${await Bridge.call('save-fixture', {
    json: JSON.stringify(r.result), filename: `${fileStem(r.article.title)}.json.gz`,
  })}`, 'Saving the fixture\u2026'),
  'open-original': () => {
    if (!current) return;
    if (isWebAddress(current.article.url)) window.open(current.article.url, '_blank', 'noopener');
    else setStatus(statusNode, 'error', `\u201c${current.article.url}\u201d is not a web address that can be opened.`);
  },
  summarise: () => summariseShown(),
};

// Tags and notes are kept as soon as they change.
async function keepEdit(change, what) {
  if (!current) return;
  try {
    current = await (await library()).update(current.key, change);
    setStatus(statusNode, 'ok', `${what} kept.`);
  } catch (error) {
    setStatus(statusNode, 'error', `${what} could not be kept: ${messageOf(error)}`);
  }
}

async function openFromAddress() {
  const match = window.location.hash.match(/^#article=(.+)$/);
  if (!match) return;
  const key = decodeURIComponent(match[1]);
  if (current && current.key === key) return;
  try {
    const record = await (await library()).get(key);
    if (record) show(record);
    else setStatus(statusNode, 'error', 'That article is no longer in the library.');
  } catch (error) {
    setStatus(statusNode, 'error', messageOf(error));
  }
}

function start() {
  renderNav('index.html');
  $('fetch').addEventListener('click', fetchCurrentTab);
  for (const [id, action] of Object.entries(actions)) $(id).addEventListener('click', action);
  $('tags').addEventListener('change', () => {
    const tags = parseTags($('tags').value);
    $('tags').value = tags.join(', ');
    keepEdit((r) => { r.tags = tags; }, 'Tags');
  });
  $('notes').addEventListener('change', () => {
    const notes = $('notes').value;
    keepEdit((r) => { r.notes = notes; }, 'Notes');
  });
  document.addEventListener('keydown', (event) => {
    if (!event.ctrlKey || event.altKey) return;
    const key = event.key.toLowerCase();
    const action = !event.shiftKey && key === 's' ? 'save-markdown'
      : event.shiftKey && key === 'c' ? 'copy-markdown'
        : event.shiftKey && key === 's' ? 'summarise'
          : !event.shiftKey && key === 'o' ? 'open-original' : null;
    if (action && current) {
      event.preventDefault();
      actions[action]();
    }
  });
  window.addEventListener('hashchange', openFromAddress);
  // Page actions pushed by the application (menu, hot key, navigate).
  Bridge.onAction((action) => {
    if (action === 'fetch') fetchCurrentTab();
  });
  if (!Bridge.available) {
    setStatus(statusNode, 'error', 'Open this page in the Vesko window to fetch articles.');
  }
  openFromAddress();
  document.documentElement.dataset.ready = 'true';
}

start();
