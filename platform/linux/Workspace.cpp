#include "platform/Workspace.hpp"

#include <gio/gio.h>

#include <mutex>

namespace platform {
namespace {

class GioWorkspace final : public Workspace {
public:
    void openURL(const std::string& url) override {
        GError* error = nullptr;
        if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) g_clear_error(&error);
    }
};

std::mutex mutex;
std::shared_ptr<Workspace>& current() {
    static std::shared_ptr<Workspace> workspace;
    return workspace;
}

}  // namespace

Workspace& Workspace::shared() {
    std::lock_guard lock(mutex);
    if (!current()) current() = std::make_shared<GioWorkspace>();
    return *current();
}

void Workspace::setShared(std::shared_ptr<Workspace> workspace) {
    std::lock_guard lock(mutex);
    current() = std::move(workspace);
}

}  // namespace platform
