#pragma once
// App-extension support: the extension context a request arrives in, its
// extension items, and the two message keys. Shaped after what an extension's
// principal class expects of the system; on this platform the context is
// filled from a native-messaging frame (see NativeMessaging.hpp).

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "extension/platform/Value.hpp"

namespace extension::platform {

// Keys of an extension item's user info. Their values are this platform's;
// code uses them only as dictionary keys.
inline constexpr const char* SFExtensionMessageKey = "message";
inline constexpr const char* SFExtensionProfileKey = "profileIdentifier";

// One item of a request or reply: a user-info dictionary, possibly absent.
class ExtensionItem {
public:
    ExtensionItem() = default;
    explicit ExtensionItem(Dictionary userInfo) : userInfo_(std::move(userInfo)) {}

    const std::optional<Dictionary>& userInfo() const { return userInfo_; }
    std::optional<Dictionary>& userInfo() { return userInfo_; }
    void setUserInfo(Dictionary userInfo) { userInfo_ = std::move(userInfo); }

private:
    std::optional<Dictionary> userInfo_;
};

// An input item that is not an extension item (an attachment, say). Only its
// kind is known to the receiver.
struct ForeignItem {
    std::string kind;
};

using InputItem = std::variant<ExtensionItem, ForeignItem>;

// The context of one request: its input items in, the reply items out.
class ExtensionContext {
public:
    using CompletionHandler = std::function<void(bool expired)>;
    using ReplySink = std::function<void(std::vector<ExtensionItem>)>;

    ExtensionContext() = default;
    explicit ExtensionContext(std::vector<InputItem> inputItems, ReplySink onComplete = nullptr)
        : inputItems_(std::move(inputItems)), onComplete_(std::move(onComplete)) {}

    const std::vector<InputItem>& inputItems() const { return inputItems_; }

    // Ends the request with the given reply items. A request completes once;
    // later calls are ignored. The handler, if any, runs after the items were
    // handed on, with expired false.
    void completeRequestReturningItems(std::vector<ExtensionItem> items,
                                       CompletionHandler completionHandler = nullptr);

    bool isCompleted() const { return completed_; }
    // The items the request was completed with (empty until then).
    const std::vector<ExtensionItem>& returnedItems() const { return returnedItems_; }

private:
    std::vector<InputItem> inputItems_;
    ReplySink onComplete_;
    bool completed_ = false;
    std::vector<ExtensionItem> returnedItems_;
};

// What the principal class of an extension provides: one call per request.
class ExtensionRequestHandling {
public:
    virtual ~ExtensionRequestHandling() = default;
    virtual void beginRequestWithExtensionContext(ExtensionContext& context) = 0;
};

}  // namespace extension::platform
