#include "tools/osascript/Bidi.hpp"

#include "tools/osascript/BidiRelay.hpp"
#include "tools/osascript/ProtocolJson.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

extern char** environ;

namespace vesko::bidi {

namespace {

using Clock = std::chrono::steady_clock;

// Runner command ids: the process id in the high bits, so the ids of runners
// sharing a relay never meet (and stay below 2^53, as the protocol wants).
constexpr int kIdShift = 20;

// Reads one line from the relay's report pipe; "" when it ended first or
// the deadline passed.
std::string readReport(int fd, Clock::time_point deadline) {
    std::string line;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, protocol::pollTimeout(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return "";
        char chunk[512];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return "";
        line.append(chunk, static_cast<std::size_t>(n));
        if (auto end = line.find('\n'); end != std::string::npos) return line.substr(0, end);
    }
}

// Starts the relay in a session of its own (so that stopping the runner's
// process group leaves it serving), with its report on a pipe.
int startRelay(const std::filesystem::path& program, const std::string& endpoint,
               std::chrono::milliseconds patience) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) throw UnavailableError(std::string("cannot start the BiDi relay: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, report[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string path = program.string();
    std::string ms = std::to_string(patience.count());
    char* argv[] = {path.data(), const_cast<char*>("--bidi-relay"), const_cast<char*>(endpoint.c_str()), ms.data(),
                    nullptr};
    pid_t pid = 0;
    int failed = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(report[1]);
    if (failed != 0) {
        close(report[0]);
        throw UnavailableError("cannot start the BiDi relay " + path + ": " + std::strerror(failed));
    }
    return report[0];
}

}  // namespace

std::unique_ptr<Client> Client::connectToRunningRelay(const std::string& endpoint, std::chrono::milliseconds timeout) {
    int fd = connectToRelay(endpoint);
    if (fd < 0) return nullptr;
    return std::unique_ptr<Client>(new Client(fd, endpoint, timeout));
}

std::unique_ptr<Client> Client::connect(const std::string& endpoint, const std::filesystem::path& relayProgram,
                                        std::chrono::milliseconds timeout) {
    if (auto client = connectToRunningRelay(endpoint, timeout)) return client;
    int report = startRelay(relayProgram, endpoint, timeout);
    // The relay answers within its own patience; a little more covers its start.
    auto deadline = timeout.count() > 0 ? Clock::now() + timeout + std::chrono::seconds(5) : Clock::time_point::max();
    std::string line = readReport(report, deadline);
    close(report);
    if (line == "ready") {
        if (auto client = connectToRunningRelay(endpoint, timeout)) return client;
        throw UnavailableError("the BiDi relay for " + endpoint + " went away");
    }
    if (line.rfind("busy: ", 0) == 0) throw BusyError(line.substr(6));
    if (line.rfind("unavailable: ", 0) == 0) throw UnavailableError(line.substr(13));
    throw UnavailableError("the BiDi relay for " + endpoint + " did not start");
}

Client::Client(int socket, std::string endpoint, std::chrono::milliseconds timeout)
    : socket_(socket),
      endpoint_(std::move(endpoint)),
      timeout_(timeout),
      nextId_(static_cast<long long>(getpid()) << kIdShift) {}

Client::~Client() {
    if (socket_ >= 0) close(socket_);
}

Clock::time_point Client::deadline() const {
    return timeout_.count() > 0 ? Clock::now() + timeout_ : Clock::time_point::max();
}

long long Client::send(const Command& command) {
    long long id = ++nextId_;
    std::string line = nlohmann::json{{"id", id}, {"method", command.method}, {"params", command.params}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
    line += '\n';
    for (std::size_t written = 0; written < line.size();) {
        ssize_t n = ::send(socket_, line.data() + written, line.size() - written, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ProtocolError("", "the connection to the browser was lost");
        written += static_cast<std::size_t>(n);
    }
    awaited_.push_back(id);
    return id;
}

bool Client::receive(Clock::time_point deadline) {
    pollfd p{socket_, POLLIN, 0};
    int ready = poll(&p, 1, protocol::pollTimeout(deadline));
    if (ready < 0 && errno == EINTR) return true;
    if (ready == 0) return false;
    // Large reads: a page's answer can be hundreds of kilobytes.
    const std::size_t scanned = buffer_.size();
    long n = buffer_.readFrom(socket_, 256 * 1024);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) throw ProtocolError("", "the browser closed the connection");

    for (std::size_t end, from = scanned; (end = buffer_.view().find('\n', from)) != std::string_view::npos; from = 0) {
        nlohmann::json message = protocol::parseMessage(buffer_.view().substr(0, end));
        buffer_.consume(end + 1);
        auto id = message.is_object() ? message.find("id") : message.end();
        if (id == message.end() || !id->is_number_integer()) continue;
        auto waiting = std::find(awaited_.begin(), awaited_.end(), id->get<long long>());
        if (waiting == awaited_.end()) continue;
        awaited_.erase(waiting);
        answers_.emplace_back(id->get<long long>(), std::move(message));
    }
    return true;
}

nlohmann::json Client::wait(long long id) {
    std::vector<long long> ids{id};
    return waitAny(ids).second;
}

std::pair<long long, nlohmann::json> Client::waitAny(std::vector<long long>& ids) {
    auto until = deadline();
    for (;;) {
        for (auto it = answers_.begin(); it != answers_.end(); ++it) {
            auto wanted = std::find(ids.begin(), ids.end(), it->first);
            if (wanted == ids.end()) continue;
            ids.erase(wanted);
            auto answer = std::move(*it);
            answers_.erase(it);
            return answer;
        }
        if (!receive(until)) throw TimeoutError("the browser did not answer in time");
    }
}

nlohmann::json Client::resultOf(nlohmann::json answer) {
    if (answer.value("type", "") == "success") {
        auto result = answer.find("result");
        return result != answer.end() ? std::move(*result) : nlohmann::json::object();
    }
    throw ProtocolError(answer.value("error", "unknown error"), answer.value("message", "BiDi error"));
}

nlohmann::json Client::call(const std::string& method, const nlohmann::json& params) {
    return resultOf(wait(send({method, params})));
}

std::vector<nlohmann::json> Client::callAll(const std::vector<Command>& commands) {
    std::vector<long long> ids;
    for (const auto& command : commands) ids.push_back(send(command));
    std::vector<nlohmann::json> answers;
    for (long long id : ids) answers.push_back(wait(id));
    return answers;
}

}  // namespace vesko::bidi
