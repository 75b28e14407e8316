#include "extension/platform/ExtensionContext.hpp"

namespace extension::platform {

void ExtensionContext::completeRequestReturningItems(std::vector<ExtensionItem> items,
                                                     CompletionHandler completionHandler) {
    if (completed_) return;
    completed_ = true;
    if (onComplete_) {
        onComplete_(std::move(items));
    } else {
        returnedItems_ = std::move(items);
    }
    if (completionHandler) completionHandler(false);
}

}  // namespace extension::platform
