// Opening addresses through GIO: the desktop's default handler for each scheme.
#include "platform/Workspace.hpp"
#include "platform/gtk/DesktopInternal.hpp"

#include <gio/gio.h>

namespace platform::gtk {
namespace {

class GioWorkspace final : public Workspace {
public:
    void openURL(const std::string& url) override {
        GError* error = nullptr;
        if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) g_clear_error(&error);
    }
};

}  // namespace

std::shared_ptr<Workspace> makeWorkspace() { return std::make_shared<GioWorkspace>(); }

}  // namespace platform::gtk
