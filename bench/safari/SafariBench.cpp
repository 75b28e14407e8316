// Costs of reading tabs, each beside a baseline measured in the same run:
//  - the script runner over a bare start of the same child (/bin/cat);
//  - one single-tab extraction of a 200 kB article, request to reply, beside
//    the same script evaluated straight over DevTools;
//  - "extract-all-tabs" over 1, 5 and 20 tabs against (N + 1) single runs.

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

// ---- Against headless Chromium, through the real operations ----

class BrowserSession {
public:
    BrowserSession() : server_(fixtures_.root()) {
        const std::filesystem::path runner =
            std::filesystem::path(VESKO_EXECUTABLE).parent_path() / "vesko-osascript";
        if (!std::filesystem::exists(runner)) throw std::runtime_error("vesko-osascript not built");
        setenv("VESKO_OSASCRIPT", runner.c_str(), 1);
        browser_ = std::make_unique<vesko::testing::HeadlessChromium>(
            std::vector<std::string>{server_.url(vesko::testing::ArticleFixtures::kLargeArticle)});
        setenv("VESKO_DEVTOOLS_ENDPOINT", browser_->endpoint().c_str(), 1);
        web_ = std::make_shared<vesko::testing::RecordingWebView>();
        controller_ = std::make_shared<vesko::ViewController>(std::filesystem::temp_directory_path());
        controller_->webView = web_;
        controller_->viewDidLoad();
    }

    vesko::testing::HeadlessChromium& browser() { return *browser_; }
    std::string url(const char* path) const { return server_.url(path); }

    // Posts one request and runs the main queue until its reply is evaluated.
    std::string request(const json& body) {
        const std::size_t before = web_->scripts.size();
        web_->post(body);
        platform::dispatch::runMainUntil([&] { return web_->scripts.size() > before; },
                                         std::chrono::milliseconds(120000));
        if (web_->scripts.size() <= before) throw std::runtime_error("no reply");
        return web_->scripts.back();
    }

private:
    vesko::testing::ArticleFixtures fixtures_;
    vesko::testing::FixtureServer server_;
    std::unique_ptr<vesko::testing::HeadlessChromium> browser_;
    std::shared_ptr<vesko::testing::RecordingWebView> web_;
    std::shared_ptr<vesko::ViewController> controller_;
};

BrowserSession& session() {
    static BrowserSession instance;
    return instance;
}

void BM_SingleTabExtraction200kB(benchmark::State& state) {
    auto& s = session();
    const std::string targetId = s.browser().tabs().front().targetId;
    std::string script(vesko::safari::kExtractionScript);
    std::replace(script.begin(), script.end(), '\n', ' ');
    std::vector<double> direct, extraction;
    std::size_t replyBytes = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(s.browser().evaluate(targetId, script));
        direct.push_back(millisecondsSince(start));
        start = Clock::now();
        const std::string reply = s.request({{"action", "extract-tab"}, {"callbackId", "one"}});
        extraction.push_back(millisecondsSince(start));
        if (reply.rfind("Bridge._resolve('one'", 0) != 0) state.SkipWithError("extraction did not resolve");
        replyBytes = reply.size();
    }
    state.counters["median_ms"] = median(extraction);
    state.counters["devtools_median_ms"] = median(direct);
    state.counters["ratio"] = median(extraction) / median(direct);
    state.counters["reply_kB"] = static_cast<double>(replyBytes) / 1024;
}
BENCHMARK(BM_SingleTabExtraction200kB)->Unit(benchmark::kMillisecond)->Iterations(31);

void BM_ExtractAllTabs(benchmark::State& state) {
    auto& s = session();
    const auto tabs = static_cast<int>(state.range(0));
    s.browser().closeAllTabs();
    for (int i = 0; i < tabs; ++i) s.browser().openTab(s.url(vesko::testing::ArticleFixtures::kArticle));
    std::vector<double> single, all;
    int position = 0;
    for (auto _ : state) {
        // The single run takes each tab in turn.
        position = position % tabs + 1;
        auto start = Clock::now();
        const std::string one =
            s.request({{"action", "extract-tab-by-index"}, {"tabIndex", position}, {"callbackId", "one"}});
        single.push_back(millisecondsSince(start));
        start = Clock::now();
        const std::string every = s.request({{"action", "extract-all-tabs"}, {"callbackId", "all"}});
        all.push_back(millisecondsSince(start));
        if (one.rfind("Bridge._resolve('one'", 0) != 0 || every.rfind("Bridge._resolve('all', [{", 0) != 0)
            state.SkipWithError("extraction did not resolve");
    }
    state.counters["tabs"] = tabs;
    state.counters["all_median_ms"] = median(all);
    state.counters["single_median_ms"] = median(single);
    state.counters["per_tab_ms"] = median(all) / tabs;
    state.counters["ratio_to_N+1_singles"] = median(all) / ((tabs + 1) * median(single));
}
BENCHMARK(BM_ExtractAllTabs)->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(11);

}  // namespace

BENCHMARK_MAIN();
