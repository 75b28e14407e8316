// The reader: turns an extraction result (url, title, publication, head_html,
// raw_html, url_date, ...) into a readable article with its metadata, its
// content as sanitised HTML and as Markdown with YAML front matter.
//
//   const article = await readArticle(result, (html) => new DOMParser().parseFromString(html, 'text/html'));
//
// `parseHTML(html)` returns a standards DOM Document (or a promise of one):
// DOMParser in the window, a DOM library such as jsdom elsewhere. Everything
// else this module needs lies in the pages folder, so the built copy also
// runs in node.
import Readability from '../vendor/readability.js';
import isProbablyReaderable from '../vendor/readability-readerable.js';
import createDOMPurify from '../vendor/purify.js';
import TurndownService from '../vendor/turndown.js';
import { gfm } from '../vendor/turndown-plugin-gfm.js';
import { markdownDocument } from './markdown.js';

const WORDS_PER_MINUTE = 230;
const RTL_LANGUAGES = new Set(['ar', 'arc', 'ckb', 'dv', 'fa', 'he', 'iw', 'ku', 'ps', 'sd', 'ug', 'ur', 'yi']);
const ARTICLE_TYPES = /^(Article|NewsArticle|BlogPosting|Report|ScholarlyArticle|TechArticle|AnalysisNewsArticle|OpinionNewsArticle|ReportageNewsArticle|ReviewNewsArticle|SocialMediaPosting|LiveBlogPosting|WebPage|Review)$/;

const text = (value) => (typeof value === 'string' ? value : '');
const clean = (value) => text(value).replace(/\s+/g, ' ').trim();
const firstOf = (...values) => values.map(clean).find(Boolean) || '';

function emptyDocument() {
  return '<!DOCTYPE html><html><head></head><body></body></html>';
}

// The document's window, for DOMPurify: the parsed document's own, else the
// global one (DOMParser documents have none).
function windowOf(doc) {
  if (doc.defaultView) return doc.defaultView;
  if (typeof window !== 'undefined') return window;
  throw new Error('The DOM library gave a document without a window.');
}

// Every meta element's content by lower-cased name or property, in document
// order, each value once (the head comes both on its own and in the page).
function metaValues(docs) {
  const values = new Map();
  for (const doc of docs) {
    for (const meta of doc.querySelectorAll('meta[content]')) {
      const key = (meta.getAttribute('property') || meta.getAttribute('name') || meta.getAttribute('http-equiv') || '')
        .trim().toLowerCase();
      const content = clean(meta.getAttribute('content'));
      if (!key || !content) continue;
      if (!values.has(key)) values.set(key, []);
      if (!values.get(key).includes(content)) values.get(key).push(content);
    }
  }
  return {
    one: (...keys) => firstOf(...keys.map((k) => (values.get(k) || [])[0])),
    all: (key) => values.get(key) || [],
  };
}

// The first JSON-LD object that describes an article (or a page).
function jsonLdArticle(docs) {
  const candidates = [];
  const visit = (node) => {
    if (Array.isArray(node)) { node.forEach(visit); return; }
    if (!node || typeof node !== 'object') return;
    if (Array.isArray(node['@graph'])) node['@graph'].forEach(visit);
    const types = [].concat(node['@type'] || []);
    if (types.some((t) => typeof t === 'string' && ARTICLE_TYPES.test(t))) candidates.push(node);
  };
  for (const doc of docs) {
    for (const script of doc.querySelectorAll('script[type="application/ld+json"]')) {
      try {
        visit(JSON.parse(script.textContent.replace(/^\s*<!\[CDATA\[|\]\]>\s*$/g, '')));
      } catch {
        // A broken block says nothing.
      }
    }
  }
  // An article type beats a plain page.
  return candidates.find((c) => ![].concat(c['@type']).includes('WebPage')) || candidates[0] || {};
}

function names(value) {
  return [].concat(value || [])
    .map((v) => (typeof v === 'string' ? v : v && typeof v === 'object' ? text(v.name) : ''))
    .map(clean).filter(Boolean);
}

function isAddress(value) {
  return /^https?:\/\//i.test(value);
}

// A date as ISO 8601 where it can be read, else as given.
function normaliseDate(value) {
  const raw = clean(value);
  if (!raw) return '';
  if (/^\d{4}-\d{2}-\d{2}(?:[T ][\d:.]+(?:Z|[+-]\d{2}:?\d{2})?)?$/.test(raw)) return raw.replace(' ', 'T');
  const ymd = raw.match(/^(\d{4})[/.-](\d{1,2})[/.-](\d{1,2})$/);
  if (ymd) return `${ymd[1]}-${ymd[2].padStart(2, '0')}-${ymd[3].padStart(2, '0')}`;
  const parsed = new Date(raw);
  if (Number.isNaN(parsed.getTime())) return raw;
  if (/\d:\d/.test(raw)) return parsed.toISOString();
  const pad = (n) => String(n).padStart(2, '0');
  return `${parsed.getFullYear()}-${pad(parsed.getMonth() + 1)}-${pad(parsed.getDate())}`;
}

function languageOf(doc, meta, jsonLd) {
  const fromLocale = meta.one('og:locale').replace('_', '-');
  return firstOf(doc.documentElement && doc.documentElement.getAttribute('lang'),
    typeof jsonLd.inLanguage === 'string' ? jsonLd.inLanguage : '',
    meta.one('content-language', 'dc.language', 'dcterms.language', 'citation_language'), fromLocale);
}

function directionOf(lang, declared) {
  if (declared === 'rtl' || declared === 'ltr') return declared;
  return RTL_LANGUAGES.has(String(lang).toLowerCase().split('-')[0]) ? 'rtl' : 'ltr';
}

// Scripts written without spaces between words: their runs are split into
// words by the platform's word segmenter, everything else at spaces and
// punctuation (the segmenter is slow on long texts, so it only sees such runs).
const UNSPACED = /[\p{Script=Han}\p{Script=Hiragana}\p{Script=Katakana}\p{Script=Thai}\p{Script=Lao}\p{Script=Khmer}\p{Script=Myanmar}]/u;
let segmenter = null;

export function countWords(value) {
  let count = 0;
  for (const [run] of text(value).matchAll(/[\p{L}\p{M}\p{N}'’_-]+/gu)) {
    if (!/[\p{L}\p{N}]/u.test(run)) continue;
    if (UNSPACED.test(run) && typeof Intl !== 'undefined' && Intl.Segmenter) {
      segmenter = segmenter || new Intl.Segmenter(undefined, { granularity: 'word' });
      for (const part of segmenter.segment(run)) if (part.isWordLike) count += 1;
    } else {
      count += 1;
    }
  }
  return count;
}

// The article's address as a URL to resolve links against: its own <base>
// when it has one, else the address itself.
function baseAddress(doc, url) {
  try {
    const declared = doc.querySelector('base[href]');
    return new URL(declared ? declared.getAttribute('href') : url, url).href;
  } catch {
    return url;
  }
}

// Makes `base` the document's base address, so that whatever resolves
// addresses in it resolves them against the article, not against us.
function setBase(doc, base) {
  if (!base || !doc.head) return;
  doc.querySelectorAll('base').forEach((node) => node.remove());
  const element = doc.createElement('base');
  element.setAttribute('href', base);
  doc.head.prepend(element);
}

const BLOCKS = new Set(['ADDRESS', 'ARTICLE', 'ASIDE', 'BLOCKQUOTE', 'BR', 'DD', 'DIV', 'DL', 'DT', 'FIGCAPTION',
  'FIGURE', 'FOOTER', 'H1', 'H2', 'H3', 'H4', 'H5', 'H6', 'HEADER', 'HR', 'LI', 'MAIN', 'OL', 'P', 'PRE', 'SECTION',
  'TABLE', 'TR', 'UL']);

// The text of `root` with a line break between blocks, so that words of
// neighbouring paragraphs never run together.
function plainText(root) {
  const out = [];
  const walk = (node) => {
    if (node.nodeType === 3) { out.push(node.data); return; }
    if (node.nodeType !== 1) return;
    const block = BLOCKS.has(node.nodeName);
    if (block) out.push('\n');
    for (let child = node.firstChild; child; child = child.nextSibling) walk(child);
    if (block) out.push('\n');
  };
  walk(root);
  return out.join('').split('\n').map((line) => line.replace(/\s+/g, ' ').trim()).filter(Boolean).join('\n');
}

function absolute(value, base) {
  try {
    return new URL(value.trim(), base || undefined).href;
  } catch {
    return null;
  }
}

const SAFE_LINK = /^(https?:|mailto:)/i;
const SAFE_IMAGE = /^(https?:|data:image\/(png|gif|jpe?g|webp|avif);)/i;

// Sanitises `html` into a body element of `doc`'s window: no script, no
// event handler, no form, frame, object or embed, no style; links and images
// absolute, and only to web addresses (or inline images).
function sanitise(html, doc, base) {
  const purify = createDOMPurify(windowOf(doc));
  purify.addHook('afterSanitizeAttributes', (node) => {
    if (node.hasAttribute('href')) {
      const href = absolute(node.getAttribute('href'), base);
      if (href && SAFE_LINK.test(href)) node.setAttribute('href', href);
      else node.removeAttribute('href');
    }
    if (node.hasAttribute('src')) {
      const src = absolute(node.getAttribute('src'), base);
      if (src && SAFE_IMAGE.test(src) && node.nodeName === 'IMG') node.setAttribute('src', src);
      else node.removeAttribute('src');
    }
  });
  return purify.sanitize(html, {
    USE_PROFILES: { html: true },
    FORBID_TAGS: ['form', 'input', 'button', 'select', 'option', 'textarea', 'iframe', 'frame', 'frameset',
      'object', 'embed', 'applet', 'style', 'link', 'meta', 'base', 'script', 'noscript', 'template', 'dialog',
      'video', 'audio', 'source', 'track', 'picture'],
    FORBID_ATTR: ['style', 'srcset', 'sizes', 'action', 'formaction', 'ping', 'target', 'background', 'poster'],
    ALLOW_DATA_ATTR: false,
    RETURN_DOM: true,
  });
}

function markdownConverter() {
  const service = new TurndownService({
    headingStyle: 'atx',
    codeBlockStyle: 'fenced',
    bulletListMarker: '-',
    emDelimiter: '*',
    hr: '---',
  });
  service.use(gfm);
  return service;
}

// Reads `result` into the article. `options.fetched` (ISO time, default
// now) and `options.tags` go into the front matter.
export async function readArticle(result, parseHTML, options = {}) {
  const source = result && typeof result === 'object' ? result : {};
  const url = text(source.url);
  const rawHtml = text(source.raw_html);
  const doc = await parseHTML(rawHtml.trim() ? rawHtml : emptyDocument());
  const headDoc = await parseHTML(`<!DOCTYPE html><html><head>${text(source.head_html)}</head><body></body></html>`);
  const docs = [headDoc, doc];

  const meta = metaValues(docs);
  const jsonLd = jsonLdArticle(docs);
  const lang = languageOf(doc, meta, jsonLd);
  const base = baseAddress(doc, url);
  setBase(doc, base);
  const declaredDir = (doc.documentElement && doc.documentElement.getAttribute('dir')) ||
    (doc.body && doc.body.getAttribute('dir')) || '';
  let readerable = false;
  let readable = null;
  if (doc.body && doc.body.textContent.trim()) {
    try {
      readerable = isProbablyReaderable(doc);
      readable = new Readability(doc.cloneNode(true), { charThreshold: 250 }).parse();
    } catch {
      readable = null;
    }
  }
  const contentSource = readable ? readable.content : (doc.body ? doc.body.innerHTML : '');
  const body = sanitise(contentSource || '', doc, base);
  const textContent = plainText(body);

  const headerLines = text(source.header_html).split('\n').map(clean);
  const jsonLdAuthor = names(jsonLd.author).join(', ');
  const metaAuthor = meta.all('citation_author').join(', ') || meta.one('author', 'dc.creator', 'dcterms.creator') ||
    [meta.one('article:author')].filter((a) => a && !isAddress(a))[0];
  const title = firstOf(jsonLd.headline, meta.one('og:title', 'citation_title', 'dc.title', 'dcterms.title', 'twitter:title'),
    readable && readable.title, source.title, headerLines[0], url);
  const publisher = jsonLd.publisher && typeof jsonLd.publisher === 'object' ? jsonLd.publisher.name : jsonLd.publisher;
  const wordCount = countWords(textContent);

  const article = {
    title,
    byline: firstOf(jsonLdAuthor, metaAuthor, readable && readable.byline),
    siteName: firstOf(publisher, meta.one('og:site_name', 'citation_journal_title', 'dc.publisher', 'application-name'),
      readable && readable.siteName, source.publication),
    publishedTime: normaliseDate(firstOf(jsonLd.datePublished, jsonLd.dateCreated,
      meta.one('article:published_time', 'citation_publication_date', 'citation_date', 'dc.date', 'dc.date.issued',
        'dcterms.issued', 'dcterms.created', 'date', 'pubdate', 'publish-date'),
      readable && readable.publishedTime, source.url_date)),
    lang,
    dir: directionOf(lang, (readable && readable.dir) || declaredDir),
    excerpt: firstOf(typeof jsonLd.description === 'string' ? jsonLd.description : '',
      meta.one('description', 'og:description', 'twitter:description', 'dc.description'),
      readable && readable.excerpt, textContent.slice(0, 300)),
    url,
    contentHtml: body.innerHTML,
    textContent,
    markdownBody: markdownConverter().turndown(body).trim(),
    wordCount,
    readingMinutes: wordCount ? Math.max(1, Math.round(wordCount / WORDS_PER_MINUTE)) : 0,
    readerable: Boolean(readable) && readerable,
  };
  article.markdown = markdownDocument(article, {
    fetched: options.fetched || new Date().toISOString(),
    tags: options.tags || [],
  });
  return article;
}
