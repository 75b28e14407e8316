#pragma once
// The logic of the tab operations: from what the runner gave back to the reply
// script for the page (built with vesko::reply).

#include "safari/AppleScriptRunner.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesko::safari {

// The reply to a single-tab extraction. Output that is exactly one JSON object
// resolves the request with it; anything else rejects with the message for the
// run's error (the message for an absent error when the output was "null",
// undecodable or no JSON object).
std::string extractionReply(const ScriptOutcome& outcome, const std::string& callbackId);

// The reply to "get-tab-urls" from the run of the tab-list program: an array
// of {url, title}, one per output line; a reject when the run failed.
std::string tabListReply(const ScriptOutcome& outcome, const std::string& callbackId);

// Reads the tab count: optional sign, ASCII digits, nothing else, within 64 bits.
std::optional<std::int64_t> parseTabCount(std::string_view text);

// "extract-all-tabs": counts the front window's tabs, then extracts them one
// after another with `run`. Tabs whose run fails or whose output is not one
// JSON object are left out. Returns the reply.
std::string extractAllTabs(const ScriptRunner& run, const std::string& callbackId);

}  // namespace vesko::safari
