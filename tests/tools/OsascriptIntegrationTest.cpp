// vesko-osascript end to end: the application's own programs, run by the built
// runner against headless Chromium and Firefox on fixture pages served from
// 127.0.0.1.

#include "safari/ExtractionScript.hpp"
#include "safari/Programs.hpp"
#include "tests/support/Browser.hpp"
#include "tests/support/Subprocess.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace vesko::testing {
namespace {

namespace fs = std::filesystem;

class OsascriptEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vesko-osascript-state-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        stateDir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(stateDir_, ignored);
    }

    ProgramResult run(const std::string& endpoint, const std::string& program,
                      std::map<std::string, std::string> env = {}) {
        env["VESKO_DEVTOOLS_ENDPOINT"] = endpoint;
        env["VESKO_OSASCRIPT_STATE_DIR"] = stateDir_.string();
        return runProgram({VESKO_OSASCRIPT_EXECUTABLE}, program, env);
    }
    static std::string program(std::string_view text) { return std::string(text); }

    ArticleFixtures fixtures_;
    FixtureServer server_{fixtures_.root()};
    fs::path stateDir_;
};

// Errors name the browser the runner drove, as osascript names the application.
const std::string kInvalidTab9 = "execution error: Chromium got an error: Can\u2019t get tab 9 of window 1. Invalid index. (-1719)\n";
const std::string kNoWindow = "execution error: Chromium got an error: Can\u2019t get window 1. Invalid index. (-1719)\n";

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string doJavaScript(const std::string& code, int tab) {
    return "tell application \"Safari\" to return do JavaScript \"" + code + "\" in tab " + std::to_string(tab) +
           " of window 1";
}

const std::string kBusyThreeSeconds = "var t = Date.now(); while (Date.now() - t < 3000) {} 1";

// A runner working in the background beside the test.
class BackgroundRun {
public:
    BackgroundRun(const std::string& endpoint, const std::string& program, const fs::path& folder)
        : errors_(folder / "background-run.err") {
        ChildOptions options;
        options.errorLog = errors_;
        setenv("VESKO_DEVTOOLS_ENDPOINT", endpoint.c_str(), 1);
        EXPECT_TRUE(runner_.start({VESKO_OSASCRIPT_EXECUTABLE, "-e", program}, options));
        unsetenv("VESKO_DEVTOOLS_ENDPOINT");
    }
    bool running() { return !runner_.exited(); }
    // Ends it at once, as a runner that dies mid-run.
    void kill() { runner_.stop(std::chrono::milliseconds(0)); }
    // Waits for it to end; its standard error.
    std::string errors(std::chrono::seconds limit) {
        runner_.waitExit(limit);
        std::ifstream in(errors_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    fs::path errors_;
    ChildProcess runner_;
};

TEST_F(OsascriptEndToEnd, TabListCountAndExtractionByPositionAddressAndCurrentTab) {
    const std::string first = server_.url(ArticleFixtures::kArticle);
    const std::string second = server_.url(ArticleFixtures::kSecondArticle);
    const std::string awkward = server_.url(ArticleFixtures::kAwkwardTitle);
    HeadlessChromium browser({first, second, awkward});
    const std::string endpoint = browser.endpoint();

    auto count = run(endpoint, program(safari::tabCountProgram()));
    EXPECT_EQ(count.exitStatus, 0) << count.err;
    EXPECT_EQ(count.out, "3\n");

    auto list = run(endpoint, program(safari::tabListProgram()));
    ASSERT_EQ(list.exitStatus, 0) << list.err;
    std::string awkwardTitle = nlohmann::json::parse(browser.evaluate(browser.tabs()[2].targetId, "document.title"));
    EXPECT_NE(awkwardTitle.find("\"double\" and 'single'"), std::string::npos);
    EXPECT_EQ(list.out, first + "\tHarbour lights return to the old quay after forty years | The Coastal Ledger\n" +
                            second + "\tNight ferry timetable changes from June | The Coastal Ledger\n" + awkward +
                            "\t" + awkwardTitle + "\n");

    auto byPosition = run(endpoint, safari::buildExtractionScript(2, std::nullopt));
    ASSERT_EQ(byPosition.exitStatus, 0) << byPosition.err;
    auto result = nlohmann::json::parse(byPosition.out);
    EXPECT_EQ(result["url"], second);
    EXPECT_EQ(result["url_date"], "2024-05-18");
    EXPECT_EQ(result["title"], "Night ferry timetable changes from June | The Coastal Ledger");

    // Address search ignores case and takes the first match.
    auto byAddress = run(endpoint, safari::buildExtractionScript(std::nullopt, std::string("HTTP://127.0.0.1:") +
                                                                                    std::to_string(server_.port()) +
                                                                                    "/2024/0"));
    ASSERT_EQ(byAddress.exitStatus, 0) << byAddress.err;
    EXPECT_EQ(nlohmann::json::parse(byAddress.out)["url"], first);
    auto noMatch = run(endpoint, safari::buildExtractionScript(std::nullopt, std::string("http://elsewhere/\"q\"\\")));
    EXPECT_EQ(noMatch.exitStatus, 0) << noMatch.err;
    EXPECT_EQ(noMatch.out, "null\n");

    // The current tab follows activation; the tab numbers do not.
    auto tabs = browser.tabs();
    browser.activateTab(tabs[0].targetId);
    auto current = run(endpoint, safari::buildExtractionScript(std::nullopt, std::nullopt));
    ASSERT_EQ(current.exitStatus, 0) << current.err;
    EXPECT_EQ(nlohmann::json::parse(current.out)["url"], first);
    browser.activateTab(tabs[2].targetId);
    current = run(endpoint, safari::buildExtractionScript(std::nullopt, std::nullopt));
    EXPECT_EQ(nlohmann::json::parse(current.out)["url"], awkward);
    EXPECT_EQ(run(endpoint, program(safari::tabListProgram())).out, list.out);

    for (long long bad : {9LL, 0LL}) {
        auto invalid = run(endpoint, safari::buildExtractionScript(bad, std::nullopt));
        EXPECT_EQ(invalid.exitStatus, 1);
        EXPECT_EQ(invalid.out, "");
        if (bad == 9) {
            EXPECT_TRUE(endsWith(invalid.err, kInvalidTab9)) << invalid.err;
        }
        EXPECT_NE(invalid.err.find("Invalid index. (-1719)"), std::string::npos) << invalid.err;
    }

    // A second window comes to the front: window 1 is now the new one.
    browser.openTab(second, /*newWindow=*/true);
    EXPECT_EQ(run(endpoint, "tell application \"Safari\" to return count of windows").out, "2\n");
    EXPECT_EQ(run(endpoint, program(safari::tabCountProgram())).out, "1\n");
    EXPECT_EQ(run(endpoint, "tell application \"Safari\" to return count of tabs of window 2").out, "3\n");
    auto firstMatch = run(endpoint, safari::buildExtractionScript(std::nullopt, second));
    EXPECT_EQ(nlohmann::json::parse(firstMatch.out)["url"], second);
}

TEST_F(OsascriptEndToEnd, PagesThatThrowAnswerWithScriptOrNeverReturn) {
    HeadlessChromium browser({server_.url(ArticleFixtures::kThrowingPage),
                              server_.url(ArticleFixtures::kHostileStringify)});
    const std::string endpoint = browser.endpoint();

    auto threw = run(endpoint, safari::buildExtractionScript(1, std::nullopt));
    EXPECT_EQ(threw.exitStatus, 1);
    EXPECT_EQ(threw.out, "");
    EXPECT_TRUE(endsWith(threw.err, "execution error: Chromium got an error: A JavaScript error occurred: Error: "
                                    "stringify refused on this page (-2700)\n"))
        << threw.err;

    // Whatever text the page makes, the runner hands on unchanged.
    auto hostile = run(endpoint, safari::buildExtractionScript(2, std::nullopt));
    EXPECT_EQ(hostile.exitStatus, 0) << hostile.err;
    EXPECT_EQ(hostile.out, std::string(ArticleFixtures::hostileStringifyOutput()) + "\n");

    auto undefinedResult = run(endpoint, "tell application \"Safari\" to return do JavaScript \"void 0\" in tab 1 of window 1");
    EXPECT_EQ(undefinedResult.exitStatus, 0) << undefinedResult.err;
    EXPECT_EQ(undefinedResult.out, "");

    // A text cut inside a surrogate pair comes out with U+FFFD in its place; whole pairs stay.
    auto cut = run(endpoint, "tell application \"Safari\" to return do JavaScript "
                             "\"'a\\\\ud83d' + '\\\\ud83d\\\\ude00\\\\\\\\ud83d\\\\\\\\' + '\\\\ude00b'\" in tab 1 of window 1");
    EXPECT_EQ(cut.exitStatus, 0) << cut.err;
    EXPECT_EQ(cut.out, "a\uFFFD\U0001F600\\ud83d\\\uFFFDb\n");

    // A tab closed while its script runs ends the run at once.
    BackgroundRun closing(endpoint, doJavaScript(kBusyThreeSeconds, 2), stateDir_);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    browser.closeTab(browser.tabs()[1].targetId);
    EXPECT_TRUE(endsWith(closing.errors(std::chrono::seconds(10)),
                         "execution error: Chromium got an error: Can\u2019t get the tab: it was closed. (-1728)\n"));

    auto started = std::chrono::steady_clock::now();
    auto endless = run(endpoint, "tell application \"Safari\" to return do JavaScript \"while (true) {}\" in tab 1 of window 1",
                       {{"VESKO_OSASCRIPT_TIMEOUT_MS", "1500"}});
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(endless.exitStatus, 1);
    EXPECT_TRUE(endsWith(endless.err, "execution error: Chromium got an error: AppleEvent timed out. (-1712)\n"))
        << endless.err;
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    // The page was stopped, not lost.
    auto after = run(endpoint, "tell application \"Safari\" to return do JavaScript \"document.title\" in tab 1 of window 1");
    EXPECT_EQ(after.out, "A page that refuses to be serialised\n");
}

TEST_F(OsascriptEndToEnd, LargePageComesThroughWhole) {
    HeadlessChromium browser({server_.url(ArticleFixtures::kLargeArticle)});
    auto extraction = run(browser.endpoint(), safari::buildExtractionScript(1, std::nullopt));
    ASSERT_EQ(extraction.exitStatus, 0) << extraction.err;
    auto result = nlohmann::json::parse(extraction.out);
    EXPECT_EQ(result["url_date"], "2024-08-21");
    EXPECT_GT(result["raw_html"].get<std::string>().size(), 190000u);

    auto html = run(browser.endpoint(),
                    "tell application \"Safari\" to return do JavaScript \"document.documentElement.outerHTML\" in tab 1 of window 1");
    ASSERT_EQ(html.exitStatus, 0) << html.err;
    EXPECT_GT(html.out.size(), 200u * 1000);
}

TEST_F(OsascriptEndToEnd, NoBrowserRunningAndNoWindowOpen) {
    const std::string closed = "127.0.0.1:" + std::to_string(freeLoopbackPort());
    for (const std::string& text : {program(safari::tabCountProgram()), program(safari::tabListProgram()),
                                    safari::buildExtractionScript(std::nullopt, std::nullopt)}) {
        auto out = run(closed, text);
        EXPECT_EQ(out.exitStatus, 1);
        EXPECT_TRUE(endsWith(out.err, "execution error: Safari got an error: Application isn\u2019t running. (-600)\n"))
            << out.err;
    }

    // A port where something that is no browser answers (the fixture server) reads the same.
    auto notABrowser = run("127.0.0.1:" + std::to_string(server_.port()), program(safari::tabCountProgram()));
    EXPECT_TRUE(endsWith(notABrowser.err, "execution error: Safari got an error: Application isn\u2019t running. (-600)\n"))
        << notABrowser.err;

    HeadlessChromium browser({server_.url(ArticleFixtures::kArticle)});

    // Without a configured endpoint the profiles' DevToolsActivePort files are
    // tried in order; a stale one (nothing listening) is passed over.
    fs::path home = stateDir_ / "home";
    auto writePort = [&](const fs::path& profile, int port) {
        fs::create_directories(home / profile);
        std::ofstream(home / profile / "DevToolsActivePort") << port << "\n/devtools/browser/x\n";
    };
    writePort(".local/share/vesko/chromium-profile", freeLoopbackPort());
    writePort(".config/chromium", browser.devToolsPort());
    auto discovered = runProgram({VESKO_OSASCRIPT_EXECUTABLE}, "tell application \"Safari\" to return count of windows",
                                 {{"VESKO_DEVTOOLS_ENDPOINT", ""}, {"HOME", home.string()},
                                  {"VESKO_OSASCRIPT_STATE_DIR", stateDir_.string()}});
    EXPECT_EQ(discovered.exitStatus, 0) << discovered.err;
    EXPECT_EQ(discovered.out, "1\n");

    // The browser socket a run remembers is passed over once the browser on that port has restarted.
    std::ofstream(stateDir_ / "tab-order.json")
        << nlohmann::json{{"endpoints",
                           {{browser.endpoint(),
                             {{"browser", "ws://" + browser.endpoint() + "/devtools/browser/gone"}, {"used", 0}}}}}}
               .dump();
    EXPECT_EQ(run(browser.endpoint(), "tell application \"Safari\" to return count of windows").out, "1\n");

    browser.closeAllTabs();
    auto list = run(browser.endpoint(), program(safari::tabListProgram()));
    EXPECT_EQ(list.exitStatus, 0) << list.err;
    EXPECT_EQ(list.out, "\n");
    auto count = run(browser.endpoint(), program(safari::tabCountProgram()));
    EXPECT_EQ(count.exitStatus, 1);
    EXPECT_TRUE(endsWith(count.err, kNoWindow)) << count.err;
    auto current = run(browser.endpoint(), safari::buildExtractionScript(std::nullopt, std::nullopt));
    EXPECT_EQ(current.exitStatus, 1);
    EXPECT_TRUE(endsWith(current.err, kNoWindow)) << current.err;
    auto byAddress = run(browser.endpoint(), safari::buildExtractionScript(std::nullopt, std::string("http")));
    EXPECT_EQ(byAddress.out, "null\n");
}

// ---- Firefox over WebDriver BiDi ----

TEST_F(OsascriptEndToEnd, FirefoxTabsInStripOrderCurrentTabSharedSessionAndChromiumsText) {
    const std::string first = server_.url(ArticleFixtures::kArticle);
    const std::string second = server_.url(ArticleFixtures::kSecondArticle);
    const std::string awkward = server_.url(ArticleFixtures::kAwkwardTitle);
    const std::string large = server_.url(ArticleFixtures::kLargeArticle);
    HeadlessFirefox firefox({first, second, awkward});
    const std::string endpoint = firefox.endpoint();
    // Opened last but placed second in the strip: tab numbers follow the strip.
    firefox.openTab(large, firefox.tabs()[0].targetId);

    EXPECT_EQ(run(endpoint, program(safari::tabCountProgram())).out, "4\n");
    auto list = run(endpoint, program(safari::tabListProgram()));
    ASSERT_EQ(list.exitStatus, 0) << list.err;
    std::string awkwardTitle = nlohmann::json::parse(firefox.evaluate(firefox.tabs()[3].targetId, "document.title"));
    EXPECT_EQ(list.out, first + "\tHarbour lights return to the old quay after forty years | The Coastal Ledger\n" +
                            large + "\tThe long read: a year on the island ferries | The Coastal Ledger\n" + second +
                            "\tNight ferry timetable changes from June | The Coastal Ledger\n" + awkward + "\t" +
                            awkwardTitle + "\n");

    auto byPosition = run(endpoint, safari::buildExtractionScript(3, std::nullopt));
    ASSERT_EQ(byPosition.exitStatus, 0) << byPosition.err;
    EXPECT_EQ(nlohmann::json::parse(byPosition.out)["url"], second);
    auto byAddress = run(endpoint, safari::buildExtractionScript(std::nullopt, "HTTP://127.0.0.1:" +
                                                                                  std::to_string(server_.port()) + "/2024/0"));
    EXPECT_EQ(nlohmann::json::parse(byAddress.out)["url"], first);
    auto invalid = run(endpoint, safari::buildExtractionScript(9, std::nullopt));
    EXPECT_TRUE(endsWith(invalid.err, "execution error: Firefox got an error: Can\u2019t get tab 9 of window 1. Invalid index. (-1719)\n"))
        << invalid.err;

    // The current tab is the one the window shows.
    auto current = run(endpoint, safari::buildExtractionScript(std::nullopt, std::nullopt));
    EXPECT_EQ(nlohmann::json::parse(current.out)["url"], first);
    firefox.activateTab(firefox.tabs()[2].targetId);
    current = run(endpoint, safari::buildExtractionScript(std::nullopt, std::nullopt));
    EXPECT_EQ(nlohmann::json::parse(current.out)["url"], second);

    // Runners share Firefox's one session: one answers while another's script
    // still runs, and one killed mid-run leaves the browser usable.
    BackgroundRun slow(endpoint, doJavaScript(kBusyThreeSeconds, 4), stateDir_);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto meanwhile = run(endpoint, doJavaScript("document.title", 1));
    EXPECT_EQ(meanwhile.exitStatus, 0) << meanwhile.err;
    EXPECT_TRUE(slow.running());
    slow.kill();
    auto after = run(endpoint, doJavaScript("document.title", 3));
    EXPECT_EQ(after.out, "Night ferry timetable changes from June | The Coastal Ledger\n") << after.err;

    // Found without a configured endpoint where Vesko's own Firefox profile announces it.
    fs::path home = stateDir_ / "home";
    fs::create_directories(home / ".local/share/vesko/firefox-profile");
    fs::copy_file(firefox.profile() / "WebDriverBiDiServer.json",
                  home / ".local/share/vesko/firefox-profile/WebDriverBiDiServer.json");
    auto discovered = runProgram({VESKO_OSASCRIPT_EXECUTABLE}, program(safari::tabCountProgram()),
                                 {{"VESKO_DEVTOOLS_ENDPOINT", ""}, {"HOME", home.string()},
                                  {"VESKO_OSASCRIPT_STATE_DIR", stateDir_.string()}});
    EXPECT_EQ(discovered.out, "4\n") << discovered.err;

    // The extraction result is the same text, byte for byte, as through Chromium.
    HeadlessChromium chromium({first, awkward, large});
    for (const std::string& page : {first, awkward, large}) {
        auto viaFirefox = run(endpoint, safari::buildExtractionScript(std::nullopt, page));
        auto viaChromium = run(chromium.endpoint(), safari::buildExtractionScript(std::nullopt, page));
        EXPECT_EQ(viaFirefox.exitStatus, 0) << viaFirefox.err;
        EXPECT_GT(viaFirefox.out.size(), 500u);
        EXPECT_TRUE(viaFirefox.out == viaChromium.out) << page;
    }

    // A new window comes to the front.
    firefox.openTab(second, {}, /*newWindow=*/true);
    EXPECT_EQ(run(endpoint, "tell application \"Safari\" to return count of windows").out, "2\n");
    EXPECT_EQ(run(endpoint, program(safari::tabCountProgram())).out, "1\n");
    EXPECT_EQ(run(endpoint, "tell application \"Safari\" to return count of tabs of window 2").out, "4\n");
}

TEST_F(OsascriptEndToEnd, FirefoxPagesThatThrowAnswerWithScriptOrNeverReturn) {
    // The endless script runs on a page of its own site, hence in a process of its own.
    const std::string endless = "http://localhost:" + std::to_string(server_.port()) + ArticleFixtures::kArticle;
    HeadlessFirefox firefox({server_.url(ArticleFixtures::kThrowingPage), server_.url(ArticleFixtures::kHostileStringify),
                             endless});
    const std::string endpoint = firefox.endpoint();

    auto threw = run(endpoint, safari::buildExtractionScript(1, std::nullopt));
    EXPECT_TRUE(endsWith(threw.err, "execution error: Firefox got an error: A JavaScript error occurred: Error: "
                                    "stringify refused on this page (-2700)\n"))
        << threw.err;
    auto hostile = run(endpoint, safari::buildExtractionScript(2, std::nullopt));
    EXPECT_EQ(hostile.out, std::string(ArticleFixtures::hostileStringifyOutput()) + "\n") << hostile.err;
    auto undefinedResult = run(endpoint, doJavaScript("void 0", 1));
    EXPECT_EQ(undefinedResult.exitStatus, 0) << undefinedResult.err;
    EXPECT_EQ(undefinedResult.out, "");
    auto cut = run(endpoint, doJavaScript("'a\\\\ud83d' + '\\\\ud83d\\\\ude00\\\\\\\\ud83d\\\\\\\\' + '\\\\ude00b'", 1));
    EXPECT_EQ(cut.out, "a\uFFFD\U0001F600\\ud83d\\\uFFFDb\n") << cut.err;

    BackgroundRun closing(endpoint, doJavaScript(kBusyThreeSeconds, 2), stateDir_);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    firefox.closeTab(firefox.tabs()[1].targetId);
    EXPECT_TRUE(endsWith(closing.errors(std::chrono::seconds(10)),
                         "execution error: Firefox got an error: Can\u2019t get the tab: it was closed. (-1728)\n"));

    auto started = std::chrono::steady_clock::now();
    auto never = run(endpoint, doJavaScript("while (true) {}", 2), {{"VESKO_OSASCRIPT_TIMEOUT_MS", "1500"}});
    EXPECT_TRUE(endsWith(never.err, "execution error: Firefox got an error: AppleEvent timed out. (-1712)\n")) << never.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    // The other pages still answer.
    EXPECT_EQ(run(endpoint, doJavaScript("document.title", 1)).out, "A page that refuses to be serialised\n");
}

}  // namespace
}  // namespace vesko::testing
