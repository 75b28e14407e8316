// The process layer and the script runner against small fake runners.

#include "platform/Log.hpp"
#include "platform/Process.hpp"
#include "safari/AppleScriptRunner.hpp"
#include "tests/support/PageScripts.hpp"
#include "tests/support/VeskoStdio.hpp"
#include "tests/support/WithinTime.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace vesko::safari {
namespace {

namespace fs = std::filesystem;

class FakeRunners : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vesko-runner-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        previousSink_ = platform::log::setSink([this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            logLines_.push_back(line);
        });
    }
    void TearDown() override {
        platform::log::setSink(std::move(previousSink_));
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Writes an executable /bin/sh script and returns its path.
    fs::path runner(const std::string& name, const std::string& body) {
        const fs::path path = dir_ / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
        return path;
    }

    std::vector<std::string> logLines() {
        std::lock_guard lock(logMutex_);
        return logLines_;
    }

    fs::path dir_;

private:
    platform::log::Sink previousSink_;
    std::mutex logMutex_;
    std::vector<std::string> logLines_;
};

TEST_F(FakeRunners, SuccessTrimsUnicodeWhiteSpaceAtBothEndsOnly) {
    // NBSP, U+2028, U+0085, U+3000 and the ASCII breaks at the ends go; inner ones stay.
    auto path = runner("ok", "cat >/dev/null; printf '\\302\\240\\t\\r\\n {\"a\": \"x\\302\\240 y\"}\\342\\200\\250\\302\\205\\343\\200\\200\\n\\v\\f'");
    auto outcome = runAppleScript(path, "program");
    ASSERT_TRUE(outcome.output);
    EXPECT_EQ(*outcome.output, "{\"a\": \"x\xC2\xA0 y\"}");
    EXPECT_FALSE(outcome.error);
    EXPECT_TRUE(logLines().empty());

    EXPECT_EQ(trimWhitespace(" \xE2\x80\xA9 \n"), "");
    // U+200B (zero width space) is not in category Zs: it stays.
    EXPECT_EQ(trimWhitespace("\xE2\x80\x8Bx\xE2\x80\x8B"), "\xE2\x80\x8Bx\xE2\x80\x8B");
}

TEST_F(FakeRunners, ProgramReachesTheRunnerUnchanged) {
    std::string program = "set jsCode to \"caf\xC3\xA9 \\\\ \\\"q\\\"\"\ntell application \"Safari\"\nend tell";
    program += std::string(300000, 'z');  // more than a pipe holds
    auto outcome = runAppleScript(runner("echo", "cat"), program);
    ASSERT_TRUE(outcome.output);
    EXPECT_EQ(*outcome.output, program);
}

TEST_F(FakeRunners, NonZeroExitGivesStandardErrorAsReceivedAndDropsOutput) {
    auto outcome = runAppleScript(
        runner("fails", "cat >/dev/null; echo '{\"ok\":1}'; printf '  execution error: boom (-1728)\\n' >&2; exit 3"), "p");
    EXPECT_FALSE(outcome.output);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(*outcome.error, "  execution error: boom (-1728)\n");
    EXPECT_EQ(logLines(), std::vector<std::string>{"Vesko AppleScript error:   execution error: boom (-1728)\n"});

    // Exit 1 with nothing on standard error: an empty error text, not an absent one.
    outcome = runAppleScript(runner("silent", "exit 1"), "p");
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(*outcome.error, "");
}

TEST_F(FakeRunners, InvalidUtf8) {
    // On standard error: "unknown error".
    auto outcome = runAppleScript(runner("bad-err", "printf 'bad \\377\\n' >&2; exit 2"), "p");
    EXPECT_FALSE(outcome.output);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(*outcome.error, "unknown error");
    EXPECT_EQ(logLines().back(), "Vesko AppleScript error: unknown error");

    // On standard output with status 0: neither output nor error, and no log line.
    const auto before = logLines().size();
    for (const char* bytes : {"\\300\\200", "\\355\\240\\200", "\\364\\220\\200\\200", "abc\\342\\202"}) {
        outcome = runAppleScript(runner("bad-out", std::string("printf '") + bytes + "'"), "p");
        EXPECT_FALSE(outcome.output) << bytes;
        EXPECT_FALSE(outcome.error) << bytes;
    }
    EXPECT_EQ(logLines().size(), before);
}

TEST_F(FakeRunners, LaunchFailuresAreReportedAndLogged) {
    auto outcome = runAppleScript(dir_ / "missing-runner", "p");
    EXPECT_FALSE(outcome.output);
    ASSERT_TRUE(outcome.error);
    EXPECT_NE(outcome.error->find("No such file or directory"), std::string::npos) << *outcome.error;
    EXPECT_NE(outcome.error->find("missing-runner"), std::string::npos) << *outcome.error;
    EXPECT_EQ(logLines(), std::vector<std::string>{"Vesko AppleScript launch error: " + *outcome.error});

    const fs::path notExecutable = dir_ / "plain";
    std::ofstream(notExecutable) << "#!/bin/sh\necho hi\n";
    outcome = runAppleScript(notExecutable, "p");
    ASSERT_TRUE(outcome.error);
    EXPECT_NE(outcome.error->find("Permission denied"), std::string::npos) << *outcome.error;
}

TEST_F(FakeRunners, MegabytesOnBothStreamsBeforeReadingInput) {
    // The child fills standard error far past a pipe's capacity, then standard
    // output, and only then reads its (large) input: all three must be served together.
    auto path = runner("flood",
                       "head -c 3000000 /dev/zero | tr '\\0' e >&2\n"
                       "head -c 5000000 /dev/zero | tr '\\0' o\n"
                       "wc -c\n"
                       "exit ${FLOOD_STATUS:-0}");
    const std::string input(2000000, 'i');
    auto run = platform::process::run(path, {}, input);
    ASSERT_TRUE(run.launched);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardError.size(), 3000000u);
    EXPECT_EQ(run.standardOutput, std::string(5000000, 'o') + "2000000\n");

    ::setenv("FLOOD_STATUS", "1", 1);
    auto outcome = runAppleScript(path, input);
    ::unsetenv("FLOOD_STATUS");
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(*outcome.error, std::string(3000000, 'e'));
}

TEST_F(FakeRunners, ChildThatIgnoresItsInputDoesNotHurtTheCaller) {
    auto run = platform::process::run(runner("early", "exit 7"), {}, std::string(4000000, 'x'));
    EXPECT_TRUE(run.launched);
    EXPECT_EQ(run.exitStatus, 7);
    // Killed by a signal: reported as 128 + signal number.
    run = platform::process::run(runner("killed", "kill -9 $$"), {}, "");
    EXPECT_EQ(run.exitStatus, 128 + 9);
}

// True once the process `pid` is gone (or a zombie nobody has reaped yet).
bool ended(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string number, name, state;
    return !(stat >> number >> name >> state) || state == "Z";
}

TEST_F(FakeRunners, ARunThatNeverEndsIsStoppedWithItsProcessGroupAtTheDeadline) {
    // The runner hangs, and a child of its own holds its output open as well.
    const fs::path pidFile = dir_ / "child.pid";
    const auto path = runner("hangs", "sleep 300 & echo $! > '" + pidFile.string() + "'\nprintf partial\nsleep 300");
    const auto start = std::chrono::steady_clock::now();
    auto outcome = vesko::testing::withinTime(std::chrono::seconds(20), [path] {
        return runAppleScript(path, "x", std::chrono::milliseconds(300));
    });
    ASSERT_TRUE(outcome) << "the run never ends";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // A failed run: no output, an error for the message, one log line.
    EXPECT_FALSE(outcome->output);
    EXPECT_EQ(outcome->error, "The script runner did not finish in time and was stopped.");
    EXPECT_EQ(logLines(), std::vector<std::string>{"Vesko AppleScript error: " + *outcome->error});
    std::string child;
    std::ifstream(pidFile) >> child;
    ASSERT_FALSE(child.empty());
    for (int i = 0; i < 100 && !ended(child); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(ended(child));
}

TEST_F(FakeRunners, ConcurrentRunsDoNotHoldEachOthersPipes) {
    // A slow run must not keep a quick run's pipes open (descriptors must not
    // leak into the other child), and outputs must not mix.
    auto slow = runner("slow", "cat >/dev/null; sleep 3; echo slow");
    auto quick = runner("quick", "cat");
    std::thread slowRun([&] { EXPECT_EQ(runAppleScript(slow, "x").output, "slow"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<std::thread> quickRuns;
    std::vector<double> seconds(6);
    for (int i = 0; i < 6; ++i) {
        quickRuns.emplace_back([&, i] {
            const auto start = std::chrono::steady_clock::now();
            const std::string text = "run " + std::to_string(i) + std::string(100000, 'a' + i);
            EXPECT_EQ(runAppleScript(quick, text).output, text);
            seconds[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        });
    }
    for (auto& t : quickRuns) t.join();
    slowRun.join();
    for (double s : seconds) EXPECT_LT(s, 2.0);
}

TEST_F(FakeRunners, ActionsThroughVeskoStdioReachTheRunnerAndAnswerOnce) {
    // A browser stand-in that answers by the program it reads.
    auto path = runner("browser", R"SH(program=$(cat)
case "$program" in
  *'count of tabs of window 1'*) echo 3 ;;
  *'lines_'*) printf 'https://a.test/1\tOne\nhttps://b.test/2\tTwo' ;;
  *'jsCode in tab 2 of window 1'*) echo 'execution error: no tab 2' >&2; exit 1 ;;
  *'jsCode in tab '*' of window 1'*)
    n=$(printf '%s' "$program" | sed -n 's/.*jsCode in tab \([0-9]*\) of.*/\1/p')
    printf '{"tab":"%s"}' "$n" ;;
  *'current tab of front window'*) echo '{"tab":"current"}' ;;
  *'starts with "https://nothing'*) echo null ;;
  *) echo 'syntax error' >&2; exit 1 ;;
esac)SH");
    const auto scripts = vesko::testing::runVeskoStdio(
        {{{"action", "extract-tab"}, {"callbackId", "current"}},
         {{"action", "extract-tab-by-url"}, {"url", "https://nothing"}, {"callbackId", "none"}},
         {{"action", "get-tab-urls"}, {"callbackId", "tabs"}},
         {{"action", "extract-all-tabs"}, {"callbackId", "all"}}},
        {{"VESKO_OSASCRIPT", path.string()}});
    ASSERT_EQ(scripts.size(), 4u);
    std::map<std::string, nlohmann::json> replies;
    for (const auto& call : vesko::testing::evaluateInPage(scripts)) replies[call["id"]] = call;
    EXPECT_EQ(replies["current"]["value"], nlohmann::json({{"tab", "current"}}));
    EXPECT_EQ(replies["none"]["message"],
              "Failed to extract content from your browser. Make sure your browser is open with an article tab.");
    EXPECT_EQ(replies["tabs"]["value"], nlohmann::json::parse(R"([{"url":"https://a.test/1","title":"One"},
                                                                  {"url":"https://b.test/2","title":"Two"}])"));
    EXPECT_EQ(replies["all"]["value"], nlohmann::json::parse(R"([{"tab":"1"},{"tab":"3"}])"));
}

}  // namespace
}  // namespace vesko::safari
