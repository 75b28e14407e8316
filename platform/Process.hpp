#pragma once
// Child processes: start a program with three pipes, feed its standard input
// and collect its standard output and standard error, then wait for it.
//
// The three pipes are served together (one poll loop), so a child that writes
// a lot to either stream, or writes before it has read all of its input,
// never blocks on a full pipe.

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::process {

struct Result {
    // False when the child could not be started; `launchError` then says why
    // (the executable's name, the system's description of the
    // failure, then the full path).
    bool launched = false;
    std::string launchError;
    // Exit status when the child exited normally; 128 + signal number when a
    // signal ended it.
    int exitStatus = -1;
    // True when the child had not finished by its deadline and was killed.
    bool timedOut = false;
    std::string standardOutput;
    std::string standardError;
};

// Runs `executable` with `arguments` (not counting argv[0]) and the current
// environment with `environmentChanges` set in it, writes `input` to its
// standard input and then closes it, collects both output streams and waits
// for the child to exit. Blocks the calling thread; safe to call from several
// threads at once.
//
// With a `deadline`, the child leads a process group of its own. When it has
// not exited and closed its output by then (a child that hangs, or a
// grandchild that keeps the pipes open), the whole group is killed, what was
// collected so far is returned and `timedOut` is set.
Result run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
           std::string_view input, const std::map<std::string, std::string>& environmentChanges = {},
           std::optional<std::chrono::milliseconds> deadline = std::nullopt);

}  // namespace platform::process
