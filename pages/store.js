// The library as the screens use it: one open database per page, and a
// fetched extraction result read and kept in one step.
import { readArticle } from './lib/article.js';
import { Library } from './lib/library.js';
import { summarise } from './lib/messages.js';
import { Bridge, el, parseHTML, settings } from './common.js';

let opened = null;

export function library() {
  if (!opened) opened = Library.open(window.indexedDB).catch((error) => { opened = null; throw error; });
  return opened;
}

// Reads `result` and stores it. Resolves with the stored record; when the
// library cannot store it, rejects with an error that carries the record
// as it would have been (`error.record`), so the article can still be shown.
export async function keepArticle(result) {
  if (!result || typeof result !== 'object') throw new Error('The browser returned no article.');
  const article = await readArticle(result, parseHTML);
  try {
    return await (await library()).save(result, article);
  } catch (error) {
    error.record = { key: article.url, result, article, tags: [], notes: '', summary: null, fetched: new Date().toISOString() };
    throw error;
  }
}

// Summarises the stored article `key` and keeps the summary with it.
// Resolves with the updated record; rejects with the SummaryError (or the
// library's error).
export async function summariseArticle(key) {
  const db = await library();
  const record = await db.get(key);
  if (!record) throw new Error('The article is no longer in the library.');
  const summary = await summarise(Bridge, settings(), record.article);
  return db.update(key, (r) => { r.summary = summary; });
}

// What to show after a summary failed: the message, and a way to the
// settings when they are the way out.
export function summaryFailure(error) {
  const message = (error && error.message) || String(error);
  const fixable = ['no-key', 'key', 'model', 'address', 'too-long'].includes(error && error.kind);
  return fixable ? [message, ' ', el('a', { href: 'settings.html' }, 'Open Settings')] : [message];
}
