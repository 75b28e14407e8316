// Costs of reading tabs, each beside a baseline measured in the same run:
//  - the script runner over a bare start of the same child (/bin/cat);
//  - one single-tab extraction of a 200 kB article, request to reply, beside
//    the page's own evaluation time of the script (by the page's clock), in
//    headless Chromium and Firefox, and Firefox's time over Chromium's;
//  - "extract-all-tabs" over 10, 50 and 100 tabs against (N + 1) single runs,
//    in both browsers.
// VESKO_OSASCRIPT, when set, names the runner to measure (for figures before
// and after a change); else the one built beside vesko.

#include "platform/Dispatch.hpp"
#include "safari/AppleScriptRunner.hpp"
#include "safari/ExtractionScript.hpp"
#include "safari/Programs.hpp"
#include "tests/support/Browser.hpp"
#include "tests/support/RecordingWebView.hpp"
#include "web/ViewController.hpp"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
}

// The least a child start costs: spawn, standard streams on /dev/null, wait.
void bareStart(const char* program) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) == 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

const std::string& samplePrograms() {
    static const std::string program = vesko::safari::buildExtractionScript(1, std::nullopt);
    return program;
}

void BM_BareStartOfCat(benchmark::State& state) {
    for (auto _ : state) bareStart("/bin/cat");
}
BENCHMARK(BM_BareStartOfCat)->Unit(benchmark::kMicrosecond)->Iterations(400);

void BM_RunnerOnCat(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(vesko::safari::runAppleScript("/bin/cat", samplePrograms()));
}
BENCHMARK(BM_RunnerOnCat)->Unit(benchmark::kMicrosecond)->Iterations(400);

// Both interleaved in one loop, taking turns at going first, so drift of a
// shared machine hits both alike.
void BM_RunnerOverBareStart(benchmark::State& state) {
    std::vector<double> bare, runner;
    bool bareFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const auto start = Clock::now();
            if ((turn == 0) == bareFirst) {
                bareStart("/bin/cat");
                bare.push_back(millisecondsSince(start));
            } else {
                benchmark::DoNotOptimize(vesko::safari::runAppleScript("/bin/cat", samplePrograms()));
                runner.push_back(millisecondsSince(start));
            }
        }
        bareFirst = !bareFirst;
    }
    state.counters["bare_median_ms"] = median(bare);
    state.counters["runner_median_ms"] = median(runner);
    state.counters["ratio"] = median(runner) / median(bare);
}
BENCHMARK(BM_RunnerOverBareStart)->Unit(benchmark::kMillisecond)->Iterations(1000);

// ---- Against headless Chromium and Firefox, through the real operations ----

enum class Kind { Chromium, Firefox };

// One headless browser and what the benchmarks ask of it.
struct BrowserUnderTest {
    std::unique_ptr<vesko::testing::HeadlessChromium> chromium;
    std::unique_ptr<vesko::testing::HeadlessFirefox> firefox;

    BrowserUnderTest(Kind kind, const std::vector<std::string>& urls) {
        if (kind == Kind::Chromium)
            chromium = std::make_unique<vesko::testing::HeadlessChromium>(urls);
        else
            firefox = std::make_unique<vesko::testing::HeadlessFirefox>(urls);
    }
    std::string endpoint() const { return chromium ? chromium->endpoint() : firefox->endpoint(); }
    std::size_t tabCount() const { return chromium ? chromium->tabs().size() : firefox->tabs().size(); }
    std::string firstTab() const { return chromium ? chromium->tabs().front().targetId : firefox->tabs().front().targetId; }
    void openTab(const std::string& url) {
        if (chromium)
            chromium->openTab(url);
        else
            firefox->openTab(url);
    }
    std::string evaluate(const std::string& tab, const std::string& expression) const {
        return chromium ? chromium->evaluate(tab, expression) : firefox->evaluate(tab, expression);
    }
};

class BrowserSession {
public:
    BrowserSession() : server_(fixtures_.root()) {
        const std::filesystem::path runner =
            std::filesystem::path(VESKO_EXECUTABLE).parent_path() / "vesko-osascript";
        if (!std::filesystem::exists(runner)) throw std::runtime_error("vesko-osascript not built");
        // VESKO_OSASCRIPT set by the caller wins: a runner built elsewhere, for before-and-after figures.
        setenv("VESKO_OSASCRIPT", runner.c_str(), 0);
        setenv("VESKO_OSASCRIPT_STATE_DIR", stateDir_.c_str(), 1);
        web_ = std::make_shared<vesko::testing::RecordingWebView>();
        controller_ = std::make_shared<vesko::ViewController>(std::filesystem::temp_directory_path());
        controller_->webView = web_;
        controller_->viewDidLoad();
    }

    std::string url(const char* path) const { return server_.url(path); }

    // A browser of `kind` opened on `path`, kept for the whole run under `role`.
    BrowserUnderTest& browser(Kind kind, const std::string& role, const char* path) {
        auto& slot = browsers_[{kind, role}];
        if (!slot) slot = std::make_unique<BrowserUnderTest>(kind, std::vector<std::string>{url(path)});
        return *slot;
    }

    // Posts one request for `browser` and runs the main queue until its reply is evaluated.
    std::string request(const BrowserUnderTest& browser, const json& body) {
        setenv("VESKO_DEVTOOLS_ENDPOINT", browser.endpoint().c_str(), 1);
        const std::size_t before = web_->scripts.size();
        web_->post(body);
        platform::dispatch::runMainUntil([&] { return web_->scripts.size() > before; },
                                         std::chrono::milliseconds(300000));
        if (web_->scripts.size() <= before) throw std::runtime_error("no reply");
        return web_->scripts.back();
    }

    ~BrowserSession() {
        std::error_code ignored;
        std::filesystem::remove_all(stateDir_, ignored);
    }

private:
    // The runner's tab-order state, apart from the user's.
    std::filesystem::path stateDir_ =
        std::filesystem::temp_directory_path() / ("vesko-safari-bench-" + std::to_string(getpid()));
    vesko::testing::ArticleFixtures fixtures_;
    vesko::testing::FixtureServer server_;
    std::map<std::pair<Kind, std::string>, std::unique_ptr<BrowserUnderTest>> browsers_;
    std::shared_ptr<vesko::testing::RecordingWebView> web_;
    std::shared_ptr<vesko::ViewController> controller_;
};

BrowserSession& session() {
    static BrowserSession instance;
    return instance;
}

const char* name(Kind kind) { return kind == Kind::Chromium ? "chromium" : "firefox"; }

// The extraction script timed by the page's own clock: what no runner can beat.
std::string pageTimedScript() {
    std::string script(vesko::safari::kExtractionScript);
    std::replace(script.begin(), script.end(), '\n', ' ');
    return "(function () { const t0 = performance.now(); const text = " + script +
           "; return String(performance.now() - t0 + text.length * 0); })()";
}

// Request to reply of one extraction of a 200 kB article, beside the page's
// own evaluation time of the same script, and beside the same script
// evaluated straight over the browser's protocol by this process (what the
// browser itself takes to run it and hand its answer over), in Chromium and
// Firefox taking turns, so that both see the same machine.
void BM_SingleTabExtraction200kB(benchmark::State& state) {
    auto& s = session();
    const std::string timed = pageTimedScript();
    const std::string script(vesko::safari::kExtractionScript);
    std::map<Kind, std::vector<double>> page, direct, reply;
    for (auto _ : state) {
        for (Kind kind : {Kind::Chromium, Kind::Firefox}) {
            auto& browser = s.browser(kind, "single", vesko::testing::ArticleFixtures::kLargeArticle);
            page[kind].push_back(std::stod(json::parse(browser.evaluate(browser.firstTab(), timed)).get<std::string>()));
            auto start = Clock::now();
            benchmark::DoNotOptimize(browser.evaluate(browser.firstTab(), script));
            direct[kind].push_back(millisecondsSince(start));
            start = Clock::now();
            const std::string answer = s.request(browser, {{"action", "extract-tab"}, {"callbackId", "one"}});
            reply[kind].push_back(millisecondsSince(start));
            if (answer.rfind("Bridge._resolve('one'", 0) != 0) state.SkipWithError("extraction did not resolve");
        }
    }
    for (Kind kind : {Kind::Chromium, Kind::Firefox}) {
        const std::string n = name(kind);
        state.counters[n + "_reply_ms"] = median(reply[kind]);
        state.counters[n + "_page_ms"] = median(page[kind]);
        state.counters[n + "_ratio"] = median(reply[kind]) / median(page[kind]);
        state.counters[n + "_direct_ms"] = median(direct[kind]);
    }
    state.counters["firefox_over_chromium"] = median(reply[Kind::Firefox]) / median(reply[Kind::Chromium]);
}
BENCHMARK(BM_SingleTabExtraction200kB)->Unit(benchmark::kMillisecond)->Iterations(21);

// "extract-all-tabs" over N tabs beside N + 1 single runs, and its time per
// tab over a bare child start: linear when the time per tab stays put as N
// grows.
void BM_ExtractAllTabs(benchmark::State& state) {
    auto& s = session();
    const auto kind = static_cast<Kind>(state.range(0));
    const auto tabs = static_cast<std::size_t>(state.range(1));
    auto& browser = s.browser(kind, "all", vesko::testing::ArticleFixtures::kArticle);
    while (browser.tabCount() < tabs) browser.openTab(s.url(vesko::testing::ArticleFixtures::kArticle));
    if (browser.tabCount() != tabs) state.SkipWithError("run the tab counts in rising order");
    std::vector<double> single, all, bare;
    std::size_t position = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        bareStart("/bin/cat");
        bare.push_back(millisecondsSince(start));
        // The single run takes each tab in turn.
        position = position % tabs + 1;
        start = Clock::now();
        const std::string one = s.request(browser, {{"action", "extract-tab-by-index"},
                                                    {"tabIndex", position}, {"callbackId", "one"}});
        single.push_back(millisecondsSince(start));
        start = Clock::now();
        const std::string every = s.request(browser, {{"action", "extract-all-tabs"}, {"callbackId", "all"}});
        all.push_back(millisecondsSince(start));
        if (one.rfind("Bridge._resolve('one'", 0) != 0 || every.rfind("Bridge._resolve('all', [{", 0) != 0)
            state.SkipWithError("extraction did not resolve");
    }
    state.SetLabel(name(kind));
    state.counters["tabs"] = static_cast<double>(tabs);
    state.counters["all_median_ms"] = median(all);
    state.counters["single_median_ms"] = median(single);
    state.counters["per_tab_ms"] = median(all) / static_cast<double>(tabs);
    state.counters["per_tab_over_bare_start"] = median(all) / static_cast<double>(tabs) / median(bare);
    state.counters["ratio_to_N+1_singles"] = median(all) / (static_cast<double>(tabs + 1) * median(single));
}
BENCHMARK(BM_ExtractAllTabs)
    ->ArgsProduct({{static_cast<long>(Kind::Chromium), static_cast<long>(Kind::Firefox)}, {10, 50, 100}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

}  // namespace

BENCHMARK_MAIN();
