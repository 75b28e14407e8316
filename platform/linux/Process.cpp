#include "platform/Process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

extern char** environ;

namespace platform::process {
namespace {

std::string describeErrno(int error) {
    char buffer[256];
    // GNU strerror_r: returns the text, which may or may not live in `buffer`.
    return ::strerror_r(error, buffer, sizeof buffer);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

struct Pipe {
    int read = -1;
    int write = -1;
    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    ~Pipe() {
        closeFd(read);
        closeFd(write);
    }
};

// Appends what is available on `fd` to `sink`. Returns false at end of file
// or on an error other than "try again".
bool drainOnce(int fd, std::string& sink) {
    char buffer[64 * 1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        sink.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

// Blocks SIGPIPE for the calling thread while a child's standard input is
// written, so a child that exits without reading its input makes write()
// fail with EPIPE instead of ending the whole application. A SIGPIPE raised
// meanwhile is taken off the thread's pending set before the mask returns.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            const timespec zero{0, 0};
            while (sigtimedwait(&pipeOnly_, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t pipeOnly_;
    sigset_t previous_;
    bool wasPending_ = false;
};

}  // namespace

Result run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
           std::string_view input, const std::map<std::string, std::string>& environmentChanges,
           std::optional<std::chrono::milliseconds> deadline) {
    using Clock = std::chrono::steady_clock;
    const bool bounded = deadline.has_value();
    const Clock::time_point due = bounded ? Clock::now() + *deadline : Clock::time_point::max();
    Result result;
    const std::string program = executable.string();
    auto launchFailure = [&](int error) {
        result.launched = false;
        // The reason comes before the full path, so a shortened message still shows it.
        result.launchError = "Could not start \xE2\x80\x9C" + executable.filename().string() +
                             "\xE2\x80\x9D: " + describeErrno(error) + " (" + program + ")";
        return result;
    };

    Pipe in, out, err;
    if (!in.open() || !out.open() || !err.open()) return launchFailure(errno);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);

    // The child starts with no blocked signals and SIGPIPE at its default,
    // whatever the calling thread has set up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, pipeOnly;
    sigemptyset(&none);
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &pipeOnly);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    // A child with a deadline leads its own group, so ending it ends what it started.
    if (bounded) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    std::vector<std::string> environment;
    std::vector<char*> envp;
    if (!environmentChanges.empty()) {
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view text(*entry);
            if (!environmentChanges.count(std::string(text.substr(0, text.find('=')))))
                environment.emplace_back(text);
        }
        for (const auto& [name, value] : environmentChanges) environment.push_back(name + "=" + value);
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
    }

    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(),
                                         environmentChanges.empty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    closeFd(in.read);
    closeFd(out.write);
    closeFd(err.write);
    if (spawnError != 0) return launchFailure(spawnError);
    result.launched = true;

    // Readable once the child has exited, so its exit is awaited with the
    // pipes and the deadline (-1 without a deadline, or on kernels without it).
    int exitFd = bounded ? static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)) : -1;
    bool exited = false;
    // Milliseconds left before the deadline for poll(), -1 without one; 0 once it has passed.
    auto pollTimeout = [&]() -> int {
        if (!bounded) return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
        return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60 * 60 * 1000));
    };

    {
        SigpipeGuard guard;
        ::fcntl(in.write, F_SETFL, ::fcntl(in.write, F_GETFL) | O_NONBLOCK);
        std::size_t written = 0;
        // Most programs fit in the pipe: write before the first poll.
        auto writeSome = [&] {
            const ssize_t n = ::write(in.write, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            const bool failed = n < 0 && errno != EAGAIN && errno != EINTR;
            if (failed || written == input.size()) closeFd(in.write);
        };
        if (input.empty()) closeFd(in.write);
        else writeSome();

        while (in.write >= 0 || out.read >= 0 || err.read >= 0 || (exitFd >= 0 && !exited)) {
            pollfd fds[4];
            int count = 0;
            int inSlot = -1, outSlot = -1, errSlot = -1, exitSlot = -1;
            if (in.write >= 0) { inSlot = count; fds[count++] = {in.write, POLLOUT, 0}; }
            if (out.read >= 0) { outSlot = count; fds[count++] = {out.read, POLLIN, 0}; }
            if (err.read >= 0) { errSlot = count; fds[count++] = {err.read, POLLIN, 0}; }
            if (exitFd >= 0 && !exited) { exitSlot = count; fds[count++] = {exitFd, POLLIN, 0}; }
            const int ready = ::poll(fds, static_cast<nfds_t>(count), pollTimeout());
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (ready == 0 && bounded && Clock::now() >= due) {
                ::kill(-pid, SIGKILL);
                result.timedOut = true;
                break;
            }
            if (exitSlot >= 0 && fds[exitSlot].revents != 0) exited = true;
            if (inSlot >= 0 && fds[inSlot].revents != 0) writeSome();
            if (outSlot >= 0 && fds[outSlot].revents != 0 && !drainOnce(out.read, result.standardOutput))
                closeFd(out.read);
            if (errSlot >= 0 && fds[errSlot].revents != 0 && !drainOnce(err.read, result.standardError))
                closeFd(err.read);
        }
        closeFd(in.write);
        closeFd(out.read);
        closeFd(err.read);
    }
    closeFd(exitFd);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.exitStatus = 128 + WTERMSIG(status);
    return result;
}

}  // namespace platform::process
