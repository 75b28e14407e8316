#include "safari/AppleScriptRunner.hpp"
#include "safari/Programs.hpp"
#include "safari/TabOperations.hpp"
#include "web/ViewController.hpp"

namespace vesko {

// Each operation runs on a background work item: the runner blocks it for the
// child's whole life; deliverReply hands the reply to the main queue.

void ViewController::runAppleScriptAndCallback(const std::string& script, const std::string& callbackId) {
    const safari::ScriptOutcome outcome = safari::runAppleScript(script);
    deliverReply(safari::extractionReply(outcome, callbackId));
}

void ViewController::getSafariTabUrls(const std::string& callbackId) {
    const safari::ScriptOutcome outcome = safari::runAppleScript(std::string(safari::tabListProgram()));
    deliverReply(safari::tabListReply(outcome, callbackId));
}

void ViewController::extractAllSafariTabs(const std::string& callbackId) {
    const auto runner = safari::scriptRunnerPath();
    deliverReply(safari::extractAllTabs(
        [&runner](const std::string& script) { return safari::runAppleScript(runner, script); }, callbackId));
}

}  // namespace vesko
