// The export formats of Vavadavu: JSON, Markdown (a file per article, or
// one file for all) and CSV, built from library records.
import Papa from '../vendor/papaparse.js';
import { markdownDocument, markdownTitle } from './markdown.js';

const CSV_FIELDS = ['title', 'url', 'site', 'author', 'published', 'words', 'tags'];

// A file name stem from `title`: no path separators, control or reserved
// characters, no leading dot, at most 80 characters (whole characters, so
// the name stays well under the file system's limit).
export function fileStem(title, fallback = 'article') {
  const stem = String(title || '').normalize('NFC')
    .replace(/[\u0000-\u001f\u007f<>:"/\\|?*]+/g, ' ')
    .replace(/\s+/g, ' ').trim().replace(/^[.\s]+/, '');
  return Array.from(stem).slice(0, 80).join('').trim() || fallback;
}

// `stems` made unique within one export: "Title", "Title (2)", ...
function uniqueNames(stems, extension) {
  const used = new Set();
  return stems.map((stem) => {
    let name = `${stem}${extension}`;
    for (let n = 2; used.has(name.toLowerCase()); n += 1) name = `${stem} (${n})${extension}`;
    used.add(name.toLowerCase());
    return name;
  });
}

// A date and time for file names: 2026-11-24-0930.
export function timeStamp(date = new Date()) {
  const pad = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())}-${pad(date.getHours())}${pad(date.getMinutes())}`;
}

export function recordMarkdown(record) {
  return markdownDocument(record.article, {
    fetched: record.fetched, tags: record.tags, summary: record.summary ? record.summary.text : '',
  });
}

// One record as exported: the extraction result's members, the reader's
// output under `reader`, and what the library adds.
export function exportItem(record) {
  const a = record.article || {};
  return {
    ...record.result,
    reader: {
      title: a.title, byline: a.byline, siteName: a.siteName, publishedTime: a.publishedTime, lang: a.lang,
      dir: a.dir, excerpt: a.excerpt, wordCount: a.wordCount, readingMinutes: a.readingMinutes,
      contentHtml: a.contentHtml, textContent: a.textContent, markdown: recordMarkdown(record),
    },
    tags: record.tags || [],
    notes: record.notes || '',
    summary: record.summary || null,
    fetched: record.fetched,
  };
}

export function jsonExport(records) {
  return `${JSON.stringify(records.map(exportItem), null, 2)}\n`;
}

// Each record as its own Markdown file, named from its title.
export function markdownFiles(records) {
  const names = uniqueNames(records.map((r) => fileStem(r.article && r.article.title)), '.md');
  return records.map((record, i) => ({ name: names[i], text: recordMarkdown(record) }));
}

// Every record in one Markdown file: each under its title, with its details
// as a list, separated by rules.
export function combinedMarkdown(records) {
  return `${records.map((record) => {
    const a = record.article || {};
    const details = [
      ['Address', a.url && `<${a.url}>`], ['Site', a.siteName], ['Author', a.byline], ['Published', a.publishedTime],
      ['Fetched', record.fetched], ['Tags', (record.tags || []).join(', ')],
    ].filter(([, value]) => value).map(([label, value]) => `- ${label}: ${String(value).replace(/\s+/g, ' ')}`);
    const parts = [markdownTitle(a.title), details.join('\n')];
    if (record.summary && record.summary.text) parts.push(`## Summary\n\n${record.summary.text.trim()}`);
    if (a.markdownBody) parts.push(a.markdownBody);
    return parts.filter(Boolean).join('\n\n');
  }).join('\n\n---\n\n')}\n`;
}

// CSV with a header row: title, url, site, author, published, words, tags
// (tags joined by ", "). Fields are quoted where needed; a cell that a
// spreadsheet would run as a formula starts with a single quote.
export function csvExport(records) {
  const rows = records.map((record) => {
    const a = record.article || {};
    return [a.title || '', a.url || record.key, a.siteName || '', a.byline || '', a.publishedTime || '',
      a.wordCount || 0, (record.tags || []).join(', ')];
  });
  return `${Papa.unparse({ fields: CSV_FIELDS, data: rows }, { escapeFormulae: true, newline: '\r\n' })}\r\n`;
}
