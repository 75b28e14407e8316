// What the page receives from the tab operations, evaluated as the page would.

#include "safari/Programs.hpp"
#include "safari/TabOperations.hpp"
#include "tests/support/PageScripts.hpp"

#include <gtest/gtest.h>

#include <map>

namespace vesko::safari {
namespace {

using nlohmann::json;
using vesko::testing::evaluateInPage;

const std::string kGeneric =
    "Failed to extract content from your browser. Make sure your browser is open with an article tab.";

json onlyCall(const std::string& script) {
    json calls = evaluateInPage({script});
    EXPECT_EQ(calls.size(), 1u) << calls.dump();
    return calls.empty() ? json() : calls[0];
}

ScriptOutcome output(std::string text) { return {std::move(text), std::nullopt}; }
ScriptOutcome failure(std::string error) { return {std::nullopt, std::move(error)}; }

TEST(ExtractionReply, ResolvesWithTheOutputParsedByThePage) {
    // Backslashes, apostrophes, line feeds (between tokens and escaped in
    // strings), carriage returns and the JavaScript line separators.
    const std::string text =
        "{\"raw_html\":\"<p class='x'>a\\\\b\\n\\\"c\\\"</p>\",\r\n\"title\":\"It's \xE2\x80\xA8 done\","
        "\n\"url\":\"https://a.test/2024/05/17/x\"}";
    json call = onlyCall(extractionReply(output(text), "cb-1"));
    EXPECT_EQ(call["call"], "resolve");
    EXPECT_EQ(call["id"], "cb-1");
    EXPECT_EQ(call["value"], json::parse(text));

    call = onlyCall(extractionReply(output("{}"), ""));
    EXPECT_EQ(call["value"], json::object());
    EXPECT_EQ(call["id"], "");
}

TEST(ExtractionReply, OutputThatIsNotOneJsonValueRejectsWithTheGenericMessage) {
    // "null" (no tab matched), undecodable output, and whatever a hostile page
    // makes of its output: none of it may throw in, or run code in, the page.
    const std::vector<ScriptOutcome> outcomes = {
        output("null"), {}, output(""), output("{\"a\":1"), output("undefined"),
        output("{\"a\":1} {\"b\":2}"), output("1'); Bridge._resolve('cb', 'owned'); ('"),
        output("[1,2,]"), output("{'a':1}"),
        // JSON, but no extraction result: a page can make its output anything.
        output("\"just text\""), output("42"), output("[{\"url\":\"x\"}]"), output("true")};
    std::vector<std::string> scripts;
    for (const auto& outcome : outcomes) scripts.push_back(extractionReply(outcome, "cb"));
    json calls = evaluateInPage(scripts);
    ASSERT_EQ(calls.size(), outcomes.size()) << calls.dump();
    for (const auto& call : calls) {
        EXPECT_EQ(call["call"], "reject") << call.dump();
        EXPECT_EQ(call["message"], kGeneric);
    }
}

TEST(ExtractionReply, FailedRunsRejectWithTheirMessage) {
    json call = onlyCall(extractionReply(failure("execution error: Can\xE2\x80\x99t get tab 9 of window 1. "
                                                 "Invalid index. (-1719)\n"),
                                         "cb"));
    EXPECT_EQ(call["call"], "reject");
    // The trailing line feed of standard error stays, as a real line break.
    EXPECT_EQ(call["message"], "Failed to extract content from your browser: execution error: Can\xE2\x80\x99t get tab 9 "
                               "of window 1. Invalid index. (-1719)\n");
    std::string script = extractionReply(failure("x\n"), "cb");
    EXPECT_EQ(script, "Bridge._reject('cb', 'Failed to extract content from your browser: x\\n')");

    // Multi-line messages with apostrophes and double quotes arrive intact.
    call = onlyCall(extractionReply(failure("Allow JavaScript from Apple Events is off"), "cb"));
    EXPECT_EQ(call["message"],
              "Your browser needs a one-time setup.\n\nOpen your browser > Settings > Developer > check \"Allow JavaScript "
              "from Apple Events\"\n\n(If you don't see the Developer tab: your browser > Settings > Advanced > "
              "check \"Show features for web developers\")");
    call = onlyCall(extractionReply(failure("Application isn\xE2\x80\x99t running"), "cb"));
    EXPECT_EQ(call["message"], "Your browser doesn't appear to be running. Open your browser first, then try again.");
    // A backslash in the raw error reaches the page as itself.
    call = onlyCall(extractionReply(failure("C:\\path \\n 'q'"), "cb"));
    EXPECT_EQ(call["message"], "Failed to extract content from your browser: C:\\path \\n 'q'");
}

TEST(TabListReply, LinesBecomeEntries) {
    const std::string text =
        "https://a.test/1\tFirst \"one\"\n"
        "https://b.test/it's\\\tTitle\twith tab\n"
        "no-tab-line\n"
        "\n"
        "https://c.test/\t\xE2\x80\xA8 sep \xF0\x9F\x98\x80";
    json call = onlyCall(tabListReply(output(text), "tabs"));
    EXPECT_EQ(call["call"], "resolve");
    EXPECT_EQ(call["value"], json::parse(R"([
        {"url":"https://a.test/1","title":"First \"one\""},
        {"url":"https://b.test/it's\\","title":"Title"},
        {"url":"no-tab-line","title":""},
        {"url":"","title":""},
        {"url":"https://c.test/","title":"\u2028 sep \ud83d\ude00"}])"));

    // No window: the program prints nothing, the page gets an empty array.
    EXPECT_EQ(tabListReply(output(""), "t"), "Bridge._resolve('t', [])");
    call = onlyCall(tabListReply(failure("Application isn't running"), "t"));
    EXPECT_EQ(call["call"], "reject");
    EXPECT_EQ(call["message"], "Your browser doesn't appear to be running. Open your browser first, then try again.");
}

TEST(TabCount, ReadsASignedDecimalWithin64Bits) {
    EXPECT_EQ(parseTabCount("3"), 3);
    EXPECT_EQ(parseTabCount("+3"), 3);
    EXPECT_EQ(parseTabCount("-2"), -2);
    EXPECT_EQ(parseTabCount("007"), 7);
    EXPECT_EQ(parseTabCount("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseTabCount("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"", "+", "-", "+-1", "--1", "9223372036854775808", "-9223372036854775809",
                            "1 2", "3.0", "0x3", "three", " 3", "\xD9\xA3"})
        EXPECT_EQ(parseTabCount(bad), std::nullopt) << bad;
}

// A browser stand-in: answers the count program and the extraction of each tab.
struct FakeBrowser {
    ScriptOutcome count;
    std::map<std::int64_t, ScriptOutcome> tabs;
    std::vector<std::string> programs;

    ScriptRunner runner() {
        return [this](const std::string& program) -> ScriptOutcome {
            programs.push_back(program);
            if (program == tabCountProgram()) return count;
            for (const auto& [index, outcome] : tabs)
                if (program == buildExtractionScript(index, std::nullopt)) return outcome;
            return failure("no such tab");
        };
    }
};

TEST(ExtractAllTabs, FailedAndNonJsonTabsAreLeftOutInOrder) {
    FakeBrowser browser;
    browser.count = output(" 8\n");
    browser.tabs = {{1, output("{\"url\":\"one\",\"t\":\"it's\\\\\"}")},
                    {2, failure("Can't get tab 2")},
                    {3, output("{\"url\":\"three\"}")},
                    {4, output("0]); Bridge._resolve('all', 'owned'); ([0")},
                    {5, {}},
                    // JSON that is no extraction result (a page can replace JSON.stringify).
                    {6, output("null")},
                    {7, output("42")},
                    {8, output("[{\"url\":\"eight\"}]")}};
    json calls = evaluateInPage({extractAllTabs(browser.runner(), "all")});
    ASSERT_EQ(calls.size(), 1u) << calls.dump();
    EXPECT_EQ(calls[0]["call"], "resolve");
    EXPECT_EQ(calls[0]["value"], json::parse(R"([{"url":"one","t":"it's\\"},{"url":"three"}])"));
    // One count run, then each tab in ascending order.
    ASSERT_EQ(browser.programs.size(), 9u);
    EXPECT_EQ(browser.programs[0], tabCountProgram());
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(browser.programs[i], buildExtractionScript(i, std::nullopt));
}

TEST(ExtractAllTabs, CountDecidesBetweenRejectAndResolve) {
    FakeBrowser browser;
    browser.count = output("0");
    EXPECT_EQ(extractAllTabs(browser.runner(), "a"), "Bridge._resolve('a', [])");
    browser.count = output("-4");
    EXPECT_EQ(extractAllTabs(browser.runner(), "a"), "Bridge._resolve('a', [])");

    browser.count = output("two");
    json call = onlyCall(extractAllTabs(browser.runner(), "a"));
    EXPECT_EQ(call["call"], "reject");
    EXPECT_EQ(call["message"], kGeneric);

    browser.count = failure("execution error: Can\xE2\x80\x99t get window 1. Invalid index. (-1719)\n");
    call = onlyCall(extractAllTabs(browser.runner(), "a"));
    EXPECT_EQ(call["message"],
              "Failed to extract content from your browser: execution error: Can\xE2\x80\x99t get window 1. Invalid "
              "index. (-1719)\n");

    browser.count = output("2");
    browser.tabs = {{1, failure("x")}, {2, failure("y")}};
    EXPECT_EQ(extractAllTabs(browser.runner(), "a"), "Bridge._resolve('a', [])");
}

}  // namespace
}  // namespace vesko::safari
