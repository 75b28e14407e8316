// The library as the screens use it: one open database per page, and a
// fetched extraction result read and kept in one step.
import { readArticle } from './lib/article.js';
import { Library } from './lib/library.js';
import { parseHTML } from './common.js';

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
