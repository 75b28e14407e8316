#include "tests/support/ChildProcess.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace vesko::testing {

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = other.pid_;
        other.pid_ = -1;
    }
    return *this;
}

bool ChildProcess::start(const std::vector<std::string>& argv, const ChildOptions& options, std::string* error) {
    stop();
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        if (options.tempFolder.empty() || std::strncmp(*e, "TMPDIR=", 7) != 0) environment.emplace_back(*e);
    if (!options.tempFolder.empty()) environment.push_back("TMPDIR=" + options.tempFolder.string());
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string errorLog = options.errorLog.empty() ? std::string("/dev/null") : options.errorLog.string();

    int report[2];  // the child writes errno here if exec fails; closed by a successful exec
    if (pipe2(report, O_CLOEXEC) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        if (error) *error = std::strerror(errno);
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        const int out = options.standardOutput >= 0 ? options.standardOutput : open("/dev/null", O_WRONLY);
        const int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            (options.passFd >= 0 && fcntl(options.passFd, F_SETFD, 0) < 0)) {
            const int e = errno;
            (void)!write(report[1], &e, sizeof e);
            _exit(127);
        }
        execvpe(args[0], args.data(), envp.data());
        const int e = errno;
        (void)!write(report[1], &e, sizeof e);
        _exit(127);
    }
    close(report[1]);
    int childErrno = 0;
    const ssize_t n = read(report[0], &childErrno, sizeof childErrno);
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof childErrno)) {
        waitpid(pid, nullptr, 0);
        if (error) *error = "cannot start " + argv.at(0) + ": " + std::strerror(childErrno);
        return false;
    }
    pid_ = pid;
    return true;
}

int ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || done < 0) {
            const pid_t ended = pid_;
            kill(-ended, SIGKILL);  // helpers left behind in the group
            pid_ = -1;
            return done == ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool ChildProcess::exited() {
    if (pid_ <= 0) return true;
    waitExit(std::chrono::milliseconds(0));
    return pid_ <= 0;
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    if (waitExit(grace) == -1 && pid_ > 0) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

}  // namespace vesko::testing
