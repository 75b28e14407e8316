#pragma once
// Runs the built vesko-extension as a browser would: frames written to its
// standard input, replies read from its standard output. Its log goes to a
// file in a private temp dir (VESKO_EXTENSION_LOG=stderr), removed with it.

#include <fcntl.h>
#include <spawn.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace vesko_extension_testing {

inline std::string frame(std::string_view body) {
    auto length = static_cast<std::uint32_t>(body.size());
    std::string out(sizeof length, '\0');
    std::memcpy(out.data(), &length, sizeof length);
    out.append(body);
    return out;
}

inline std::string lengthOnly(std::uint32_t length) {
    std::string out(sizeof length, '\0');
    std::memcpy(out.data(), &length, sizeof length);
    return out;
}

class HostProcess {
public:
    // nonBlocking: the host's standard input and output are handed over in
    // non-blocking mode.
    explicit HostProcess(bool nonBlocking = false) {
        char pattern[] = "/tmp/vesko-extension-test-XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        logPath_ = dir_ / "host.log";

        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        if (nonBlocking) {
            ::fcntl(in[0], F_SETFL, O_NONBLOCK);
            ::fcntl(out[1], F_SETFL, O_NONBLOCK);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            if (std::string_view(*e).starts_with("VESKO_EXTENSION_LOG=")) continue;
            env.emplace_back(*e);
        }
        env.emplace_back("VESKO_EXTENSION_LOG=stderr");
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        // What Chromium passes: the calling extension's origin.
        std::vector<std::string> args{VESKO_EXTENSION_EXECUTABLE, "chrome-extension://test/"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
        if (rc != 0) throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(rc));
    }

    ~HostProcess() {
        closeInput();
        closeOutput();
        if (pid_ > 0 && !exitStatus_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    pid_t pid() const { return pid_; }

    // False when the host no longer reads (its end of the pipe is closed).
    bool send(std::string_view bytes) {
        ::signal(SIGPIPE, SIG_IGN);
        while (!bytes.empty()) {
            ssize_t n = ::write(toChild_, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // The next reply's body, or nothing when output ended or nothing came in time.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::string prefix;
        if (!readExactly(prefix, 4, timeout)) return std::nullopt;
        std::uint32_t length;
        std::memcpy(&length, prefix.data(), 4);
        std::string body;
        if (!readExactly(body, length, timeout)) return std::nullopt;
        return body;
    }

    // True when output ended with no further byte.
    bool outputEnded(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::string any;
        return !readExactly(any, 1, timeout) && any.empty() && !timedOut_;
    }

    void closeInput() {
        if (toChild_ >= 0) ::close(toChild_);
        toChild_ = -1;
    }
    void closeOutput() {
        if (fromChild_ >= 0) ::close(fromChild_);
        fromChild_ = -1;
    }

    // The exit status once the host ended by itself within the timeout; a
    // host still running is killed and gives nothing.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        if (exitStatus_) return exitStatus_;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int status = 0;
            pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return exitStatus_;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                exitStatus_ = -1;
                return std::nullopt;
            }
            ::usleep(5000);
        }
    }

    // Resident memory of the running host, now and at its peak, in KiB.
    long residentKiB() const { return statusField("VmRSS:"); }
    long peakResidentKiB() const { return statusField("VmHWM:"); }

    std::string log() const {
        std::ifstream in(logPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::istringstream in(log());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    long statusField(std::string_view name) const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with(name)) return std::stol(line.substr(name.size()));
        }
        return -1;
    }

    bool readExactly(std::string& out, std::size_t n, std::chrono::milliseconds timeout) {
        timedOut_ = false;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        char chunk[65536];
        while (out.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                timedOut_ = true;
                return false;
            }
            pollfd p{fromChild_, POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) continue;
            ssize_t got = ::read(fromChild_, chunk, std::min(sizeof chunk, n - out.size()));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            out.append(chunk, static_cast<std::size_t>(got));
        }
        return true;
    }

    std::filesystem::path dir_;
    std::filesystem::path logPath_;
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    bool timedOut_ = false;
    std::optional<int> exitStatus_;
};

}  // namespace vesko_extension_testing
