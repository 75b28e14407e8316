#pragma once
// Runs AppleScript programs through the script runner: the program goes to
// the runner's standard input, its result comes back on standard output.
//
// The runner is $VESKO_OSASCRIPT when that is set and not empty, else
// vesko-osascript beside the application's executable.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vesko::safari {

// The result of one run.
//   output, no error: exit status 0; standard output as UTF-8, trimmed.
//   error, no output: the runner could not be started (the launch failure's
//     description), or exited with another status (its standard error exactly
//     as received, or "unknown error" when that is not UTF-8).
//   neither: exit status 0 but standard output is not UTF-8.
struct ScriptOutcome {
    std::optional<std::string> output;
    std::optional<std::string> error;
};

// Something that runs one program text; the tab operations take one so tests
// can stand in for the browser.
using ScriptRunner = std::function<ScriptOutcome(const std::string& script)>;

// The runner executable this process uses.
std::filesystem::path scriptRunnerPath();

// How long a run may take. The runner gives up on a browser that does not
// answer after 60 s of its own; a run still going well beyond that (a runner
// that hangs, or a child of it that keeps its output open) is ended with its
// whole process group and fails.
inline constexpr std::chrono::milliseconds kRunDeadline{90000};

// Runs `script` with the runner at `runner`, blocking until it has exited or
// `deadline` has passed. Logs launch failures, non-zero exits and runs ended
// at their deadline. Never call on the main thread.
ScriptOutcome runAppleScript(const std::filesystem::path& runner, const std::string& script,
                             std::chrono::milliseconds deadline = kRunDeadline);

// Runs `script` with scriptRunnerPath().
ScriptOutcome runAppleScript(const std::string& script);

// Removes white space and line breaks at both ends of valid UTF-8 text: the
// characters of Unicode categories Zs, Zl and Zp, tab, U+000A to U+000D and U+0085.
std::string trimWhitespace(std::string_view text);

}  // namespace vesko::safari
