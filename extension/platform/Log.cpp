#include "extension/platform/Log.hpp"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>

namespace extension::platform::log {

namespace {

std::mutex sinkMutex;
std::atomic<bool> toStandardError{false};

Sink& sink() {
    static Sink current;
    return current;
}

void openSystemLog() {
    static std::once_flag once;
    std::call_once(once, [] { openlog("vesko-extension", LOG_PID, LOG_USER); });
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;
        }
    }
}

}  // namespace

std::string systemLogForm(std::string_view line, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(line.size(), maxBytes) + 32);
    std::size_t i = 0;
    for (; i < line.size() && out.size() < maxBytes; ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X", c);
                out += escape;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    if (i < line.size()) {
        // Never end inside a UTF-8 sequence: drop a last sequence that lacks
        // some of its continuation bytes.
        std::size_t start = out.size();
        while (start > 0 && (static_cast<unsigned char>(out[start - 1]) & 0xC0) == 0x80) --start;
        if (start > 0 && static_cast<unsigned char>(out[start - 1]) >= 0xC0) {
            unsigned char lead = static_cast<unsigned char>(out[start - 1]);
            std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            std::size_t have = out.size() - (start - 1);
            if (have < need) {
                i -= have;
                out.resize(start - 1);
            }
        }
        std::size_t rest = line.size() - i;
        out += "… (" + std::to_string(rest) + (rest == 1 ? " more byte)" : " more bytes)");
    }
    return out;
}

void write(const std::string& line) {
    {
        std::lock_guard lock(sinkMutex);
        if (sink()) {
            sink()(line);
            return;
        }
    }
    std::string safe = systemLogForm(line);
    if (toStandardError.load()) {
        writeAll(STDERR_FILENO, "vesko-extension: " + safe + "\n");
        return;
    }
    openSystemLog();
    syslog(LOG_NOTICE, "%s", safe.c_str());
}

Sink setSink(Sink next) {
    std::lock_guard lock(sinkMutex);
    Sink previous = std::move(sink());
    sink() = std::move(next);
    return previous;
}

void useStandardError(bool enabled) { toStandardError.store(enabled); }

}  // namespace extension::platform::log
