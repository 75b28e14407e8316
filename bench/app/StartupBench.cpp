// Start-up of the windowless application: `vesko --stdio` answering one
// request (a save whose data is refused, so no disk write is timed), the
// whole process from exec to exit, beside a bare
// process start (/bin/true) measured in the same run. Each repetition is one
// run; the figures are medians, with the peak resident memory of the process.

#include "bench/support/RatioReporter.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Scratch {
    std::filesystem::path home;
    std::filesystem::path input;
    Scratch() {
        char pattern[] = "/tmp/vesko-startup-bench-XXXXXX";
        home = mkdtemp(pattern);
        std::filesystem::create_directory(home / "Downloads");
        input = home / "request.jsonl";
        std::ofstream(input) << R"({"action":"save-file","callbackId":"c1","filename":"a.txt","base64":"!"})" << '\n';
        setenv("HOME", home.c_str(), 1);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    }
};

const Scratch& scratch() {
    static Scratch instance;
    return instance;
}

// Runs `argv` with the request file on standard input and standard output on
// /dev/null; false when it did not end with status 0. `peakKiB` gets its
// maximum resident set size.
bool runOnce(const char* const* argv, long* peakKiB) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(scratch().input.c_str(), O_RDONLY);
        const int out = open("/dev/null", O_WRONLY);
        dup2(in, 0);
        dup2(out, 1);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return false;
    *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void runProgram(benchmark::State& state, const char* const* argv) {
    scratch();
    long peakKiB = 0;
    for (auto _ : state)
        if (!runOnce(argv, &peakKiB)) state.SkipWithError("the program failed");
    state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024.0;
}

void BM_ProcessStart(benchmark::State& state) {
    const char* argv[] = {"/bin/true", nullptr};
    runProgram(state, argv);
}

void BM_VeskoStdioOneRequest(benchmark::State& state) {
    const char* argv[] = {VESKO_EXECUTABLE, "--stdio", nullptr};
    runProgram(state, argv);
}

BENCHMARK(BM_ProcessStart)->Iterations(1)->Repetitions(21)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VeskoStdioOneRequest)->Iterations(1)->Repetitions(21)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return vesko::bench::runWithRatios(
        argc, argv, {{"BM_VeskoStdioOneRequest/iterations:1/repeats:21_median", "BM_ProcessStart/iterations:1/repeats:21_median", 0}});
}
