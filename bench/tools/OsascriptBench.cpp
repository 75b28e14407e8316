// Costs of the script runner, each beside a baseline measured in the same run:
//  - start-up: vesko-osascript running a program that needs no browser, beside
//    a bare start of /bin/true;
//  - one "do JavaScript" of the extraction script in a 200 kB article, beside
//    the same script evaluated straight over DevTools from this process
//    (connect, attach, evaluate), so the ratio is the runner's own overhead.

#include "bench/support/RatioReporter.hpp"
#include "safari/ExtractionScript.hpp"
#include "safari/Programs.hpp"
#include "tests/support/Browser.hpp"
#include "tests/support/Subprocess.hpp"
#include "tools/osascript/DevTools.hpp"

#include <filesystem>
#include <memory>
#include <stdexcept>

namespace {

using namespace vesko;

struct Setup {
    testing::ArticleFixtures fixtures;
    testing::FixtureServer server{fixtures.root()};
    testing::HeadlessChromium browser{{server.url(testing::ArticleFixtures::kLargeArticle)}};
    std::filesystem::path stateDir = std::filesystem::temp_directory_path() / "vesko-osascript-bench-state";
    ~Setup() {
        std::error_code ignored;
        std::filesystem::remove_all(stateDir, ignored);
    }
};
std::unique_ptr<Setup> setup;

Setup& world() {
    if (!setup) setup = std::make_unique<Setup>();
    return *setup;
}

testing::ProgramResult runner(const std::string& program) {
    return testing::runProgram({VESKO_OSASCRIPT_EXECUTABLE}, program,
                               {{"VESKO_DEVTOOLS_ENDPOINT", world().browser.endpoint()},
                                {"VESKO_OSASCRIPT_STATE_DIR", world().stateDir.string()}});
}

void BM_ProcessStart(benchmark::State& state) {
    for (auto _ : state) {
        auto r = testing::runProgram({"/bin/true"}, "");
        if (r.exitStatus != 0) state.SkipWithError("/bin/true failed");
    }
}

void BM_RunnerStartNoBrowser(benchmark::State& state) {
    world();
    for (auto _ : state) {
        auto r = runner("set l to {\"a\", \"b\"}\nreturn l as text");
        if (r.exitStatus != 0) state.SkipWithError(r.err.c_str());
    }
}

void BM_DoJavaScript200kB(benchmark::State& state) {
    std::string program = safari::buildExtractionScript(1, std::nullopt);
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto r = runner(program);
        if (r.exitStatus != 0) {
            state.SkipWithError(r.err.c_str());
            break;
        }
        bytes = r.out.size();
    }
    state.counters["output_bytes"] = static_cast<double>(bytes);
}

void BM_DevToolsDirect200kB(benchmark::State& state) {
    const std::string endpoint = world().browser.endpoint();
    const std::string targetId = world().browser.tabs().front().targetId;
    const std::string script(safari::kExtractionScript);
    for (auto _ : state) {
        auto client = devtools::Client::connect(endpoint, std::chrono::seconds(60));
        auto attached = client->call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}});
        auto result = client->call("Runtime.evaluate", {{"expression", script}, {"returnByValue", true}},
                                   attached.at("sessionId").get<std::string>());
        benchmark::DoNotOptimize(result);
    }
}

BENCHMARK(BM_ProcessStart)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RunnerStartNoBrowser)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DevToolsDirect200kB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DoJavaScript200kB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    int rc = vesko::bench::runWithRatios(
        argc, argv,
        {{"BM_RunnerStartNoBrowser/repeats:5_median", "BM_ProcessStart/repeats:5_median", 0},
         {"BM_DoJavaScript200kB/repeats:5_median", "BM_DevToolsDirect200kB/repeats:5_median", 0}});
    setup.reset();  // stops Chromium and the fixture server
    return rc;
}
