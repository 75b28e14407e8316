// The script runner's interpreter against an in-memory browser: the programs
// the application sends, their output and error texts, and the language rules
// they lean on.

#include "tools/osascript/Parser.hpp"
#include "tools/osascript/Runner.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace vesko::osascript {
namespace {

class FakeBrowser : public Browser {
public:
    std::vector<WindowInfo> windowList;
    bool running = true;
    std::vector<std::pair<std::string, std::string>> calls;  // tab id, code
    std::function<JavaScriptResult(const TabInfo&, const std::string&)> page = [](const TabInfo& tab,
                                                                                   const std::string&) {
        JavaScriptResult r;
        r.hasValue = true;
        r.value = "result of " + tab.id;
        return r;
    };

    const std::vector<WindowInfo>& windows() override {
        if (!running) throw BrowserError(-600, "Application isn\u2019t running.");
        return windowList;
    }
    JavaScriptResult doJavaScript(const TabInfo& tab, const std::string& code) override {
        calls.emplace_back(tab.id, code);
        return page(tab, code);
    }
};

WindowInfo window(const std::string& id, std::vector<TabInfo> tabs, std::size_t current = 0) {
    return {id, std::move(tabs), current};
}

// The programs, line for line as the application builds them.
const std::string kTabCount = "tell application \"Safari\"\n    return count of tabs of window 1\nend tell";
const std::string kTabList =
    "tell application \"Safari\"\n"
    "    if (count of windows) is 0 then return \"\"\n"
    "    set lines_ to {}\n"
    "    repeat with t in tabs of window 1\n"
    "        set end of lines_ to (URL of t) & tab & (name of t)\n"
    "    end repeat\n"
    "    set AppleScript's text item delimiters to linefeed\n"
    "    return lines_ as text\n"
    "end tell";

std::string escapeForString(const std::string& text, bool flattenLines) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n' && flattenLines) out += ' ';
        else if (c == '\r' && flattenLines) continue;
        else out += c;
    }
    return out;
}

// A stand-in for the extraction script with everything that must survive the
// trip: backslashes, double quotes, regular expressions and line breaks.
const std::string kScript =
    "JSON.stringify((function () {\n"
    "  \"use strict\";\n"
    "  var m = location.href.match(/\\/(\\d{4})\\/(\\d{2})\\//);\n"
    "  return {title: document.title || \"\", sep: \"\\n\", date: m ? m[1] : \"\"};\n"
    "})())";

std::string extraction(const std::string& clause) {
    return "set jsCode to \"" + escapeForString(kScript, true) + "\"\ntell application \"Safari\"\n" + clause +
           "\nend tell";
}
std::string currentTabProgram() { return extraction("    return do JavaScript jsCode in current tab of front window"); }
std::string positionProgram(long long n) {
    return extraction("    return do JavaScript jsCode in tab " + std::to_string(n) + " of window 1");
}
std::string prefixProgram(const std::string& address) {
    return extraction("    repeat with w in windows\n"
                      "        repeat with t in tabs of w\n"
                      "            if URL of t starts with \"" + escapeForString(address, false) + "\" then\n"
                      "                return do JavaScript jsCode in t\n"
                      "            end if\n"
                      "        end repeat\n"
                      "    end repeat\n"
                      "    return \"null\"");
}

std::string flattened(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c == '\n' ? ' ' : c;
    return out;
}

// The substring rules that pick the message the user sees, in order.
std::string friendlyRule(const std::string& error) {
    for (const char* rule : {"Allow JavaScript from Apple Events", "Not authorized", "not allowed assistive",
                             "Application isn", "not running"})
        if (error.find(rule) != std::string::npos) return rule;
    return "fallback";
}

class Interpreter : public ::testing::Test {
protected:
    FakeBrowser browser;
    void SetUp() override {
        browser.windowList = {
            window("w1", {{"a", "https://news.example/2024/05/17/first.html", "First"},
                          {"b", "https://NEWS.example/2024/05/18/second.html", "Second \"quoted\""},
                          {"c", "https://other.example/x", "Third"}},
                   1),
            window("w2", {{"d", "https://news.example/2024/05/17/first.html?again", "Again"}}),
        };
    }
    RunOutput run(const std::string& program) { return runScript(program, browser); }
};

TEST_F(Interpreter, TabCountAndTabListPrograms) {
    auto count = run(kTabCount);
    EXPECT_EQ(count.status, 0);
    EXPECT_EQ(count.out, "3\n");

    // Titles may hold quotes and tabs of their own: they come through unchanged.
    browser.windowList[0].tabs[2].title = "Tab\there";
    auto list = run(kTabList);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out,
              "https://news.example/2024/05/17/first.html\tFirst\n"
              "https://NEWS.example/2024/05/18/second.html\tSecond \"quoted\"\n"
              "https://other.example/x\tTab\there\n");
    EXPECT_TRUE(browser.calls.empty());

    // No window: the list is empty text, the count fails with osascript's text.
    browser.windowList.clear();
    auto empty = run(kTabList);
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "\n");
    auto noWindow = run(kTabCount);
    EXPECT_EQ(noWindow.status, 1);
    EXPECT_EQ(noWindow.out, "");
    EXPECT_EQ(noWindow.err,
              "54:62: execution error: Safari got an error: Can\u2019t get window 1. Invalid index. (-1719)\n");
}

TEST_F(Interpreter, ExtractionByCurrentTabAndPositionRunsTheUnescapedScript) {
    auto current = run(currentTabProgram());
    ASSERT_EQ(current.status, 0) << current.err;
    EXPECT_EQ(current.out, "result of b\n");  // window 1's current tab
    ASSERT_EQ(browser.calls.size(), 1u);
    EXPECT_EQ(browser.calls[0].second, flattened(kScript));

    auto second = run(positionProgram(3));
    EXPECT_EQ(second.out, "result of c\n");
    auto last = run(positionProgram(-1));  // AppleScript counts negative positions from the end
    EXPECT_EQ(last.out, "result of c\n");

    for (long long bad : {0LL, 4LL, -4LL, 9LL}) {
        auto out = run(positionProgram(bad));
        EXPECT_EQ(out.status, 1);
        EXPECT_EQ(out.out, "");
        std::string expected = "Safari got an error: Can\u2019t get tab " + std::to_string(bad) +
                               " of window 1. Invalid index. (-1719)\n";
        EXPECT_NE(out.err.find(": execution error: " + expected), std::string::npos) << out.err;
        EXPECT_EQ(friendlyRule(out.err), "fallback");
    }
}

TEST_F(Interpreter, ExtractionByAddressPrefixIgnoresCaseAndTakesTheFirstInWindowOrder) {
    auto first = run(prefixProgram("HTTPS://news.example/2024/05/1"));
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "result of a\n");

    auto secondWindow = run(prefixProgram("https://news.example/2024/05/17/first.html?"));
    EXPECT_EQ(secondWindow.out, "result of d\n");

    auto none = run(prefixProgram("https://nowhere.example/"));
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "null\n");

    // Quotes, backslashes and a line break in the address reach the comparison unchanged.
    std::string awkward = "https://q.example/say \"hi\"\\path\nnext";
    browser.windowList[1].tabs.push_back({"e", awkward + "/rest", "Awkward"});
    auto escaped = run(prefixProgram(awkward));
    ASSERT_EQ(escaped.status, 0) << escaped.err;
    EXPECT_EQ(escaped.out, "result of e\n");
    EXPECT_EQ(browser.calls.back().second, flattened(kScript));
}

TEST_F(Interpreter, PageResultsAndPageFailures) {
    browser.page = [](const TabInfo&, const std::string& code) {
        JavaScriptResult r;
        if (code == "throw") {
            r.threw = true;
            r.exception = "Error: stringify refused";
        } else if (code == "number") {
            r.hasValue = true;
            r.value = 2.5;
        } else if (code == "list") {
            r.hasValue = true;
            r.value = nlohmann::json::array({1, "two", true});
        } else if (code == "text") {
            r.hasValue = true;
            r.value = "line one\nline \"two\"\\";
        }
        return r;  // anything else: undefined
    };
    auto js = [&](const std::string& code) {
        return run("tell application \"Safari\" to return do JavaScript \"" + code + "\" in tab 1 of window 1");
    };
    EXPECT_EQ(js("text").out, "line one\nline \"two\"\\\n");
    EXPECT_EQ(js("number").out, "2.5\n");
    EXPECT_EQ(js("list").out, "1, two, true\n");
    auto undefinedResult = js("undefined");
    EXPECT_EQ(undefinedResult.status, 0);
    EXPECT_EQ(undefinedResult.out, "");  // no result, nothing printed

    auto threw = js("throw");
    EXPECT_EQ(threw.status, 1);
    EXPECT_NE(threw.err.find("execution error: Safari got an error: A JavaScript error occurred: Error: "
                             "stringify refused (-2700)\n"),
              std::string::npos)
        << threw.err;
}

TEST_F(Interpreter, BrowserNotRunningReadsAsNotRunning) {
    browser.running = false;
    for (const auto& program : {kTabCount, kTabList, currentTabProgram(), prefixProgram("https://x")}) {
        auto out = run(program);
        EXPECT_EQ(out.status, 1);
        EXPECT_NE(out.err.find("execution error: Safari got an error: Application isn\u2019t running. (-600)\n"),
                  std::string::npos)
            << out.err;
        EXPECT_EQ(friendlyRule(out.err), "Application isn");
    }
}

TEST_F(Interpreter, UnforeseenBrowserFailureIsStillAnErrorInOsascriptForm) {
    browser.page = [](const TabInfo&, const std::string&) -> JavaScriptResult {
        throw std::runtime_error("malformed answer");
    };
    auto out = run(currentTabProgram());
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.out, "");
    EXPECT_EQ(out.err, "0:0: execution error: malformed answer (-2700)\n");
}

TEST_F(Interpreter, SyntaxErrorsInOsascriptForm) {
    struct Case {
        std::string program;
        std::string err;
    };
    const Case cases[] = {
        {"return foo bar", "11:14: syntax error: Expected end of line but found identifier. (-2741)\n"},
        {"set x to \"open", "9:14: syntax error: Expected \u201c\"\u201d but found end of script. (-2741)\n"},
        {"tell application \"Safari\"\n    return 1", "38:38: syntax error: Expected \u201cend\u201d but found end of script. (-2741)\n"},
        {"repeat 3 times\nend repeat", "7:8: syntax error: Only \u201crepeat with \u2026 in \u2026\u201d loops are supported. (-2741)\n"},
        {"return 1 %", "9:10: syntax error: A unknown token can\u2019t go here. (-2740)\n"},
        {"if x then\nreturn 1", "18:18: syntax error: Expected \u201cend\u201d but found end of script. (-2741)\n"},
    };
    for (const auto& c : cases) {
        auto out = run(c.program);
        EXPECT_EQ(out.status, 1) << c.program;
        EXPECT_EQ(out.out, "");
        EXPECT_EQ(out.err, c.err) << c.program;
    }
    EXPECT_TRUE(browser.calls.empty());
}

TEST_F(Interpreter, LanguageRulesTheProgramsLeanOn) {
    // String escapes, constants and concatenation.
    EXPECT_EQ(run("return \"a\\tb\\nc\\\\d\\\"e\" & tab & \"|\" & linefeed").out, "a\tb\nc\\d\"e\t|\n\n");
    // Text item delimiters: the default joins with nothing; lists keep their order.
    EXPECT_EQ(run("set l to {\"a\", 1, 2.5}\nreturn l as text").out, "a12.5\n");
    EXPECT_EQ(run("set l to {}\nset end of l to \"x\"\nset end of l to \"y\"\n"
                  "set AppleScript's text item delimiters to \", \"\nreturn l as text").out,
              "x, y\n");
    EXPECT_EQ(run("set AppleScript's text item delimiters to {\"-\"}\nreturn {1, 2, 3} as text").out, "1-2-3\n");
    // Comparison ignores case, as AppleScript's default does; starts with too.
    EXPECT_EQ(run("return \"ABC\" is \"abc\"").out, "true\n");
    EXPECT_EQ(run("return \"ABC\" is not \"abd\"").out, "true\n");
    EXPECT_EQ(run("return \"Stra\u00dfe Ab\" starts with \"STRASSE\"").out, "true\n");
    EXPECT_EQ(run("return \"\u00c9cole\" starts with \"\u00e9co\"").out, "true\n");
    EXPECT_EQ(run("return \"abc\" starts with \"b\"").out, "false\n");
    // if, one-line and block with else; count of.
    EXPECT_EQ(run("if (count of {1, 2}) is 2 then return \"two\"\nreturn \"other\"").out, "two\n");
    EXPECT_EQ(run("set n to 0\nif n is 1 then\n  return \"one\"\nelse if n is 0 then\n  return \"zero\"\nelse\n"
                  "  return \"many\"\nend if").out,
              "zero\n");
    // repeat with … in walks a snapshot; return leaves every block at once.
    EXPECT_EQ(run("set l to {1, 2, 3}\nrepeat with i in l\n  if i is 2 then\n    return i\n  end if\nend repeat").out,
              "2\n");
    // A variable read before it is set.
    auto undefinedVar = run("return y & \"x\"");
    EXPECT_EQ(undefinedVar.status, 1);
    EXPECT_EQ(undefinedVar.err, "7:8: execution error: The variable y is not defined. (-2753)\n");
}

TEST_F(Interpreter, ReferencesResolveAgainstWindowsAndTabs) {
    const std::string tellPrefix = "tell application \"Safari\"\n";
    EXPECT_EQ(run(tellPrefix + "return URL of current tab of front window\nend tell").out,
              "https://NEWS.example/2024/05/18/second.html\n");
    EXPECT_EQ(run(tellPrefix + "return name of tab 1 of window 2\nend tell").out, "Again\n");
    EXPECT_EQ(run(tellPrefix + "return count of windows\nend tell").out, "2\n");
    EXPECT_EQ(run(tellPrefix + "set t to tab 3 of window 1\nreturn t's URL\nend tell").out,
              "https://other.example/x\n");
    auto badWindow = run(tellPrefix + "return count of tabs of window 3\nend tell");
    EXPECT_NE(badWindow.err.find("Safari got an error: Can\u2019t get window 3. Invalid index. (-1719)"),
              std::string::npos)
        << badWindow.err;
    // The name after "tell application" is the one the messages use.
    auto chromium = run("tell application \"Chromium\"\nreturn tab 7 of window 1\nend tell");
    EXPECT_NE(chromium.err.find("Chromium got an error: Can\u2019t get tab 7 of window 1. Invalid index."),
              std::string::npos)
        << chromium.err;
    // Outside a tell block there are no windows to get.
    EXPECT_EQ(run("return count of windows").status, 1);
}

TEST_F(Interpreter, IndexesAndArithmeticAtTheEdgesOfTheIntegerRange) {
    // The application writes any 64-bit tab index into the program; past the
    // last tab it is the usual invalid index, however far.
    for (const char* index : {"-9223372036854775808", "9223372036854775807", "-9223372036854775807", "1.0E+300"}) {
        auto far = run(std::string("tell application \"Safari\" to return do JavaScript \"1\" in tab ") + index +
                       " of window 1");
        EXPECT_EQ(far.status, 1) << index;
        EXPECT_NE(far.err.find("Invalid index. (-1719)"), std::string::npos) << index << ": " << far.err;
    }
    EXPECT_NE(run("return item -9223372036854775808 of {1, 2}").err.find("(-1719)"), std::string::npos);
    // Integer arithmetic that leaves the 64-bit range goes on in reals.
    EXPECT_EQ(run("set n to 536870911 * 536870911\nreturn (n * n > 0) and (-n * n < 0)").out, "true\n");
    EXPECT_EQ(run("set m to -268435456 * 268435456 * 128\nreturn {-m > 0, m mod -1, m + m < 0}").out,
              "true, 0, true\n");
    EXPECT_NE(run("return -268435456 * 268435456 * 128 div -1").err.find("(-2702)"), std::string::npos);
    EXPECT_NE(run("return 1.0E+300 as integer").err.find("(-1700)"), std::string::npos);
}

}  // namespace
}  // namespace vesko::osascript
