// The Messages API client without a window: the request it builds, and what
// it makes of each answer; and which request reaches which tab in a batch.
import test from 'node:test';
import assert from 'node:assert/strict';
import { pages } from './support.mjs';

const { summarise, testKey, summaryInput, SummaryError } = await pages('lib/messages.js');
const { DEFAULTS } = await pages('lib/preferences.js');
const { extractionRequest, runBatch, batchSummary } = await pages('lib/batch.js');

const settings = { ...DEFAULTS, apiKey: 'sk-test', apiAddress: 'http://localhost:8123', model: 'claude-test', summaryTokens: 300, summaryInputLimit: 1000 };
const article = { title: 'Night trains', siteName: 'Rail Weekly', textContent: 'Sleeper services return. '.repeat(100) };

// A bridge that answers "proxy-fetch" with `answer` (a value, or an Error to reject with).
function bridge(answer) {
  const calls = [];
  return {
    calls,
    call(action, args) {
      calls.push({ action, args });
      return answer instanceof Error ? Promise.reject(answer) : Promise.resolve(answer);
    },
  };
}

test('the request: address, method, the three headers and a body with model, max_tokens and messages', async () => {
  const b = bridge({ status: 200, body: { model: 'claude-test-1', content: [{ type: 'text', text: 'Trains are back.' }], stop_reason: 'end_turn' } });
  const summary = await summarise(b, { ...settings, apiAddress: 'http://localhost:8123/' }, article, () => 'now');
  assert.deepEqual(summary, { text: 'Trains are back.', model: 'claude-test-1', created: 'now', cut: true, sent: 999, total: 2499 });
  assert.equal(b.calls.length, 1);
  const { action, args } = b.calls[0];
  assert.equal(action, 'proxy-fetch');
  assert.equal(args.url, 'http://localhost:8123/v1/messages');
  assert.equal(args.method, 'POST');
  assert.deepEqual(args.headers, { 'x-api-key': 'sk-test', 'anthropic-version': '2023-06-01', 'content-type': 'application/json' });
  const body = JSON.parse(args.body);
  assert.deepEqual(Object.keys(body), ['model', 'max_tokens', 'messages']);
  assert.equal(body.model, 'claude-test');
  assert.equal(body.max_tokens, 300);
  assert.equal(body.messages[0].role, 'user');
  assert.match(body.messages[0].content, /Title: Night trains\nSite: Rail Weekly\n\nSleeper services return\./);
  // The text is cut at the limit, on a word.
  const input = summaryInput(article, 1000);
  assert.ok(input.prompt.endsWith('return.'), input.prompt.slice(-30));

  const tiny = bridge({ status: 200, body: { content: [{ type: 'text', text: '.' }] } });
  assert.equal(await testKey(tiny, settings), 'claude-test');
  assert.equal(JSON.parse(tiny.calls[0].args.body).max_tokens, 1);
});

test('every failure is a message that says what to do, and nothing is sent without a key or text', async () => {
  const failure = async (answer, overrides = {}, source = article) => {
    try {
      await summarise(bridge(answer), { ...settings, ...overrides }, source);
    } catch (error) {
      assert.ok(error instanceof SummaryError);
      return [error.kind, error.message, error.retryAfter];
    }
    throw new Error('no failure');
  };
  const apiError = (status, type, message, extra = {}) => ({ status, body: { type: 'error', error: { type, message, ...extra } } });

  const unsent = bridge({ status: 200, body: {} });
  await assert.rejects(summarise(unsent, { ...settings, apiKey: '' }, article), { kind: 'no-key', message: /add yours in Settings/ });
  await assert.rejects(summarise(unsent, settings, { title: 'Empty', textContent: '  ' }), { kind: 'no-text' });
  assert.equal(unsent.calls.length, 0);

  assert.deepEqual((await failure(apiError(401, 'authentication_error', 'invalid x-api-key'))).slice(0, 1), ['key']);
  assert.deepEqual(await failure(apiError(429, 'rate_limit_error', 'slow down', { retry_after: 30 })),
    ['busy', 'The summary service is busy (too many requests for this key). Try again in 30 seconds.', 30]);
  assert.deepEqual(await failure(apiError(529, 'overloaded_error', 'Overloaded')),
    ['busy', 'The summary service is busy (the service is overloaded). Try again in a minute or two.', null]);
  assert.deepEqual(await failure(apiError(404, 'not_found_error', 'model: claude-nonsense')),
    ['model', 'The model \u201cclaude-test\u201d was refused. Choose another in Settings. The service said: \u201cmodel: claude-nonsense\u201d', null]);
  assert.equal((await failure(apiError(500, 'api_error', 'boom')))[0], 'service');
  assert.equal((await failure({ status: 200, body: { content: [] } }))[0], 'empty');
  assert.equal((await failure({ status: 200, body: { content: [{ type: 'tool_use' }] } }))[0], 'empty');
  assert.deepEqual((await failure(new Error('Invalid JSON response'))).slice(0, 1), ['answer']);
  assert.equal((await failure(new Error('Proxy restricted to allowed hosts')))[0], 'address');
  assert.deepEqual(await failure(new Error("Couldn't connect to server")),
    ['network', "The summary service could not be reached: Couldn't connect to server. Check the network connection and try again.", null]);
});

test('batch: tabs whose address another tab starts with are taken by position; a moved tab fails; counts', async () => {
  const tabs = [
    { url: 'https://example.com/a', title: 'A' },
    { url: 'https://example.com/a?page=2', title: 'A, page 2' },
    { url: 'https://example.com/b', title: 'B' },
    { url: 'https://EXAMPLE.com/b', title: 'B again' },
    { url: '', title: 'New tab' },
  ];
  assert.deepEqual(tabs.map((_, i) => extractionRequest(tabs, i)), [
    ['extract-tab-by-index', { tabIndex: 1 }],
    ['extract-tab-by-url', { url: 'https://example.com/a?page=2' }],
    ['extract-tab-by-index', { tabIndex: 3 }],
    ['extract-tab-by-index', { tabIndex: 4 }],
    ['extract-tab-by-index', { tabIndex: 5 }],
  ]);

  const answers = {
    1: { url: 'https://example.com/a' },            // the right tab
    3: { url: 'https://example.com/c' },            // another tab moved into its place
  };
  const states = [];
  let stop = false;
  const counts = await runBatch({
    tabs,
    indices: [0, 1, 2, 3],
    bridge: { call: async (action, args) => {
      if (action === 'extract-tab-by-url') throw new Error('No tab matches.');
      return answers[args.tabIndex];
    } },
    keep: async (result) => ({ key: result.url }),
    onState: (i, state, detail) => { states.push([i, state, detail]); if (i === 2 && state === 'failed') stop = true; },
    cancelled: () => stop,
  });
  assert.deepEqual(states, [
    [0, 'working', undefined], [0, 'done', { key: 'https://example.com/a' }],
    [1, 'working', undefined], [1, 'failed', 'No tab matches.'],
    [2, 'working', undefined], [2, 'failed', 'The tab closed or moved during the batch.'],
    [3, 'cancelled', undefined],
  ]);
  assert.equal(batchSummary(counts), '1 of 4 articles, 2 failed, 1 cancelled');
});
