#include "safari/TabOperations.hpp"

#include "safari/FriendlyError.hpp"
#include "safari/Programs.hpp"
#include "web/Reply.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace vesko::safari {
namespace {

// A page can make the extraction's output any text it likes (it can replace
// JSON.stringify), so it is only handed on when it is what the extraction
// makes: exactly one JSON object. The output is trimmed.
bool isExtractionResult(const std::string& text) {
    return !text.empty() && text.front() == '{' && nlohmann::json::accept(text);
}

std::string failureReply(const std::optional<std::string>& error, const std::string& callbackId) {
    return reply::rejectMessage(callbackId, friendlyError(error), reply::MessageEscaping::Message);
}

}  // namespace

std::string extractionReply(const ScriptOutcome& outcome, const std::string& callbackId) {
    if (outcome.output && isExtractionResult(*outcome.output))
        return reply::resolveParsed(callbackId, *outcome.output);
    // Output "null", undecodable or no JSON object: the run carries no error text.
    return failureReply(outcome.output ? std::nullopt : outcome.error, callbackId);
}

std::string tabListReply(const ScriptOutcome& outcome, const std::string& callbackId) {
    if (!outcome.output) return failureReply(outcome.error, callbackId);
    const std::string& text = *outcome.output;
    auto entries = nlohmann::json::array();
    if (!text.empty()) {
        std::size_t lineStart = 0;
        while (true) {
            const std::size_t lineEnd = std::min(text.find('\n', lineStart), text.size());
            const std::string_view line(text.data() + lineStart, lineEnd - lineStart);
            const std::size_t tab = line.find('\t');
            std::string url(line.substr(0, tab));
            std::string title;
            if (tab != std::string_view::npos) {
                const std::string_view rest = line.substr(tab + 1);
                title = std::string(rest.substr(0, rest.find('\t')));
            }
            entries.push_back({{"url", std::move(url)}, {"title", std::move(title)}});
            if (lineEnd == text.size()) break;
            lineStart = lineEnd + 1;
        }
    }
    std::string json;
    try {
        json = entries.dump();
    } catch (const nlohmann::json::exception&) {
        json = "[]";
    }
    return reply::resolveValue(callbackId, json);
}

std::optional<std::int64_t> parseTabCount(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    constexpr std::uint64_t largest = static_cast<std::uint64_t>(INT64_MAX);
    if (magnitude > largest + (negative ? 1 : 0)) return std::nullopt;
    // Conversion to the signed type wraps, which gives INT64_MIN for 2^63.
    return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

std::string extractAllTabs(const ScriptRunner& run, const std::string& callbackId) {
    const ScriptOutcome counted = run(std::string(tabCountProgram()));
    std::optional<std::int64_t> count;
    if (counted.output) count = parseTabCount(trimWhitespace(*counted.output));
    if (!count) return failureReply(counted.output ? std::nullopt : counted.error, callbackId);

    std::string results = "[";
    bool first = true;
    for (std::int64_t i = 1; i <= *count; ++i) {
        const ScriptOutcome tab = run(buildExtractionScript(i, std::nullopt));
        if (!tab.output || !isExtractionResult(*tab.output)) continue;
        if (!first) results += ',';
        results += *tab.output;
        first = false;
    }
    results += ']';
    return reply::resolveValue(callbackId, results);
}

}  // namespace vesko::safari
