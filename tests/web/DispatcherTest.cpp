// Routing of decoded requests: which operation runs, with which arguments, on
// which queue, and that nothing comes back for dropped requests.

#include "platform/Dispatch.hpp"
#include "safari/Programs.hpp"
#include "tests/support/RecordingWebView.hpp"
#include "web/Reply.hpp"
#include "web/ViewController.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

using nlohmann::json;
using vesko::testing::RecordingWebView;

namespace {

struct Call {
    std::string operation;
    json arguments;
    bool onMainThread;
};

// The recording seam: every operation notes its call and answers at once.
class RecordingController : public vesko::ViewController {
public:
    using ViewController::ViewController;

    std::mutex mutex;
    std::vector<Call> calls;

    void runAppleScriptAndCallback(const std::string& script, const std::string& id) override {
        record("runAppleScriptAndCallback", {script, id});
    }
    void getSafariTabUrls(const std::string& id) override { record("getSafariTabUrls", {id}); }
    void extractAllSafariTabs(const std::string& id) override { record("extractAllSafariTabs", {id}); }
    void proxyFetch(const std::string& url, const std::string& method, const vesko::bridge::TextMap& headers,
                    const std::optional<std::string>& body, const std::string& id) override {
        record("proxyFetch", {url, method, headers, body ? json(*body) : json(nullptr), id});
    }
    void saveFile(const std::string& base64, const std::string& filename, const std::string& id) override {
        record("saveFile", {base64, filename, id});
    }
    void saveFixture(const std::string& text, const std::string& filename, const std::string& id) override {
        record("saveFixture", {text, filename, id});
    }
    void notifyComplete(const std::string& badge) override {
        std::lock_guard lock(mutex);
        calls.push_back({"notifyComplete", {badge}, isMain()});
    }

    static bool isMain() { return std::this_thread::get_id() == mainThread; }
    static inline std::thread::id mainThread = std::this_thread::get_id();

private:
    void record(const char* operation, json arguments) {
        const std::string id = arguments.back().get<std::string>();
        {
            std::lock_guard lock(mutex);
            calls.push_back({operation, std::move(arguments), isMain()});
        }
        deliverReply(vesko::reply::resolveText(id, operation));
    }
};

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        RecordingController::mainThread = std::this_thread::get_id();
        controller = std::make_shared<RecordingController>("/res");
        controller->webView = webView;
        controller->viewDidLoad();
        webView->finishNavigation();  // the start page
    }

    // Posts `body`, then runs the main queue until every routed request is answered.
    void post(const json& body) {
        webView->post(body);
        ASSERT_TRUE(vesko::testing::runMainUntil([&] { return controller->requestsInFlight() == 0; }));
        vesko::testing::drainMainQueue();
    }

    std::shared_ptr<RecordingWebView> webView = std::make_shared<RecordingWebView>();
    std::shared_ptr<RecordingController> controller;
};

}  // namespace

TEST_F(Dispatcher, BackgroundActionsRunTheirOperationOffTheMainThreadAndAnswerOnce) {
    struct Case {
        json body;
        std::string operation;
        json arguments;
    };
    const Case cases[] = {
        {{{"action", "extract-tab"}, {"callbackId", "a"}},
         "runAppleScriptAndCallback",
         {vesko::safari::buildExtractionScript(std::nullopt, std::nullopt), "a"}},
        {{{"action", "extract-tab-by-url"}, {"callbackId", "b"}, {"url", "https://x.y/"}},
         "runAppleScriptAndCallback",
         {vesko::safari::buildExtractionScript(std::nullopt, "https://x.y/"), "b"}},
        {{{"action", "extract-tab-by-index"}, {"callbackId", "c"}, {"tabIndex", 3}},
         "runAppleScriptAndCallback",
         {vesko::safari::buildExtractionScript(3, std::nullopt), "c"}},
        {{{"action", "get-tab-urls"}, {"callbackId", 7}}, "getSafariTabUrls", {""}},
        {{{"action", "extract-all-tabs"}, {"callbackId", "e"}}, "extractAllSafariTabs", {"e"}},
        {{{"action", "proxy-fetch"}, {"callbackId", "f"}, {"url", "https://h/"}, {"headers", {{"k", "v"}}}, {"body", "x"}},
         "proxyFetch",
         {"https://h/", "GET", {{"k", "v"}}, "x", "f"}},
        {{{"action", "save-file"}, {"callbackId", "g"}, {"base64", "QQ=="}}, "saveFile", {"QQ==", "download", "g"}},
        {{{"action", "save-fixture"}, {"callbackId", "h"}, {"json", "{}"}, {"filename", "f.json"}},
         "saveFixture",
         {"{}", "f.json", "h"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.dump());
        controller->calls.clear();
        webView->scripts.clear();
        post(c.body);
        ASSERT_EQ(controller->calls.size(), 1u);
        EXPECT_EQ(controller->calls[0].operation, c.operation);
        EXPECT_EQ(controller->calls[0].arguments, c.arguments);
        EXPECT_FALSE(controller->calls[0].onMainThread);
        ASSERT_EQ(webView->scripts.size(), 1u);
        EXPECT_EQ(webView->scripts[0], vesko::reply::resolveText(c.arguments.back().get<std::string>(), c.operation));
    }
}

TEST_F(Dispatcher, MainQueueActionsRunAfterTheHandlerReturnsAndSendNoReply) {
    webView->post({{"action", "notify-complete"}, {"badge", "3"}, {"callbackId", "n"}});
    webView->post({{"action", "navigate"}, {"page", "batch.html"}, {"navAction", "fetch"}, {"callbackId", "n"}});
    // Nothing has run yet: the dispatcher only queued the work.
    EXPECT_TRUE(controller->calls.empty());
    EXPECT_EQ(webView->loads.size(), 1u);
    vesko::testing::drainMainQueue();

    ASSERT_EQ(controller->calls.size(), 1u);
    EXPECT_EQ(controller->calls[0].operation, "notifyComplete");
    EXPECT_EQ(controller->calls[0].arguments, json{"3"});
    EXPECT_TRUE(controller->calls[0].onMainThread);
    ASSERT_EQ(webView->loads.size(), 2u);
    EXPECT_EQ(webView->loads[1].file, "/res/pages/batch.html");
    EXPECT_EQ(controller->pendingAction, "fetch");
    EXPECT_EQ(controller->requestsInFlight(), 0);
    EXPECT_TRUE(webView->scripts.empty());
}

TEST_F(Dispatcher, DroppedRequestsDoNothing) {
    for (const json& body : {json("{\"action\":\"extract-tab\"}"), json::object(), json{{"action", "EXTRACT-TAB"}},
                             json{{"action", "navigate"}, {"navAction", "fetch"}}}) {
        webView->post(body);
    }
    vesko::testing::drainMainQueue();
    EXPECT_TRUE(controller->calls.empty());
    EXPECT_TRUE(webView->scripts.empty());
    EXPECT_EQ(webView->loads.size(), 1u);
    EXPECT_EQ(controller->requestsInFlight(), 0);
}

TEST_F(Dispatcher, MessagesToOtherHandlersAreNotOurs) {
    EXPECT_EQ(webView->handlers.count("vesko"), 1u);
    webView->post({{"action", "get-tab-urls"}}, "other");
    vesko::testing::drainMainQueue();
    EXPECT_TRUE(controller->calls.empty());
}

TEST_F(Dispatcher, WorkItemsKeepTheControllerAlive) {
    std::weak_ptr<RecordingController> weak = controller;
    webView->post({{"action", "get-tab-urls"}, {"callbackId", "late"}});
    controller.reset();  // the window goes away while the request is in flight
    ASSERT_TRUE(vesko::testing::runMainUntil([&] { return !webView->scripts.empty(); }));
    EXPECT_EQ(webView->scripts[0], vesko::reply::resolveText("late", "getSafariTabUrls"));
    vesko::testing::drainMainQueue();
    EXPECT_TRUE(vesko::testing::runMainUntil([&] { return weak.expired(); }));
}

// Answers, then lingers until the answer has been evaluated, so the work
// item's reference to the controller is the last one.
class LingeringController : public vesko::ViewController {
public:
    using ViewController::ViewController;
    ~LingeringController() override {
        releasedOnMain = RecordingController::isMain();
        released = true;
    }
    void saveFile(const std::string&, const std::string&, const std::string& id) override {
        deliverReply(vesko::reply::resolveText(id, "saved"));
        std::atomic<bool> answered = false;
        platform::dispatch::mainAsync([&answered] { answered = true; });
        while (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    static inline std::atomic<bool> released = false;
    static inline std::atomic<bool> releasedOnMain = false;
};

TEST(ControllerLifetime, OnlyTheMainThreadReleasesTheController) {
    // The controller owns the web view, whose toolkit objects belong to the main thread.
    RecordingController::mainThread = std::this_thread::get_id();
    auto webView = std::make_shared<RecordingWebView>();
    auto controller = std::make_shared<LingeringController>("/res");
    controller->webView = webView;
    controller->viewDidLoad();
    webView->post({{"action", "save-file"}, {"callbackId", "late"}});
    controller.reset();
    ASSERT_TRUE(vesko::testing::runMainUntil([] { return LingeringController::released.load(); }));
    EXPECT_TRUE(LingeringController::releasedOnMain);
    EXPECT_EQ(webView->scripts, std::vector<std::string>{vesko::reply::resolveText("late", "saved")});
}
