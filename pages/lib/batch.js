// Extracting the front window's tabs one at a time: which request reaches
// which tab, and the run itself, with a state per tab and a way to stop.
import { articleKey } from './library.js';

// The bridge request that extracts tab `index` of `tabs` (the front window's
// tabs as "get-tab-urls" lists them). By address, which still finds the tab
// when others close; by position (1-based) when the address would find
// another tab first (the address search takes the first tab whose address
// starts with it, letter case aside) or the tab has none.
export function extractionRequest(tabs, index) {
  const url = String(tabs[index].url || '');
  const lower = url.toLowerCase();
  const ambiguous = !url || tabs.some((tab, j) => j !== index && String(tab.url || '').toLowerCase().startsWith(lower));
  return ambiguous ? ['extract-tab-by-index', { tabIndex: index + 1 }] : ['extract-tab-by-url', { url }];
}

// Extracts the tabs at `indices`, one after another, and keeps each result
// with `keep(result)`. `onState(index, state, detail)` hears each change
// (working, done with the kept record, failed with the message, cancelled);
// once `cancelled()` holds, the tab in hand finishes and the rest are
// cancelled. Resolves with the counts {done, failed, cancelled}.
export async function runBatch({ tabs, indices, bridge, keep, onState, cancelled = () => false }) {
  const counts = { done: 0, failed: 0, cancelled: 0 };
  for (const index of indices) {
    if (cancelled()) {
      counts.cancelled += 1;
      onState(index, 'cancelled');
      continue;
    }
    onState(index, 'working');
    try {
      const [action, args] = extractionRequest(tabs, index);
      const result = await bridge.call(action, args);
      // A position finds whatever tab is there now: one that closed moved the rest.
      if (action === 'extract-tab-by-index' && tabs[index].url && result && articleKey(result.url) !== articleKey(tabs[index].url)) {
        throw new Error('The tab closed or moved during the batch.');
      }
      const record = await keep(result);
      counts.done += 1;
      onState(index, 'done', record);
    } catch (error) {
      counts.failed += 1;
      onState(index, 'failed', (error && error.message) || String(error));
    }
  }
  return counts;
}

// "12 of 14 articles, 2 failed" (and how many were cancelled).
export function batchSummary({ done, failed, cancelled }) {
  const total = done + failed + cancelled;
  const parts = [`${done} of ${total} article${total === 1 ? '' : 's'}`];
  if (failed) parts.push(`${failed} failed`);
  if (cancelled) parts.push(`${cancelled} cancelled`);
  return parts.join(', ');
}
