#include "platform/Dispatch.hpp"
#include "platform/Dock.hpp"
#include "web/ViewController.hpp"

#include <chrono>

namespace vesko {

void ViewController::notifyComplete(const std::string& badge) {
    auto& dock = platform::Dock::shared();
    dock.requestUserAttention(platform::AttentionRequest::Informational);
    dock.setBadgeLabel(badge);
    // Each notice removes the badge five seconds after itself, whatever shows then.
    platform::dispatch::mainAfter(std::chrono::seconds(5),
                                  [] { platform::Dock::shared().setBadgeLabel(std::nullopt); });
}

}  // namespace vesko
