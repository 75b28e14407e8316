// The controller as web host: set-up, page switching, the one-shot page
// action, new windows, panels and the completion notice.

#include "platform/Alert.hpp"
#include "platform/Dock.hpp"
#include "platform/Workspace.hpp"
#include "tests/support/RecordingWebView.hpp"
#include "web/ViewController.hpp"

#include <gtest/gtest.h>

#include <chrono>

using vesko::testing::RecordingWebView;

namespace {

const std::string kPush = "if(typeof handleBridgeAction==='function') handleBridgeAction(";

class Host : public ::testing::Test {
protected:
    void SetUp() override {
        controller->webView = webView;
        controller->viewDidLoad();
    }
    std::shared_ptr<RecordingWebView> webView = std::make_shared<RecordingWebView>();
    std::shared_ptr<vesko::ViewController> controller = std::make_shared<vesko::ViewController>("/app/resources");
};

}  // namespace

TEST_F(Host, SetUpWiresTheWebViewAndLoadsTheStartPage) {
    EXPECT_EQ(webView->navigationDelegate(), controller.get());
    EXPECT_EQ(webView->uiDelegate(), controller.get());
    EXPECT_EQ(webView->handlers.at("vesko"), controller.get());
    EXPECT_TRUE(webView->backForwardGestures);
    ASSERT_EQ(webView->loads.size(), 1u);
    EXPECT_EQ(webView->loads[0].file, "/app/resources/pages/main.html");
    EXPECT_EQ(webView->loads[0].readAccess, "/app/resources");
    webView->finishNavigation();
    EXPECT_TRUE(webView->scripts.empty());
}

TEST_F(Host, MenuCommandsLoadTheirPages) {
    struct Case {
        void (vesko::ViewController::*command)();
        const char* page;
        std::optional<std::string> action;
    };
    const Case cases[] = {
        {&vesko::ViewController::fetchCurrentTab, "index.html", "fetch"},
        {&vesko::ViewController::openBatch, "batch.html", std::nullopt},
        {&vesko::ViewController::openVavadavu, "export.html", std::nullopt},
        {&vesko::ViewController::openSettings, "settings.html", std::nullopt},
        {&vesko::ViewController::openSetup, "setup.html", std::nullopt},
        {&vesko::ViewController::goHome, "main.html", std::nullopt},
    };
    for (const auto& c : cases) {
        ((*controller).*c.command)();
        EXPECT_EQ(webView->loads.back().file, std::string("/app/resources/pages/") + c.page);
        EXPECT_EQ(webView->loads.back().readAccess, "/app/resources");
        EXPECT_EQ(controller->pendingAction, c.action);
    }
}

TEST_F(Host, PageActionIsPushedOnceAfterTheLoadFinishes) {
    controller->fetchCurrentTab();
    EXPECT_TRUE(webView->scripts.empty());
    webView->finishNavigation();
    ASSERT_EQ(webView->scripts.size(), 1u);
    EXPECT_EQ(webView->scripts[0], kPush + "'fetch')");
    EXPECT_FALSE(controller->pendingAction);
    webView->finishNavigation();  // a reload or in-page navigation
    EXPECT_EQ(webView->scripts.size(), 1u);
}

TEST_F(Host, ASecondNavigationBeforeTheFirstFinishesReplacesTheAction) {
    controller->navigateToPage("index.html", "fetch");
    controller->navigateToPage("batch.html", std::nullopt);
    webView->finishNavigation();
    webView->finishNavigation();
    EXPECT_TRUE(webView->scripts.empty());
}

TEST_F(Host, ActionTextIsQuoteEscaped) {
    controller->navigateToPage("batch.html", "it's");
    webView->finishNavigation();
    EXPECT_EQ(webView->scripts.at(0), kPush + "'it\\'s')");
}

namespace {

struct RecordingWorkspace : platform::Workspace {
    std::vector<std::string> opened;
    void openURL(const std::string& url) override { opened.push_back(url); }
};

struct ScriptedPresenter : platform::AlertPresenter {
    int answer = platform::kAlertFirstButtonReturn;
    std::vector<platform::Alert> shown;
    int runModal(const platform::Alert& alert) override {
        shown.push_back(alert);
        return answer;
    }
};

}  // namespace

TEST_F(Host, NewWindowRequestsGoToTheDefaultBrowser) {
    auto workspace = std::make_shared<RecordingWorkspace>();
    platform::Workspace::setShared(workspace);
    EXPECT_EQ(controller->webViewCreateWebView(*webView, {"https://example.org/a"}), nullptr);
    EXPECT_EQ(controller->webViewCreateWebView(*webView, {std::nullopt}), nullptr);
    // Only web and mail addresses leave the window; other schemes go nowhere.
    for (const char* url : {"HTTP://example.org/b", "mailto:someone@example.org", "file:///etc/passwd",
                            "data:text/html,<p>x</p>", "javascript:alert(1)", "smb://host/share", "ftp://example.org/",
                            "vesko://app/pages/main.html", "https//example.org", " https://example.org/"})
        EXPECT_EQ(controller->webViewCreateWebView(*webView, {std::string(url)}), nullptr);
    platform::Workspace::setShared(nullptr);
    EXPECT_EQ(workspace->opened, (std::vector<std::string>{"https://example.org/a", "HTTP://example.org/b",
                                                           "mailto:someone@example.org"}));
    EXPECT_EQ(webView->loads.size(), 1u);  // the page stays where it is
}

TEST_F(Host, AlertAndConfirmPanels) {
    auto presenter = std::make_shared<ScriptedPresenter>();
    platform::AlertPresenter::setShared(presenter);

    bool dismissed = false;
    controller->webViewRunJavaScriptAlertPanel(*webView, "Saved.", [&] { dismissed = true; });
    EXPECT_TRUE(dismissed);
    ASSERT_EQ(presenter->shown.size(), 1u);
    EXPECT_EQ(presenter->shown[0].messageText, "Saved.");
    EXPECT_EQ(presenter->shown[0].buttons, std::vector<std::string>{"OK"});

    std::vector<bool> answers;
    for (int response : {platform::kAlertFirstButtonReturn, platform::kAlertFirstButtonReturn + 1,
                         platform::kModalResponseCancel, platform::kModalResponseAbort}) {
        presenter->answer = response;
        controller->webViewRunJavaScriptConfirmPanel(*webView, "Sure?", [&](bool ok) { answers.push_back(ok); });
    }
    EXPECT_EQ(answers, (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(presenter->shown.back().buttons, (std::vector<std::string>{"OK", "Cancel"}));
    platform::AlertPresenter::setShared(nullptr);
}

namespace {

struct TimedDock : platform::Dock {
    using Clock = std::chrono::steady_clock;
    std::vector<std::pair<Clock::time_point, std::optional<std::string>>> labels;
    std::vector<platform::AttentionRequest> attention;
    void requestUserAttention(platform::AttentionRequest kind) override { attention.push_back(kind); }
    void setBadgeLabel(const std::optional<std::string>& label) override { labels.emplace_back(Clock::now(), label); }
    std::optional<std::string> badgeLabel() const override {
        return labels.empty() ? std::nullopt : labels.back().second;
    }
};

}  // namespace

TEST_F(Host, EachNoticeRemovesTheBadgeFiveSecondsAfterItself) {
    auto dock = std::make_shared<TimedDock>();
    platform::Dock::setShared(dock);
    const auto start = TimedDock::Clock::now();
    controller->notifyComplete("1");
    vesko::testing::runMainUntil([] { return false; }, 2000);
    controller->notifyComplete("2");
    ASSERT_TRUE(vesko::testing::runMainUntil([&] { return dock->labels.size() == 4; }, 8000));
    platform::Dock::setShared(nullptr);

    EXPECT_EQ(dock->attention, (std::vector{platform::AttentionRequest::Informational,
                                            platform::AttentionRequest::Informational}));
    auto at = [&](int i) { return std::chrono::duration<double>(dock->labels[i].first - start).count(); };
    EXPECT_EQ(dock->labels[0].second, "1");
    EXPECT_EQ(dock->labels[1].second, "2");
    EXPECT_EQ(dock->labels[2].second, std::nullopt);  // the first notice's removal, 3 s after the second
    EXPECT_EQ(dock->labels[3].second, std::nullopt);
    // Never early; late only by what a busy machine adds.
    EXPECT_GE(at(2), 4.99);
    EXPECT_LT(at(2), 6.0);
    EXPECT_GE(at(3), at(1) + 4.99);
    EXPECT_LT(at(3), at(1) + 6.0);
}
