#pragma once
// A program a test starts beside itself (a server, a browser, an X server, the
// application) and stops by its own process id.
//
// The child leads its own process group, so stopping it also ends the helpers
// it started, and it gets SIGTERM when the test process dies, however that
// happens, so a killed test leaves nothing behind.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace vesko::testing {

struct ChildOptions {
    int passFd = -1;                   // a descriptor left open in the child (e.g. for -displayfd)
    int standardOutput = -1;           // where standard output goes (default /dev/null)
    std::filesystem::path errorLog;    // where standard error goes (default /dev/null)
    std::filesystem::path tempFolder;  // the child's TMPDIR, when given
};

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { stop(); }

    // Starts `argv` (argv[0] is looked up in PATH) with standard input on
    // /dev/null. False when it could not be executed; `error` then says why.
    bool start(const std::vector<std::string>& argv, const ChildOptions& options = {},
               std::string* error = nullptr);
    // SIGTERM to the group, SIGKILL after `grace`; waits for the child.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    // Waits up to `timeout` for the child to exit: its exit status, or -1
    // (still running, or ended by a signal).
    int waitExit(std::chrono::milliseconds timeout);
    // True once the child has ended (it is then reaped).
    bool exited();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

}  // namespace vesko::testing
