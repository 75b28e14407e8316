#include "platform/Log.hpp"

#include <syslog.h>

#include <mutex>

namespace platform::log {
namespace {
std::mutex sinkMutex;
Sink& sink() {
    static Sink current;
    return current;
}
}  // namespace

void write(const std::string& line) {
    {
        std::lock_guard lock(sinkMutex);
        if (sink()) {
            sink()(line);
            return;
        }
    }
    syslog(LOG_NOTICE, "%s", line.c_str());
}

Sink setSink(Sink next) {
    std::lock_guard lock(sinkMutex);
    Sink previous = std::move(sink());
    sink() = std::move(next);
    return previous;
}

}  // namespace platform::log
