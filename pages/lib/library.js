// The library of fetched articles, kept in IndexedDB in the window.
//
// Three object stores, each keyed by the article's address without query and
// fragment: `articles` holds each whole record (the extraction result, the
// reader's article, tags, notes, summary); `entries` a light entry per
// article, all the list needs; `words` the distinct words of each article,
// for searching its text. Reading from IndexedDB is slow for large values
// (tens of megabytes a second here), so the list reads only the light
// entries and the words follow in the background.
//
// The functions on entries (search, filters) take plain arrays, so they run
// anywhere; `Library` takes the IndexedDB factory it works on.

const DATABASE = 'vesko-library';
const VERSION = 1;
const STORES = ['articles', 'entries', 'words'];
const EXCERPT = 400;  // characters of excerpt an entry keeps

// The key of an article: its address without query and fragment.
export function articleKey(url) {
  const raw = String(url || '').trim();
  try {
    const parsed = new URL(raw);
    parsed.search = '';
    parsed.hash = '';
    return parsed.href;
  } catch {
    return raw.replace(/[?#].*$/, '');
  }
}

// Lower case without accents, for matching: "Café" and "cafe" meet.
function searchable(text) {
  return String(text || '').normalize('NFD').replace(/\p{M}+/gu, '').toLowerCase();
}

// Tags typed as "one, two; three": trimmed, without duplicates, in order.
export function parseTags(text) {
  const seen = new Set();
  const tags = [];
  for (const raw of String(text || '').split(/[,;\n]/)) {
    const tag = raw.replace(/\s+/g, ' ').trim().slice(0, 60);
    if (tag && !seen.has(tag.toLowerCase())) {
      seen.add(tag.toLowerCase());
      tags.push(tag);
    }
  }
  return tags;
}

// The record for a fetched article. A refetch (`previous` set) keeps the
// tags, the notes, the summary and the first fetch time.
export function makeRecord(result, article, previous, now = new Date().toISOString()) {
  return {
    key: articleKey(article.url || result.url),
    result,
    article,
    tags: previous ? previous.tags || [] : [],
    notes: previous ? previous.notes || '' : '',
    summary: previous ? previous.summary || null : null,
    added: previous ? previous.added || now : now,
    fetched: now,
  };
}

// The light entry of a record.
export function entryOf(record) {
  const a = record.article || {};
  const r = record.result || {};
  const entry = {
    key: record.key,
    url: a.url || r.url || record.key,
    title: a.title || r.title || record.key,
    site: a.siteName || r.publication || '',
    byline: a.byline || '',
    published: a.publishedTime || '',
    lang: a.lang || '',
    dir: a.dir || 'ltr',
    excerpt: String(a.excerpt || '').slice(0, EXCERPT),
    words: a.wordCount || 0,
    minutes: a.readingMinutes || 0,
    tags: record.tags || [],
    hasSummary: Boolean(record.summary && record.summary.text),
    fetched: record.fetched,
    newest: -Date.parse(record.fetched) || 0,  // the `newest` index lists the latest fetch first
  };
  return withMeta(entry);
}

// An entry with its searchable details (title, site, byline, tags), made
// when it is read: they are short, and need not be stored.
function withMeta(entry) {
  Object.defineProperty(entry, 'meta', {
    value: searchable([entry.title, entry.site, entry.byline, entry.tags.join(' ')].join('\n')),
    enumerable: false,
    configurable: true,
  });
  return entry;
}

// The distinct words of a record's text, title, site, byline and tags, as
// searchable text: what full-text search looks in.
export function wordsOf(record) {
  const a = record.article || {};
  const r = record.result || {};
  const text = [a.title, r.title, a.siteName, r.publication, a.byline, (record.tags || []).join(' '), a.textContent].join(' ');
  return [...new Set(searchable(text).split(/[^\p{L}\p{M}\p{N}]+/u))].join(' ');
}

// Entries matching `query` (every word of it found in the title, site,
// byline or tags, or in the article's words when `words`, a map from key to
// wordsOf text, holds them), `site` and `tag` (exact; empty matches all), in
// the order given.
export function filterEntries(entries, { query = '', site = '', tag = '' } = {}, words = null) {
  const terms = searchable(query).split(/[^\p{L}\p{M}\p{N}]+/u).filter(Boolean);
  return entries.filter((e) => {
    if ((site && e.site !== site) || (tag && !e.tags.includes(tag))) return false;
    if (!terms.length) return true;
    const text = words ? words.get(e.key) || '' : '';
    return terms.every((t) => e.meta.includes(t) || text.includes(t));
  });
}

export function newestFirst(a, b) {
  return a.fetched < b.fetched ? 1 : a.fetched > b.fetched ? -1 : 0;
}

// The sites and the tags of `entries`, each sorted, for the filters.
export function facets(entries) {
  const sites = new Set();
  const tags = new Set();
  for (const e of entries) {
    if (e.site) sites.add(e.site);
    e.tags.forEach((t) => tags.add(t));
  }
  const order = (a, b) => a.localeCompare(b, undefined, { sensitivity: 'base' });
  return { sites: [...sites].sort(order), tags: [...tags].sort(order) };
}

function promised(request) {
  return new Promise((resolve, reject) => {
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

function finished(transaction) {
  return new Promise((resolve, reject) => {
    transaction.oncomplete = () => resolve();
    transaction.onerror = () => reject(transaction.error);
    transaction.onabort = () => reject(transaction.error || new Error('The library could not be written.'));
  });
}

// Turns IndexedDB's failures into messages a person can act on.
function readable(error) {
  const name = error && error.name;
  if (name === 'QuotaExceededError') return new Error('The library is full: there is no room left to store the article. Delete some articles and try again.');
  return new Error(`The library could not be used: ${(error && error.message) || error || 'unknown error'}`);
}

export class Library {
  constructor(db) {
    this.db = db;
  }

  static async open(factory = globalThis.indexedDB, name = DATABASE) {
    if (!factory) throw new Error('This window has no storage for the library.');
    const request = factory.open(name, VERSION);
    request.onupgradeneeded = () => {
      const db = request.result;
      for (const name of STORES) if (!db.objectStoreNames.contains(name)) db.createObjectStore(name, { keyPath: 'key' });
      const entries = request.transaction.objectStore('entries');
      if (!entries.indexNames.contains('newest')) entries.createIndex('newest', 'newest');
    };
    try {
      return new Library(await promised(request));
    } catch (error) {
      throw readable(error);
    }
  }

  // The `count` latest entries, newest first: what the list shows first,
  // read far faster than all of them.
  async recent(count) {
    try {
      const index = this.db.transaction('entries').objectStore('entries').index('newest');
      return (await promised(index.getAll(null, count))).map(withMeta);
    } catch (error) {
      throw readable(error);
    }
  }

  async count() {
    try {
      return await promised(this.db.transaction('entries').objectStore('entries').count());
    } catch (error) {
      throw readable(error);
    }
  }

  // Every entry, newest first.
  async entries() {
    try {
      const list = await promised(this.db.transaction('entries').objectStore('entries').getAll());
      return list.map(withMeta).sort(newestFirst);
    } catch (error) {
      throw readable(error);
    }
  }

  // The words of every article: a map from key to wordsOf text.
  async words() {
    try {
      const list = await promised(this.db.transaction('words').objectStore('words').getAll());
      return new Map(list.map((w) => [w.key, w.words]));
    } catch (error) {
      throw readable(error);
    }
  }

  async get(key) {
    try {
      return (await promised(this.db.transaction('articles').objectStore('articles').get(key))) || null;
    } catch (error) {
      throw readable(error);
    }
  }

  // Stores a fetched article, keeping what a previous fetch of the same
  // address had gathered. Returns the stored record.
  async save(result, article, now) {
    const key = articleKey(article.url || result.url);
    if (!key) throw new Error('The article has no address to keep it under.');
    const previous = await this.get(key);
    const record = makeRecord(result, article, previous, now);
    await this.put(record);
    return record;
  }

  // Writes `records` (whole records) with their entries, all or none.
  async put(...records) {
    try {
      const tx = this.db.transaction(STORES, 'readwrite');
      const done = finished(tx);
      for (const record of records) {
        tx.objectStore('articles').put(record);
        tx.objectStore('entries').put(entryOf(record));
        tx.objectStore('words').put({ key: record.key, words: wordsOf(record) });
      }
      await done;
    } catch (error) {
      throw readable(error);
    }
  }

  // Changes a stored record (`change` gets the record and edits it).
  async update(key, change) {
    const record = await this.get(key);
    if (!record) throw new Error('The article is no longer in the library.');
    change(record);
    await this.put(record);
    return record;
  }

  // Deletes the records of `keys`; returns them, for an undo.
  async remove(...keys) {
    const records = (await Promise.all(keys.map((k) => this.get(k)))).filter(Boolean);
    try {
      const tx = this.db.transaction(STORES, 'readwrite');
      const done = finished(tx);
      for (const key of keys) STORES.forEach((name) => tx.objectStore(name).delete(key));
      await done;
    } catch (error) {
      throw readable(error);
    }
    return records;
  }
}
