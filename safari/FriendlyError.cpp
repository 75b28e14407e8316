#include "safari/FriendlyError.hpp"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>

#include <cctype>
#include <cstdlib>
#include <memory>

namespace vesko::safari {
namespace {

// On macOS the programs drive Safari, and the messages name it. Elsewhere they
// name the browser the runner drove (or, when none answered, the one the user
// configured, else "your browser").
#if defined(__APPLE__)
constexpr bool kMessagesNameSafari = true;
#else
constexpr bool kMessagesNameSafari = false;
#endif

// "%B" stands for the browser's name.
constexpr const char* kGenericMessage = "Failed to extract content from %B. Make sure %B is open with an article tab.";

constexpr const char* kSetupMessage =
    "%B needs a one-time setup.\n"
    "\n"
    "Open %B > Settings > Developer > check \"Allow JavaScript from Apple Events\"\n"
    "\n"
    "(If you don't see the Developer tab: %B > Settings > Advanced > check \"Show features for web developers\")";

constexpr const char* kAutomationMessage =
    "macOS blocked Vesko from controlling %B.\n"
    "\n"
    "Go to System Settings > Privacy & Security > Automation > make sure Vesko has %B checked.";

constexpr const char* kNotRunningMessage = "%B doesn't appear to be running. Open %B first, then try again.";

constexpr const char* kFallbackPrefix = "Failed to extract content from %B: ";

constexpr std::size_t kFallbackGraphemes = 200;

// The application an osascript-form error names ("… execution error: Firefox
// got an error: …"): the runner names the browser it drove there.
std::string applicationInError(const std::string& error) {
    const std::string lead = "execution error: ", tail = " got an error: ";
    auto start = error.find(lead);
    if (start == std::string::npos) return "";
    start += lead.size();
    auto end = error.find(tail, start);
    if (end == std::string::npos || end == start || end - start > 64) return "";
    std::string name = error.substr(start, end - start);
    return name.find_first_of(":\n") == std::string::npos ? name : "";
}

std::string browserName(const std::optional<std::string>& error, std::string_view configured) {
    if (kMessagesNameSafari) return "Safari";
    // The programs tell "Safari"; a runner that reached no browser keeps that name.
    if (error) {
        std::string named = applicationInError(*error);
        if (!named.empty() && named != "Safari") return named;
    }
    std::string setting(configured);
    for (char& c : setting) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (setting.find("firefox") != std::string::npos) return "Firefox";
    if (setting.find("chromium") != std::string::npos) return "Chromium";
    if (setting.find("chrome") != std::string::npos) return "Google Chrome";
    return "your browser";
}

std::string withBrowser(std::string_view text, const std::string& browser) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "%B") != 0) {
            out += text[i];
            continue;
        }
        std::size_t at = out.size();
        out += browser;
        // "your browser" opening a line opens a sentence.
        if (at == 0 || out[at - 1] == '\n') out[at] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[at])));
        ++i;
    }
    return out;
}

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

std::string friendlyError(const std::optional<std::string>& error, std::string_view configuredBrowser) {
    const std::string browser = browserName(error, configuredBrowser);
    if (!error) return withBrowser(kGenericMessage, browser);
    const std::string& raw = *error;
    auto has = [&raw](const char* needle) { return raw.find(needle) != std::string::npos; };
    if (has("Allow JavaScript from Apple Events")) return withBrowser(kSetupMessage, browser);
    if (has("Not authorized") || has("not allowed assistive")) return withBrowser(kAutomationMessage, browser);
    if (has("Application isn") || has("not running")) return withBrowser(kNotRunningMessage, browser);
    return withBrowser(kFallbackPrefix, browser) + firstGraphemes(raw, kFallbackGraphemes);
}

std::string friendlyError(const std::optional<std::string>& error) {
    const char* configured = std::getenv("VESKO_BROWSER");
    return friendlyError(error, configured ? configured : "");
}

}  // namespace vesko::safari
