#include "platform/Workspace.hpp"

#include <mutex>

namespace platform {
namespace {

// Without a window nothing can ask to open an address; the desktop layer
// installs the workspace that hands addresses to the desktop's handlers.
class NoWorkspace final : public Workspace {
public:
    void openURL(const std::string&) override {}
};

std::mutex mutex;
std::shared_ptr<Workspace>& current() {
    static std::shared_ptr<Workspace> workspace;
    return workspace;
}

}  // namespace

Workspace& Workspace::shared() {
    std::lock_guard lock(mutex);
    if (!current()) current() = std::make_shared<NoWorkspace>();
    return *current();
}

void Workspace::setShared(std::shared_ptr<Workspace> workspace) {
    std::lock_guard lock(mutex);
    current() = std::move(workspace);
}

}  // namespace platform
