#include "safari/FriendlyError.hpp"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>

#include <memory>

namespace vesko::safari {
namespace {

constexpr const char* kGenericMessage =
    "Failed to extract content from Safari. Make sure Safari is open with an article tab.";

constexpr const char* kSetupMessage =
    "Safari needs a one-time setup.\n"
    "\n"
    "Open Safari > Settings > Developer > check \"Allow JavaScript from Apple Events\"\n"
    "\n"
    "(If you don't see the Developer tab: Safari > Settings > Advanced > check \"Show features for web developers\")";

constexpr const char* kAutomationMessage =
    "macOS blocked Vesko from controlling Safari.\n"
    "\n"
    "Go to System Settings > Privacy & Security > Automation > make sure Vesko has Safari checked.";

constexpr const char* kNotRunningMessage =
    "Safari doesn't appear to be running. Open Safari first, then try again.";

constexpr const char* kFallbackPrefix = "Failed to extract content from Safari: ";

constexpr std::size_t kFallbackGraphemes = 200;

}  // namespace

std::string firstGraphemes(const std::string& text, std::size_t count) {
    if (text.size() <= count) return text;  // never more clusters than bytes
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<UText, decltype(&utext_close)> textGuard(utext, &utext_close);
    std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !clusters) return text;
    clusters->setText(utext, status);
    if (U_FAILURE(status)) return text;
    // Over UTF-8 text the boundaries are byte offsets.
    std::int32_t end = clusters->first();
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t next = clusters->next();
        if (next == icu::BreakIterator::DONE) return text;
        end = next;
    }
    return text.substr(0, static_cast<std::size_t>(end));
}

std::string friendlyError(const std::optional<std::string>& error) {
    if (!error) return kGenericMessage;
    const std::string& raw = *error;
    auto has = [&raw](const char* needle) { return raw.find(needle) != std::string::npos; };
    if (has("Allow JavaScript from Apple Events")) return kSetupMessage;
    if (has("Not authorized") || has("not allowed assistive")) return kAutomationMessage;
    if (has("Application isn") || has("not running")) return kNotRunningMessage;
    return kFallbackPrefix + firstGraphemes(raw, kFallbackGraphemes);
}

}  // namespace vesko::safari
