// What the page-module tests share: the built pages folder, a DOM parser
// (jsdom), and extraction results made from the article files here the
// way the in-page extraction script makes them.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { JSDOM } from 'jsdom';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const pagesDir = process.env.VESKO_PAGES;
if (!pagesDir) throw new Error('VESKO_PAGES must name the built pages folder');

// Imports a module of the built pages folder, e.g. pages('lib/article.js').
export function pages(module) {
  return import(pathToFileURL(path.join(pagesDir, module)).href);
}

export const parseHTML = (html) => new JSDOM(html).window.document;

export function articleFile(name) {
  return fs.readFileSync(path.join(here, 'articles', name), 'utf8');
}

// The extraction result of `html` shown at `url`: head without styles and
// scripts other than JSON-LD, document without scripts, styles and svg,
// date from the address. With `keepScripts`, raw_html keeps everything, as
// a careless extraction would.
export function extraction(html, url, { keepScripts = false } = {}) {
  const doc = parseHTML(html);
  const head = doc.head ? doc.head.innerHTML : '';
  const headHtml = head.replace(/<style[^>]*>[\s\S]*?<\/style>/gi, '')
    .replace(/<script(?![^>]*type\s*=\s*["']application\/ld\+json["'])[^>]*>[\s\S]*?<\/script>/gi, '')
    .replace(/\s{2,}/g, ' ').slice(0, 15000);
  let rawHtml = doc.documentElement.outerHTML;
  if (!keepScripts) {
    rawHtml = rawHtml.replace(/<script[^>]*>[\s\S]*?<\/script>/gi, '').replace(/<style[^>]*>[\s\S]*?<\/style>/gi, '')
      .replace(/<svg[^>]*>[\s\S]*?<\/svg>/gi, '');
  }
  const address = new URL(url);
  address.search = '';
  address.hash = '';
  const date = address.href.match(/\/(\d{4})\/(\d{2})\/(\d{2})\//);
  return {
    raw_text: '',
    raw_html: rawHtml.slice(0, 200000),
    title: doc.title || '',
    publication: address.hostname.replace(/^www\./, ''),
    url: address.href,
    head_html: headHtml,
    header_html: doc.querySelector('h1') ? doc.querySelector('h1').textContent.trim() : '',
    url_date: date ? `${date[1]}-${date[2]}-${date[3]}` : '',
  };
}
