#include "extension/SafariWebExtensionHandler.hpp"

#include <optional>
#include <variant>

#include "extension/platform/Log.hpp"
#include "extension/platform/SystemVersion.hpp"

namespace Vesko_Extension {

using namespace extension::platform;

void SafariWebExtensionHandler::beginRequestWithExtensionContext(ExtensionContext& context) {
    const ExtensionItem* request = nullptr;
    if (!context.inputItems().empty()) {
        request = std::get_if<ExtensionItem>(&context.inputItems().front());
    }
    const Dictionary* userInfo =
        request && request->userInfo() ? &*request->userInfo() : nullptr;

    std::optional<Uuid> profile;
    const char* profileKey = processInfo::isOperatingSystemAtLeastVersion({14, 0, 0})
                                 ? SFExtensionProfileKey
                                 : "profile";
    if (userInfo) {
        auto found = userInfo->find(profileKey);
        if (found != userInfo->end()) {
            if (const Uuid* uuid = found->second.getIf<Uuid>()) profile = *uuid;
        }
    }

    const Value* message = nullptr;
    if (userInfo) {
        auto found = userInfo->find(SFExtensionMessageKey);
        if (found != userInfo->end()) message = &found->second;
    }

    log::write("Received message from browser.runtime.sendNativeMessage: " +
               (message ? message->description() : std::string("nil")) +
               " (profile: " + (profile ? profile->uuidString() : std::string("none")) + ")");

    Dictionary echo;
    echo.emplace("echo", message ? *message : Value());
    Dictionary replyInfo;
    replyInfo.emplace(SFExtensionMessageKey, Value(std::move(echo)));
    ExtensionItem response;
    response.setUserInfo(std::move(replyInfo));

    std::vector<ExtensionItem> items;
    items.push_back(std::move(response));
    context.completeRequestReturningItems(std::move(items), nullptr);
}

}  // namespace Vesko_Extension
