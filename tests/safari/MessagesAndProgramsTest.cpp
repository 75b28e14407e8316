// The user-facing messages and the program texts sent to the runner.

#include "safari/ExtractionScript.hpp"
#include "safari/FriendlyError.hpp"
#include "safari/Programs.hpp"
#include "tests/support/PageScripts.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vesko::safari {
namespace {

// With no browser named by the error or configured, the messages say "your browser".
const std::string kGeneric =
    "Failed to extract content from your browser. Make sure your browser is open with an article tab.";
const std::string kSetup =
    "Your browser needs a one-time setup.\n\nOpen your browser > Settings > Developer > check \"Allow JavaScript "
    "from Apple Events\"\n\n(If you don't see the Developer tab: your browser > Settings > Advanced > check \"Show "
    "features for web developers\")";
const std::string kAutomation =
    "macOS blocked Vesko from controlling your browser.\n\nGo to System Settings > Privacy & Security > "
    "Automation > make sure Vesko has your browser checked.";
const std::string kNotRunning = "Your browser doesn't appear to be running. Open your browser first, then try again.";
const std::string kFallback = "Failed to extract content from your browser: ";

TEST(FriendlyError, RulesApplyInOrderWithCaseSensitiveSubstrings) {
    EXPECT_EQ(friendlyError(std::nullopt), kGeneric);
    EXPECT_EQ(friendlyError(std::string()), kFallback);
    EXPECT_EQ(friendlyError("Not authorized ... Allow JavaScript from Apple Events ..."), kSetup);
    EXPECT_EQ(friendlyError("execution error: Not authorized to send Apple events to Safari. (-1743)"),
              kAutomation);
    EXPECT_EQ(friendlyError("Vesko is not allowed assistive access. (-1719)"), kAutomation);
    EXPECT_EQ(friendlyError("not authorized to send events\n"), kFallback + "not authorized to send events\n");
    EXPECT_EQ(friendlyError("execution error: Application isn\xE2\x80\x99t running. (-600)\n"), kNotRunning);
    EXPECT_EQ(friendlyError("Application isn't running."), kNotRunning);
    EXPECT_EQ(friendlyError("Safari is not running"), kNotRunning);
    // A runner that cannot be started lands in the fallback, with its reason.
    const std::string launch = "Could not start \xE2\x80\x9Cvesko-osascript\xE2\x80\x9D: No such file or directory (/x)";
    EXPECT_EQ(friendlyError(launch), kFallback + launch);
}

TEST(FriendlyError, NamesTheBrowserTheRunnerDroveElseTheConfiguredOne) {
    const std::string tab9 =
        "36:53: execution error: Firefox got an error: Can\u2019t get tab 9 of window 1. Invalid index. (-1719)\n";
    EXPECT_EQ(friendlyError(tab9, "chromium"), "Failed to extract content from Firefox: " + tab9);
    EXPECT_EQ(friendlyError("0:9: execution error: Chromium got an error: Application isn\u2019t running. (-600)\n", ""),
              "Chromium doesn't appear to be running. Open Chromium first, then try again.");
    // A runner that reached no browser keeps the name the program told; the configured browser is named.
    EXPECT_EQ(friendlyError("0:9: execution error: Safari got an error: Application isn\u2019t running. (-600)\n",
                            "firefox-esr"),
              "Firefox doesn't appear to be running. Open Firefox first, then try again.");
    EXPECT_EQ(friendlyError(std::nullopt, "Google-Chrome"),
              "Failed to extract content from Google Chrome. Make sure Google Chrome is open with an article tab.");
    EXPECT_EQ(friendlyError("Allow JavaScript from Apple Events", "chromium").substr(0, 32),
              "Chromium needs a one-time setup.");
}

TEST(FriendlyError, FallbackKeepsTheFirst200UserPerceivedCharacters) {
    EXPECT_EQ(friendlyError(std::string(300, 'a')), kFallback + std::string(200, 'a'));
    EXPECT_EQ(friendlyError(std::string(200, 'b')), kFallback + std::string(200, 'b'));

    // "e" + combining acute accent is one character of three bytes; a family
    // emoji (man ZWJ woman ZWJ girl) is one character of eighteen bytes.
    std::string accented, family;
    for (int i = 0; i < 250; ++i) accented += "e\xCC\x81";
    for (int i = 0; i < 201; ++i) family += "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    EXPECT_EQ(friendlyError(accented), kFallback + accented.substr(0, 600));
    EXPECT_EQ(friendlyError(family), kFallback + family.substr(0, 200 * 18));

    // CR LF is one character; a line feed within the first 200 stays.
    std::string lines;
    for (int i = 0; i < 150; ++i) lines += "x\r\n";
    EXPECT_EQ(firstGraphemes(lines, 200), lines.substr(0, 100 * 3));
}

TEST(Programs, TabCountAndTabListProgramsCharacterForCharacter) {
    EXPECT_EQ(tabCountProgram(), "tell application \"Safari\"\n    return count of tabs of window 1\nend tell");
    EXPECT_EQ(tabListProgram(),
              "tell application \"Safari\"\n"
              "    if (count of windows) is 0 then return \"\"\n"
              "    set lines_ to {}\n"
              "    repeat with t in tabs of window 1\n"
              "        set end of lines_ to (URL of t) & tab & (name of t)\n"
              "    end repeat\n"
              "    set AppleScript's text item delimiters to linefeed\n"
              "    return lines_ as text\n"
              "end tell");
}

TEST(Programs, ExtractionProgramChoosesItsTabClause) {
    const std::string head = "set jsCode to \"" + escapeScriptForAppleScript(kExtractionScript) +
                             "\"\ntell application \"Safari\"\n";
    EXPECT_EQ(buildExtractionScript(std::nullopt, std::nullopt),
              head + "    return do JavaScript jsCode in current tab of front window\nend tell");
    // An empty address counts as absent.
    EXPECT_EQ(buildExtractionScript(std::nullopt, std::string()),
              buildExtractionScript(std::nullopt, std::nullopt));
    EXPECT_EQ(buildExtractionScript(3, std::string()),
              head + "    return do JavaScript jsCode in tab 3 of window 1\nend tell");
    EXPECT_EQ(buildExtractionScript(-12, std::nullopt),
              head + "    return do JavaScript jsCode in tab -12 of window 1\nend tell");
    // An address wins over a position; quotes and backslashes are escaped, line breaks left alone.
    EXPECT_EQ(buildExtractionScript(2, std::string("https://a.test/\"q\"\\x\ny")),
              head +
                  "    repeat with w in windows\n"
                  "        repeat with t in tabs of w\n"
                  "            if URL of t starts with \"https://a.test/\\\"q\\\"\\\\x\ny\" then\n"
                  "                return do JavaScript jsCode in t\n"
                  "            end if\n"
                  "        end repeat\n"
                  "    end repeat\n"
                  "    return \"null\"\n"
                  "end tell");
}

// Undoes AppleScript's string-literal escapes (\\ and \").
std::string unescapeAppleScript(const std::string& literal) {
    std::string out;
    for (std::size_t i = 0; i < literal.size(); ++i) {
        if (literal[i] == '\\' && i + 1 < literal.size()) ++i;
        out += literal[i];
    }
    return out;
}

TEST(Programs, EmbeddedExtractionScriptIsOneLineAndStillValidJavaScript) {
    const std::string program = buildExtractionScript(std::nullopt, std::nullopt);
    const std::string firstLine = program.substr(0, program.find('\n'));
    const std::string prefix = "set jsCode to \"";
    ASSERT_EQ(firstLine.rfind(prefix, 0), 0u);
    ASSERT_EQ(firstLine.back(), '"');
    const std::string literal = firstLine.substr(prefix.size(), firstLine.size() - prefix.size() - 1);
    // No unescaped double quote ends the literal early.
    for (std::size_t i = 0; i < literal.size(); ++i) {
        if (literal[i] == '\\') ++i;
        else ASSERT_NE(literal[i], '"') << "at " << i;
    }
    const std::string script = unescapeAppleScript(literal);
    std::string flattened(kExtractionScript);
    for (char& c : flattened)
        if (c == '\n') c = ' ';
    EXPECT_EQ(script, flattened);
    EXPECT_GT(script.size(), 2000u);
    EXPECT_LT(script.size(), 3500u);

    // The one-line script still parses: wrapped in a function that is never
    // called, it yields "function" instead of a syntax error.
    auto calls = vesko::testing::evaluateInPage({"Bridge._resolve('s', typeof (function(){ return " + script + "; }))"});
    ASSERT_EQ(calls.size(), 1u) << calls.dump();
    EXPECT_EQ(calls[0]["call"], "resolve") << calls.dump();
    EXPECT_EQ(calls[0]["value"], "function");
}

}  // namespace
}  // namespace vesko::safari
