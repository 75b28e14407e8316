#pragma once
// Runs tests/net/proxy_test_server.py as a child process on a free port of
// 127.0.0.1 and stops it, by its process id, when the object goes away.

#include "tests/support/ChildProcess.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace vesko::testing {

class ProxyTestServer {
public:
    ProxyTestServer() {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        ChildOptions options;
        options.standardOutput = out[1];
        std::string error;
        const bool started = server_.start({"python3", VESKO_PROXY_TEST_SERVER}, options, &error);
        ::close(out[1]);
        if (!started) {
            ::close(out[0]);
            throw std::runtime_error("cannot start the test server: " + error);
        }
        // The server binds port 0 and prints the port it got.
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        try {
            port_ = std::stoi(line);
        } catch (...) {
            throw std::runtime_error("the test server did not report its port");
        }
    }
    ProxyTestServer(const ProxyTestServer&) = delete;
    ProxyTestServer& operator=(const ProxyTestServer&) = delete;

    int port() const { return port_; }

    // CURLOPT_CONNECT_TO entry that sends any port of `host` to this server.
    std::string connectTo(const std::string& host) const {
        return host + "::127.0.0.1:" + std::to_string(port_);
    }

private:
    ChildProcess server_;
    int port_ = 0;
};

}  // namespace vesko::testing
