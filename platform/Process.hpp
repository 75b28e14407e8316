#pragma once
// Child processes: start a program with three pipes, feed its standard input
// and collect its standard output and standard error, then wait for it.
//
// The three pipes are served together (one poll loop), so a child that writes
// a lot to either stream, or writes before it has read all of its input,
// never blocks on a full pipe.

#include <filesystem>
#include <map>
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
    std::string standardOutput;
    std::string standardError;
};

// Runs `executable` with `arguments` (not counting argv[0]) and the current
// environment with `environmentChanges` set in it, writes `input` to its
// standard input and then closes it, collects both output streams and waits
// for the child to exit. Blocks the calling thread; safe to call from several
// threads at once.
Result run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
           std::string_view input, const std::map<std::string, std::string>& environmentChanges = {});

}  // namespace platform::process
