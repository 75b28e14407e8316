// The article as the document shown in the reader's sandboxed frame: its
// own policy allows nothing but its inline style and images (inline ones
// always, remote ones only when the user turned them on); links open
// outside, in the default browser.

const STYLE = `
:root { color-scheme: light dark; --text: #1d2330; --muted: #5b6474; --line: #dde1e7; --accent: #2f4ae0; --code: #f1f3f6; }
@media (prefers-color-scheme: dark) {
  :root { --text: #e6e8ee; --muted: #a2a9b8; --line: #3a4150; --accent: #93a6ff; --code: #252a35; }
}
html { background: transparent; color: var(--text); }
body { margin: 0; padding: 8px 28px 48px; font: 18px/1.65 "DejaVu Serif", Georgia, serif; }
article { max-width: 40em; margin: 0 auto; overflow-wrap: break-word; }
h1 { font-size: 1.7em; line-height: 1.25; margin: 0.6em 0 0.8em; }
h2, h3, h4 { line-height: 1.3; margin: 1.6em 0 0.5em; }
a { color: var(--accent); }
img { max-width: 100%; height: auto; }
figure { margin: 1.2em 0; }
figcaption, .image-off { color: var(--muted); font-size: 0.85em; }
.image-off { display: inline-block; border: 1px dashed var(--line); border-radius: 6px; padding: 2px 8px; font-family: "DejaVu Sans", sans-serif; }
blockquote { margin: 1em 0; padding-left: 1em; border-left: 3px solid var(--line); color: var(--muted); }
pre, code { font-family: "DejaVu Sans Mono", monospace; font-size: 0.85em; background: var(--code); border-radius: 4px; }
pre { padding: 12px; overflow-x: auto; }
table { border-collapse: collapse; display: block; overflow-x: auto; }
th, td { border: 1px solid var(--line); padding: 4px 8px; }
@media (max-width: 520px) { body { padding: 4px 14px 32px; font-size: 17px; } }
`;

function escapeHtml(text) {
  return String(text ?? '').replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' }[c]));
}

// The content with remote images replaced by a note naming them.
function withoutRemoteImages(contentHtml, parseHTML) {
  const doc = parseHTML(`<!DOCTYPE html><html><body>${contentHtml}</body></html>`);
  for (const img of doc.querySelectorAll('img')) {
    if (/^data:/i.test(img.getAttribute('src') || '')) continue;
    const note = doc.createElement('span');
    note.className = 'image-off';
    const alt = (img.getAttribute('alt') || '').trim();
    note.textContent = alt ? `Image: ${alt}` : 'Image';
    note.title = 'Remote images are off (Settings)';
    img.replaceWith(note);
  }
  return doc.body.innerHTML;
}

// The frame's document (for `srcdoc`). `article.contentHtml` is sanitised
// HTML as readArticle makes it.
export function readerDocument(article, { remoteImages = false, parseHTML } = {}) {
  const images = remoteImages ? 'data: http: https:' : 'data:';
  const content = remoteImages ? article.contentHtml || '' : withoutRemoteImages(article.contentHtml || '', parseHTML);
  const lang = /^[A-Za-z]{2,3}(-[A-Za-z0-9]{1,8})*$/.test(article.lang || '') ? article.lang : '';
  const dir = article.dir === 'rtl' ? 'rtl' : 'ltr';
  return `<!DOCTYPE html><html${lang ? ` lang="${lang}"` : ''} dir="${dir}"><head><meta charset="utf-8">` +
    `<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; img-src ${images}">` +
    `<base target="_blank"><style>${STYLE}</style></head>` +
    `<body><article><h1>${escapeHtml(article.title)}</h1>${content}</article></body></html>`;
}
