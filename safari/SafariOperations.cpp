#include "web/Reply.hpp"
#include "web/ViewController.hpp"

namespace vesko {

// Placeholders until the tab operations land.
void ViewController::runAppleScriptAndCallback(const std::string&, const std::string& callbackId) {
    deliverReply(reply::rejectMessage(callbackId, "Not available yet", reply::MessageEscaping::Message));
}
void ViewController::getSafariTabUrls(const std::string& callbackId) { runAppleScriptAndCallback("", callbackId); }
void ViewController::extractAllSafariTabs(const std::string& callbackId) { runAppleScriptAndCallback("", callbackId); }

}  // namespace vesko
