// The reader on articles of different kinds, as the window and node use it.
import test from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { parse as parseYaml } from 'yaml';
import { pages, pagesDir, parseHTML, articleFile, extraction } from './support.mjs';

const { readArticle } = await pages('lib/article.js');
const read = (file, url, options) => readArticle(extraction(articleFile(file), url, options), parseHTML);

test('JSON-LD metadata beats Open Graph; links and images resolve against the article; tables survive', async () => {
  const a = await read('jsonld.html', 'https://news.example.org/2026/03/14/tides/almanac.html?utm=x#top');
  assert.equal(a.title, 'Tide tables go digital after ninety years in print');
  assert.equal(a.byline, 'Ines Ferreira, Tom Hale');
  assert.equal(a.siteName, 'Harbour Gazette');
  assert.equal(a.publishedTime, '2026-03-14T08:15:00+00:00');
  assert.equal(a.lang, 'en-GB');
  assert.equal(a.excerpt, 'The harbour office stops printing its tide almanac.');
  assert.equal(a.url, 'https://news.example.org/2026/03/14/tides/almanac.html');
  const body = parseHTML(`<body>${a.contentHtml}</body>`);
  const links = [...body.querySelectorAll('a')].map((l) => l.getAttribute('href'));
  assert.ok(links.includes('https://news.example.org/2026/03/14/tides/2027.html'), links.join(' '));
  assert.ok(links.includes('https://news.example.org/2026/03/14/tides/almanac.html#comments'), links.join(' '));
  assert.equal(body.querySelector('img').getAttribute('src'), 'https://news.example.org/images/almanac.jpg');
  assert.match(a.markdownBody, /\| Service \| Before \| After \|/);
  assert.match(a.markdownBody, /~+four pounds~+/);
  assert.match(a.markdownBody, /\[tide page\]\(https:\/\/news\.example\.org\/2026\/03\/14\/tides\/2027\.html\)/);
  assert.ok(a.wordCount > 100 && a.readingMinutes === 1, `${a.wordCount} words`);
  assert.ok(a.readerable);
});

test('Open Graph, author and citation metadata, and a date found only in the address', async () => {
  const og = await read('opengraph.html', 'https://inselbote.example/lokales/faehre.html');
  assert.deepEqual([og.title, og.siteName, og.byline, og.publishedTime, og.lang],
    ['Neue Fähre für die Insel', 'Inselbote', 'Jana Krause', '2026-04-30T10:00:00+02:00', 'de']);

  const paper = await read('citation.html', 'https://journal.example/papers/42');
  assert.deepEqual([paper.title, paper.byline, paper.siteName, paper.publishedTime, paper.lang],
    ['Sediment drift along shingle beaches: a ten-year record', 'Okafor, Ada, Lindqvist, Per',
      'Journal of Coastal Notes', '2025-09-03', 'en']);
  assert.match(paper.markdownBody, /```\ndrift = k \* H\^2\.5 \* sin\(2θ\)\n```/);

  const undated = await read('undated.html', 'https://www.blog.example/2026/11/24/quotes.html');
  assert.equal(undated.publishedTime, '2026-11-24');
  assert.equal(undated.siteName, 'blog.example');
  assert.equal(undated.title, '"Quotes": colons, and a line break 🚲');
  // The front matter reads back exactly, title and all.
  const front = parseYaml(undated.markdown.split('\n---\n')[0].replace(/^---\n/, ''));
  assert.equal(front.title, undated.title);
  assert.equal(front.url, 'https://www.blog.example/2026/11/24/quotes.html');
  assert.equal(front.published, '2026-11-24');
  assert.deepEqual(front.tags, []);
  assert.match(undated.markdown, /\n# "Quotes": colons, and a line break 🚲\n/);
});

test('a hostile article keeps its text and loses everything that could run or leave', async () => {
  // Even with its scripts left in, as a careless extraction would.
  for (const keepScripts of [false, true]) {
    const a = await read('hostile.html', 'https://attacker.example/2026/01/01/hostile.html', { keepScripts });
    const body = parseHTML(`<body>${a.contentHtml}</body>`).body;
    assert.equal(body.querySelectorAll('script, iframe, object, embed, form, input, button, meta, base, svg, math, style').length, 0,
      a.contentHtml);
    for (const node of body.querySelectorAll('*')) {
      for (const attribute of node.attributes) {
        assert.ok(!/^on/i.test(attribute.name) && attribute.name !== 'style', `${node.nodeName} ${attribute.name}`);
      }
    }
    const addresses = [...body.querySelectorAll('[href], [src]')].map((n) => n.getAttribute('href') || n.getAttribute('src'));
    assert.ok(addresses.every((address) => /^https?:\/\//.test(address)), addresses.join(' '));
    assert.ok(addresses.includes('https://example.com/safe'));
    assert.doesNotMatch(a.markdown, /\]\((?!https?:)/);
    assert.match(a.textContent, /A reader that shows it safely/);
    assert.ok(!a.title.includes('<'), a.title);
  }
});

test('bad input: right to left, not an article, nothing at all, and HTML cut mid-tag', async () => {
  const arabic = await read('rtl.html', 'https://harbour.example/ar/library');
  assert.equal(arabic.dir, 'rtl');
  assert.equal(arabic.lang, 'ar');
  assert.equal(arabic.siteName, 'صحيفة الميناء');
  assert.ok(arabic.wordCount > 40, String(arabic.wordCount));

  const search = await read('search-page.html', 'https://news.example.org/search?q=ferry');
  assert.equal(search.readerable, false);
  assert.equal(search.url, 'https://news.example.org/search');

  const empty = await readArticle({ url: 'https://pdf.example/paper.pdf', title: 'paper.pdf', raw_html: '', head_html: '' }, parseHTML);
  assert.deepEqual([empty.title, empty.contentHtml, empty.textContent, empty.wordCount, empty.readerable],
    ['paper.pdf', '', '', 0, false]);
  assert.equal((await readArticle(null, parseHTML)).title, '');

  const paragraph = '<p>Long read paragraph with enough words to count as an article body, again and again.</p>\n';
  const cut = `<html><head><title>Long</title></head><body><article>${paragraph.repeat(3000)}`.slice(0, 199993) + '<p clas';
  const long = await readArticle({ url: 'https://long.example/read', raw_html: cut }, parseHTML);
  assert.ok(long.wordCount > 25000, String(long.wordCount));
  assert.ok(long.readingMinutes > 100);

  // Words of scripts without spaces are counted one by one.
  const { countWords } = await pages('lib/article.js');
  assert.equal(countWords('Ferries run daily. 渡し船は毎日運航しています。'), 3 + countWords('渡し船は毎日運航しています'));
  assert.ok(countWords('渡し船は毎日運航しています') > 3);
});

test('the built module runs in node from a copy of the pages folder alone', () => {
  const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'vesko-pages-'));
  try {
    fs.cpSync(pagesDir, copy, { recursive: true });
    const jsdom = createRequire(import.meta.url).resolve('jsdom');
    const script = `
      import { readArticle } from ${JSON.stringify(path.join(copy, 'lib/article.js'))};
      import jsdom from ${JSON.stringify(jsdom)};
      const a = await readArticle({ url: 'https://x.example/a', raw_html: '<title>T</title><p>Words in a paragraph.</p>' },
        (html) => new jsdom.JSDOM(html).window.document);
      process.stdout.write(a.markdown);`;
    const out = execFileSync(process.execPath, ['--input-type=module', '-e', script], { cwd: copy, encoding: 'utf8' });
    assert.match(out, /^---\ntitle: "T"\nurl: "https:\/\/x\.example\/a"\n[\s\S]*\n# T\n\nWords in a paragraph\.\n$/);
  } finally {
    fs.rmSync(copy, { recursive: true, force: true });
  }
});
