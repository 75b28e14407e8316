// Markdown documents of articles: YAML front matter (title, url, site,
// author, published, fetched, tags) that a YAML parser reads back exactly,
// the title, an optional summary and the body.

const clean = (value) => String(value ?? '').replace(/\s+/g, ' ').trim();

// A YAML double-quoted scalar that a YAML parser reads back as `value`,
// exactly: JSON's string form, with the characters YAML does not allow
// raw (C1 controls, line and paragraph separators, non-characters) escaped.
function yamlString(value) {
  return JSON.stringify(String(value ?? ''))
    .replace(/[\u007f-\u009f\u2028\u2029\ufeff\ufffe\uffff]/g, (c) => `\\u${c.charCodeAt(0).toString(16).padStart(4, '0')}`);
}

// YAML front matter: title, url, site, author, published, fetched, tags.
export function frontMatter({ title, url, site, author, published, fetched, tags }) {
  return [
    '---',
    `title: ${yamlString(title)}`,
    `url: ${yamlString(url)}`,
    `site: ${yamlString(site)}`,
    `author: ${yamlString(author)}`,
    `published: ${yamlString(published)}`,
    `fetched: ${yamlString(fetched)}`,
    `tags: [${(tags || []).map(yamlString).join(', ')}]`,
    '---',
  ].join('\n');
}

// A level-one heading of `title` on one line, its Markdown characters escaped.
export function markdownTitle(title) {
  return `# ${clean(title).replace(/[\\`*_[\]<>#]/g, '\\$&') || 'Untitled'}`;
}

// The whole Markdown document of an article: front matter, title, an
// optional summary, the body.
export function markdownDocument(article, { fetched = '', tags = [], summary = '' } = {}) {
  const parts = [
    frontMatter({
      title: article.title, url: article.url, site: article.siteName, author: article.byline,
      published: article.publishedTime, fetched, tags,
    }),
    markdownTitle(article.title),
  ];
  if (clean(summary)) parts.push(`## Summary\n\n${String(summary).trim()}`);
  if (article.markdownBody) parts.push(article.markdownBody);
  return `${parts.join('\n\n')}\n`;
}

