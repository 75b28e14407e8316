// Summaries from the Anthropic Messages API, through the native side's
// allow-listed proxy ("proxy-fetch"): the request, and what its answer
// means, in words a person can act on.
//
// `bridge` is anything with `call(action, args)` returning a promise, as
// window.Bridge does; settings are those of preferences.js.

const API_VERSION = '2023-06-01';

// Why a summary did not come; `kind` lets the page offer the way out (a
// link to the settings for the key, a later retry when the service is busy).
export class SummaryError extends Error {
  constructor(kind, message, { status = 0, retryAfter = null } = {}) {
    super(message);
    this.name = 'SummaryError';
    this.kind = kind;
    this.status = status;
    this.retryAfter = retryAfter;
  }
}

const INSTRUCTION = 'Summarise the article below for a reader deciding whether to read it in full: ' +
  'a few short paragraphs in plain prose, in the language of the article, with no preamble.';

// The text sent for `article`: its title, site and text, the text cut to
// `limit` characters (whole words where it can). `cut` says whether it was.
export function summaryInput(article, limit) {
  const text = String(article.textContent || '').trim();
  let body = text;
  if (text.length > limit) {
    body = text.slice(0, limit);
    const space = body.lastIndexOf(' ');
    if (space > limit * 0.9) body = body.slice(0, space);
  }
  const heading = [article.title && `Title: ${article.title}`, article.siteName && `Site: ${article.siteName}`]
    .filter(Boolean).join('\n');
  return { prompt: `${INSTRUCTION}\n\n${heading}\n\n${body}`, sent: body.length, total: text.length, cut: body.length < text.length };
}

function messagesAddress(apiAddress) {
  return `${String(apiAddress).replace(/\/+$/, '')}/v1/messages`;
}

// The "proxy-fetch" arguments for one Messages API request.
function messagesRequest(settings, content, maxTokens) {
  return {
    url: messagesAddress(settings.apiAddress),
    method: 'POST',
    headers: {
      'x-api-key': settings.apiKey,
      'anthropic-version': API_VERSION,
      'content-type': 'application/json',
    },
    body: JSON.stringify({ model: settings.model, max_tokens: maxTokens, messages: [{ role: 'user', content }] }),
  };
}

function apiMessage(body) {
  const error = body && typeof body === 'object' ? body.error : null;
  return error && typeof error.message === 'string' ? error.message.trim() : '';
}

function seconds(value) {
  const n = Number(value);
  return Number.isFinite(n) && n > 0 ? Math.ceil(n) : null;
}

// The error for an answer that is not a summary, or null when it is one.
function answerError({ status, body }, settings) {
  if (status >= 200 && status < 300) return null;
  const detail = apiMessage(body);
  const said = detail ? ` The service said: \u201c${detail}\u201d` : '';
  const type = body && body.error && body.error.type;
  if (status === 401) {
    return new SummaryError('key', 'The API key was refused. Check it in Settings (it may have been revoked or mistyped).', { status });
  }
  if (status === 403) return new SummaryError('key', `The API key may not do this.${said}`, { status });
  if (status === 429 || status === 529 || type === 'overloaded_error' || type === 'rate_limit_error') {
    const retryAfter = seconds(body && (body.retry_after ?? (body.error && body.error.retry_after)));
    const when = retryAfter ? `in ${retryAfter} second${retryAfter === 1 ? '' : 's'}` : 'in a minute or two';
    const why = status === 429 || type === 'rate_limit_error' ? 'too many requests for this key' : 'the service is overloaded';
    return new SummaryError('busy', `The summary service is busy (${why}). Try again ${when}.`, { status, retryAfter });
  }
  if ((status === 400 || status === 404) && /model/i.test(detail)) {
    return new SummaryError('model', `The model \u201c${settings.model}\u201d was refused. Choose another in Settings.${said}`, { status });
  }
  if (status === 413 || /too long|too large|prompt is too long/i.test(detail)) {
    return new SummaryError('too-long', `The article is too long for the model. Lower the text limit in Settings.${said}`, { status });
  }
  if (status >= 500) return new SummaryError('service', `The summary service failed (status ${status}). Try again later.${said}`, { status });
  return new SummaryError('request', `The summary service refused the request (status ${status}).${said}`, { status });
}

// The text of a successful answer: its text blocks joined.
function answerText(body) {
  const blocks = body && Array.isArray(body.content) ? body.content : [];
  return blocks.filter((b) => b && b.type === 'text' && typeof b.text === 'string').map((b) => b.text).join('\n\n').trim();
}

// What a failed "proxy-fetch" (a rejected call) means.
function transportError(error, settings) {
  const message = (error && error.message) || String(error);
  if (message === 'Proxy restricted to allowed hosts') {
    return new SummaryError('address', `Vesko may not reach ${settings.apiAddress}: only the service it was built for is allowed. Check the API address in Settings.`);
  }
  if (message === 'Invalid URL') return new SummaryError('address', `The API address \u201c${settings.apiAddress}\u201d is not a web address. Check it in Settings.`);
  if (message === 'Invalid JSON response' || message === 'Empty response') {
    return new SummaryError('answer', 'The summary service sent an answer Vesko could not read. Try again later.');
  }
  return new SummaryError('network', `The summary service could not be reached: ${message}. Check the network connection and try again.`);
}

async function ask(bridge, settings, content, maxTokens) {
  if (!settings.apiKey) throw new SummaryError('no-key', 'Summaries need an API key: add yours in Settings.');
  let answer;
  try {
    answer = await bridge.call('proxy-fetch', messagesRequest(settings, content, maxTokens));
  } catch (error) {
    throw transportError(error, settings);
  }
  const failure = answerError(answer || {}, settings);
  if (failure) throw failure;
  return answer.body || {};
}

// Summarises `article`. Resolves with {text, model, created, cut, sent,
// total}; rejects with a SummaryError. Nothing is sent without a key or
// without text.
export async function summarise(bridge, settings, article, now = () => new Date().toISOString()) {
  const input = summaryInput(article, settings.summaryInputLimit);
  if (!input.total) throw new SummaryError('no-text', 'This article has no text to summarise.');
  const body = await ask(bridge, settings, input.prompt, settings.summaryTokens);
  const text = answerText(body);
  if (!text) throw new SummaryError('empty', 'The summary service answered without any text. Try again, or choose another model in Settings.');
  return {
    text: body.stop_reason === 'max_tokens' ? `${text}\u2026` : text,
    model: typeof body.model === 'string' ? body.model : settings.model,
    created: now(),
    cut: input.cut,
    sent: input.sent,
    total: input.total,
  };
}

// The smallest real request: one token of answer to a one-word message.
// Resolves with the model that answered; rejects with a SummaryError.
export async function testKey(bridge, settings) {
  const body = await ask(bridge, settings, 'Hi', 1);
  return typeof body.model === 'string' ? body.model : settings.model;
}
