// What Vavadavu writes, read back by a YAML parser and a CSV parser; the
// library's keys, refetches and search.
import test from 'node:test';
import assert from 'node:assert/strict';
import { parse as parseYaml, parseAllDocuments } from 'yaml';
import { parse as parseCsv } from 'csv-parse/sync';
import { pages } from './support.mjs';

const { frontMatter, markdownDocument } = await pages('lib/markdown.js');
const { csvExport, jsonExport, markdownFiles, combinedMarkdown, fileStem } = await pages('lib/formats.js');
const { articleKey, makeRecord, entryOf, wordsOf, filterEntries, parseTags } = await pages('lib/library.js');

const awkward = 'He said: "don\'t" — #1: yes\nno\t\\ 🚲 \u2028 --- \u0085 - [x] {y}: &z *w';

function record(title, extra = {}) {
  return {
    key: `https://example.com/${encodeURIComponent(title)}`,
    result: { url: `https://example.com/${encodeURIComponent(title)}`, title, raw_html: '<p>x</p>' },
    article: {
      title, url: `https://example.com/${encodeURIComponent(title)}`, siteName: 'Site, "Quoted"', byline: 'A. Writer',
      publishedTime: '2026-11-24', wordCount: 1234, readingMinutes: 5, markdownBody: 'Body text.', textContent: 'Body text.',
    },
    tags: ['one', 'two, three'],
    notes: '',
    summary: null,
    fetched: '2026-12-01T10:00:00.000Z',
    ...extra,
  };
}

test('front matter reads back exactly, whatever the title holds', () => {
  const fields = { title: awkward, url: 'https://example.com/a?b=c#d', site: 'Site: "x"', author: "O'Brien", published: '2026-11-24',
    fetched: '2026-12-01T10:00:00.000Z', tags: [awkward, 'plain', ''] };
  assert.deepEqual(parseYaml(frontMatter(fields).replace(/^---\n|\n---$/g, '')), fields);
  // In the whole document too, with a summary and the body after it.
  const doc = markdownDocument({ title: awkward, url: 'u', siteName: 's', byline: 'b', publishedTime: 'p', markdownBody: 'Body.' },
    { fetched: 'f', tags: ['t'], summary: 'Short summary.' });
  const [front] = parseAllDocuments(doc.split('\n---\n\n')[0].replace(/^---\n/, ''));
  assert.equal(front.toJS().title, awkward);
  assert.ok(doc.endsWith('\n# He said: "don\'t" — \\#1: yes no \\\\ 🚲 --- \u0085 - \\[x\\] {y}: &z \\*w\n\n## Summary\n\nShort summary.\n\nBody.\n'), doc);
});

test('CSV and JSON exports read back; file names are safe and unique', () => {
  const records = [record(awkward), record('=HYPERLINK("https://evil.example","click")'), record('Plain')];
  const rows = parseCsv(csvExport(records), { relax_quotes: false });
  assert.deepEqual(rows[0], ['title', 'url', 'site', 'author', 'published', 'words', 'tags']);
  assert.deepEqual(rows[1], [awkward, records[0].article.url, 'Site, "Quoted"', 'A. Writer', '2026-11-24', '1234', 'one, two, three']);
  // A cell a spreadsheet would run as a formula is kept as text.
  assert.equal(rows[2][0], '\'=HYPERLINK("https://evil.example","click")');
  assert.equal(rows.length, 4);

  const json = JSON.parse(jsonExport(records));
  assert.equal(json[0].title, awkward);
  assert.equal(json[0].raw_html, '<p>x</p>');
  assert.equal(json[0].reader.wordCount, 1234);
  assert.deepEqual(json[0].tags, ['one', 'two, three']);
  assert.match(json[0].reader.markdown, /^---\ntitle: /);

  assert.equal(fileStem('../../etc/passwd'), 'etc passwd');
  assert.equal(fileStem('a/b\\c:d*e?f"g<h>i|j\nk'), 'a b c d e f g h i j k');
  assert.equal(fileStem('   '), 'article');
  assert.equal(Array.from(fileStem('🚲'.repeat(200))).length, 80);
  const names = markdownFiles([record('Same'), record('same'), record('Same')]).map((f) => f.name);
  assert.deepEqual(names, ['Same.md', 'same (2).md', 'Same (3).md']);
  const combined = combinedMarkdown([record('First'), record('Second', { summary: { text: 'In short.' } })]);
  assert.match(combined, /^# First\n\n- Address: <https:\/\/example\.com\/First>\n[\s\S]*\n---\n\n# Second\n[\s\S]*## Summary\n\nIn short\.\n\nBody text\.\n$/);
});

test('library: one entry per address, refetches keep what the user added, search finds text without accents', () => {
  assert.equal(articleKey('https://example.com/a/b?utm=1#top'), 'https://example.com/a/b');
  assert.equal(articleKey('not a url?x'), 'not a url');
  const first = makeRecord({ url: 'https://example.com/a?x=1' }, { url: 'https://example.com/a', title: 'Old' }, null, '2026-01-01');
  first.tags = ['kept'];
  first.notes = 'my note';
  first.summary = { text: 'sum' };
  const again = makeRecord({ url: 'https://example.com/a' }, { url: 'https://example.com/a', title: 'New' }, first, '2026-02-01');
  assert.deepEqual([again.key, again.article.title, again.tags, again.notes, again.summary.text, again.added, again.fetched],
    ['https://example.com/a', 'New', ['kept'], 'my note', 'sum', '2026-01-01', '2026-02-01']);

  const records = [
    record('Café culture', { fetched: '2026-03-01', article: { ...record('x').article, title: 'Café culture', textContent: 'Über die Brücke' } }),
    record('Harbour news', { fetched: '2026-02-01', tags: ['boats'] }),
  ];
  const entries = records.map(entryOf);
  const words = new Map(records.map((r) => [r.key, wordsOf(r)]));
  const titles = (filters, known = words) => filterEntries(entries, filters, known).map((e) => e.title);
  // Until the words are read, titles, sites, bylines and tags are searched.
  assert.deepEqual(titles({ query: 'brucke' }, null), []);
  assert.deepEqual(titles({ query: 'cafe' }, null), ['Café culture']);
  assert.deepEqual(titles({ query: 'cafe UBER brucke' }), ['Café culture']);
  assert.deepEqual(titles({ query: 'a. writer' }), ['Café culture', 'Harbour news']);
  assert.deepEqual(titles({ query: 'cafe missing' }), []);
  assert.deepEqual(titles({ tag: 'boats' }), ['Harbour news']);
  assert.deepEqual(titles({ site: 'Other' }), []);
  assert.deepEqual(parseTags(' a, b;A ,, c\n'), ['a', 'b', 'c']);
});
