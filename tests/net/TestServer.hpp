#pragma once
// Runs tests/net/proxy_test_server.py as a child process on a free port of
// 127.0.0.1 and stops it, by its process id, when the object goes away.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

extern char** environ;

namespace vesko::testing {

class ProxyTestServer {
public:
    ProxyTestServer() {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const char* argv[] = {"python3", VESKO_PROXY_TEST_SERVER, nullptr};
        const int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (spawned != 0) {
            ::close(out[0]);
            throw std::runtime_error("cannot start the test server");
        }
        // The server binds port 0 and prints the port it got.
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        try {
            port_ = std::stoi(line);
        } catch (...) {
            stop();
            throw std::runtime_error("the test server did not report its port");
        }
    }
    ~ProxyTestServer() { stop(); }
    ProxyTestServer(const ProxyTestServer&) = delete;
    ProxyTestServer& operator=(const ProxyTestServer&) = delete;

    int port() const { return port_; }

    // CURLOPT_CONNECT_TO entry that sends any port of `host` to this server.
    std::string connectTo(const std::string& host) const {
        return host + "::127.0.0.1:" + std::to_string(port_);
    }

private:
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace vesko::testing
