#include "safari/ExtractionScript.hpp"

namespace vesko::safari {

const std::string_view kExtractionScript = R"JS(JSON.stringify((function () {
  "use strict";
  var rawUrl = window.location.href;
  var url = rawUrl;
  try {
    var parsed = new URL(rawUrl);
    parsed.search = "";
    parsed.hash = "";
    url = parsed.toString();
  } catch (e) {}
  var title = document.title || "";
  var host = "";
  try {
    host = new URL(url).hostname.replace(/^www\./, "");
  } catch (e) {}
  var headHtml = "";
  var head = document.querySelector("head");
  if (head) {
    headHtml = head.innerHTML
      .replace(/<style[^>]*>[\s\S]*?<\/style>/gi, "")
      .replace(/<script(?![^>]*type\s*=\s*["']application\/ld\+json["'])[^>]*>[\s\S]*?<\/script>/gi, "")
      .replace(/\s{2,}/g, " ")
      .substring(0, 15000);
  }
  var headerParts = [];
  var h1 = document.querySelector("h1");
  if (h1) {
    headerParts.push(h1.textContent.trim());
  }
  var collect = function (selectors, seen, minLength, maxLength) {
    selectors.forEach(function (selector) {
      document.querySelectorAll(selector).forEach(function (element) {
        var text = element.textContent.trim();
        if (text && text.length > minLength && text.length < maxLength && !seen.has(text)) {
          seen.add(text);
          headerParts.push(text);
        }
      });
    });
  };
  var bylineSelectors = ['[class*="byline"]', '[class*="Byline"]', '[class*="author"]',
    '[class*="Author"]', '[itemprop="author"]', 'a[rel="author"]'];
  var seenBylines = new Set();
  collect(bylineSelectors, seenBylines, 2, 200);
  var subSelectors = ['[class*="sub-head"]', '[class*="subhead"]', '[class*="Subhead"]',
    '[class*="standfirst"]', '[class*="Standfirst"]', '[class*="deck"]', '[class*="dek"]',
    '[class*="summary"]', '[class*="article-summary"]', '#article-summary',
    '[data-testid*="subhead"]', '[data-testid*="deck"]', '[data-testid*="summary"]',
    '[data-testid*="standfirst"]', '[data-testid*="dek"]', '[role="doc-subtitle"]',
    'article header h2', '.article-header h2', 'header p'];
  var seenSubs = new Set();
  collect(subSelectors, seenSubs, 15, 500);
  var headerHtml = headerParts.join("\n").substring(0, 2000);
  var dateMatch = url.match(/\/(\d{4})\/(\d{2})\/(\d{2})\//);
  var urlDate = dateMatch ? dateMatch[1] + "-" + dateMatch[2] + "-" + dateMatch[3] : "";
  var rawHtml = document.documentElement.outerHTML
    .replace(/<script[^>]*>[\s\S]*?<\/script>/gi, "")
    .replace(/<style[^>]*>[\s\S]*?<\/style>/gi, "")
    .replace(/<svg[^>]*>[\s\S]*?<\/svg>/gi, "")
    .substring(0, 200000);
  return {
    raw_text: "",
    raw_html: rawHtml,
    title: title,
    publication: host,
    url: url,
    head_html: headHtml,
    header_html: headerHtml,
    url_date: urlDate
  };
})()))JS";

}  // namespace vesko::safari
