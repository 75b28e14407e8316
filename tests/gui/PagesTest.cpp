// The shipped pages in a real web view, with the test playing the native
// side: the bridge script's requests and callback ids, and the fetch and
// batch screens showing what comes back.
#include "tests/gui/GuiHarness.hpp"

#include "web/Reply.hpp"

#include <gtk/gtk.h>

#include <gtest/gtest.h>

#include <regex>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;

// Plays the native side: records requests, and reports finished loads.
class NativeSide final : public platform::ScriptMessageHandler, public platform::NavigationDelegate {
public:
    std::vector<nlohmann::json> requests;
    int loads = 0;
    void userContentController(platform::UserContentController&, const platform::ScriptMessage& message) override {
        requests.push_back(message.body);
    }
    void webViewDidFinishNavigation(platform::WebView&) override { ++loads; }

    std::vector<nlohmann::json> withAction(const std::string& action) const {
        std::vector<nlohmann::json> found;
        for (const auto& r : requests)
            if (r.is_object() && r.value("action", "") == action) found.push_back(r);
        return found;
    }
};

class Pages : public ::testing::Test {
protected:
    // The pages keep their library and settings in the web view's storage:
    // a home folder of the tests' own holds it.
    static void SetUpTestSuite() { home = new TemporaryHome; }
    static void TearDownTestSuite() {
        delete home;
        home = nullptr;
    }
    static inline TemporaryHome* home = nullptr;

    void SetUp() override {
        desktop();  // the display and the desktop layer
        window = gtk_offscreen_window_new();
        gtk_window_set_default_size(GTK_WINDOW(window), 1000, 700);
        view = platform::gtk::makeWebView();
        resources = VESKO_BUILT_RESOURCES;
        view->setAllowedNavigationFolder(resources / "pages");
        gtk_container_add(GTK_CONTAINER(window), view->widget());
        gtk_widget_show_all(window);
        view->setNavigationDelegate(&native);
        view->userContentController().addScriptMessageHandler(&native, "vesko");
        view->addObserverMessageHandler("probe", [this](const nlohmann::json& body) { probes.push_back(body); });
    }
    void TearDown() override {
        gtk_container_remove(GTK_CONTAINER(window), view->widget());
        view.reset();
        gtk_widget_destroy(window);
    }

    void load(const std::string& page) {
        const int before = native.loads;
        view->loadFileURL(resources / "pages" / page, resources);
        ASSERT_TRUE(waitUntil([&] { return native.loads > before; })) << page;
    }

    // Evaluates `expression` in the page and returns its value (as JSON).
    nlohmann::json inspect(const std::string& expression) {
        const auto before = probes.size();
        view->evaluateJavaScript("window.webkit.messageHandlers.probe.postMessage({value: (" + expression + ")})");
        if (!waitUntil([&] { return probes.size() > before; }, 5s)) return "(no answer)";
        return probes.back()["value"];
    }

    // Waits for the page's next request with `action`.
    nlohmann::json nextRequest(const std::string& action, std::size_t seen) {
        waitUntil([&] { return native.withAction(action).size() > seen; }, 5s);
        auto list = native.withAction(action);
        return list.size() > seen ? list[seen] : nlohmann::json();
    }

    GtkWidget* window = nullptr;
    std::shared_ptr<platform::gtk::DesktopWebView> view;
    std::filesystem::path resources;
    NativeSide native;
    std::vector<nlohmann::json> probes;
};

const std::regex kSafeId("^[A-Za-z0-9_]+$");

nlohmann::json article(const std::string& title) {
    return {{"title", title},
            {"publication", "The Daily Sample"},
            {"url", "http://127.0.0.1:8000/article.html"},
            {"url_date", "2026-12-01"},
            {"raw_text", "First paragraph with \"quotes\" and a backslash \\ and it's fine.\nSecond line."},
            {"raw_html", "<p>First</p>"},
            {"head_html", ""},
            {"header_html", ""}};
}

TEST_F(Pages, EveryScreenLoadsItsScriptsAndTheBridge) {
    for (const char* page : {"main.html", "index.html", "batch.html", "export.html", "settings.html", "setup.html"}) {
        SCOPED_TRACE(page);
        load(page);
        // The bridge is in place as soon as the page reports its load, before
        // the page's modules have necessarily run.
        EXPECT_EQ(inspect("typeof window.Bridge === 'object' && typeof Bridge.call"), "function");
        EXPECT_EQ(inspect("typeof handleBridgeAction"), "function");
        // The navigation bar is built by the shared module: every screen links to every other.
        ASSERT_TRUE(waitUntil([&] { return inspect("document.querySelectorAll('nav.topbar a').length") == 6; }, 5s));
    }
}

TEST_F(Pages, FetchShowsTheArticleOrTheError) {
    load("index.html");
    view->evaluateJavaScript("handleBridgeAction('fetch')");
    auto request = nextRequest("extract-tab", 0);
    ASSERT_TRUE(request.is_object());
    const std::string id = request.value("callbackId", "");
    EXPECT_TRUE(std::regex_match(id, kSafeId)) << id;

    view->evaluateJavaScript(reply::resolveParsed(id, article("A Sample's \"Headline\"").dump()));
    ASSERT_TRUE(waitUntil([&] { return inspect("document.getElementById('status').className") == "status ok"; }, 5s))
        << inspect("document.getElementById('status').textContent");
    EXPECT_EQ(inspect("document.querySelector('#meta dd').textContent"), "A Sample's \"Headline\"");
    EXPECT_EQ(inspect("document.querySelector('#meta .url').textContent"), "http://127.0.0.1:8000/article.html");
    EXPECT_EQ(inspect("document.getElementById('article').srcdoc.includes('First')"), true);
    EXPECT_EQ(inspect("Bridge.pendingCount"), 0);
    // The finished fetch badges the dock.
    auto notice = nextRequest("notify-complete", 0);
    EXPECT_EQ(notice.value("badge", ""), "1");

    // A failure shows the message for the user, and a second fetch makes a new id.
    view->evaluateJavaScript("handleBridgeAction('fetch')");
    auto second = nextRequest("extract-tab", 1);
    const std::string secondId = second.value("callbackId", "");
    EXPECT_NE(secondId, id);
    const std::string message = "Safari isn\u2019t running. Open it and try again.";
    view->evaluateJavaScript(reply::rejectMessage(secondId, message, reply::MessageEscaping::Message));
    ASSERT_TRUE(waitUntil([&] { return inspect("document.getElementById('status').className") == "status error"; }, 5s));
    EXPECT_EQ(inspect("document.getElementById('status').textContent"), message);
    // The article shown before stays.
    EXPECT_EQ(inspect("document.querySelector('#meta dd').textContent"), "A Sample's \"Headline\"");

    // Unknown page actions and stray replies are ignored.
    view->evaluateJavaScript("handleBridgeAction('something-else'); Bridge._resolve('nobody', 1)");
    pump(300ms);
    EXPECT_EQ(native.withAction("extract-tab").size(), 2u);
}

TEST_F(Pages, BatchExtractsTheTickedTabsOneByOneUntilCancelled) {
    load("batch.html");
    auto list = nextRequest("get-tab-urls", 0);
    ASSERT_TRUE(list.is_object());
    nlohmann::json tabs = nlohmann::json::array();
    for (const char* name : {"one", "two", "three", "four"})
        tabs.push_back({{"url", std::string("http://127.0.0.1:8000/") + name + ".html"}, {"title", name}});
    view->evaluateJavaScript(reply::resolveParsed(list.value("callbackId", ""), tabs.dump()));
    ASSERT_TRUE(waitUntil([&] { return inspect("document.querySelectorAll('#tabs tr').length") == 4; }, 5s));
    const std::string states = "[...document.querySelectorAll('#tabs td.state')].map(n => n.className.slice(6))";
    const std::string progress = "document.getElementById('progress-text').textContent";

    view->evaluateJavaScript("document.getElementById('extract').click()");
    // One tab at a time, by its address; each row says how it went.
    auto first = nextRequest("extract-tab-by-url", 0);
    EXPECT_EQ(first.value("url", ""), "http://127.0.0.1:8000/one.html");
    EXPECT_EQ(inspect(states), nlohmann::json({"working", "waiting", "waiting", "waiting"}));
    EXPECT_EQ(inspect(progress), "0 of 4");
    view->evaluateJavaScript(reply::resolveParsed(first.value("callbackId", ""), article("One").dump()));
    auto second = nextRequest("extract-tab-by-url", 1);
    EXPECT_EQ(inspect(progress), "1 of 4");
    const std::string message = "No tab of the browser shows that address.";
    view->evaluateJavaScript(reply::rejectMessage(second.value("callbackId", ""), message, reply::MessageEscaping::Message));
    // Cancel while the third is in hand: it finishes, the fourth is never asked for.
    auto third = nextRequest("extract-tab-by-url", 2);
    view->evaluateJavaScript("document.getElementById('cancel').click()");
    view->evaluateJavaScript(reply::resolveParsed(third.value("callbackId", ""), article("Three").dump()));
    ASSERT_TRUE(waitUntil([&] { return inspect("document.getElementById('status').textContent") ==
                                       "2 of 4 articles, 1 failed, 1 cancelled."; }, 5s))
        << inspect("document.getElementById('status').textContent");
    EXPECT_EQ(inspect(states), nlohmann::json({"done", "failed", "done", "cancelled"}));
    EXPECT_EQ(inspect("document.querySelectorAll('#tabs td.state')[1].textContent"), "Failed" + message);
    EXPECT_EQ(inspect(progress), "4 of 4");
    pump(200ms);
    EXPECT_EQ(native.withAction("extract-tab-by-url").size(), 3u);
    EXPECT_EQ(inspect("document.getElementById('cancel').hidden"), true);
    auto notice = nextRequest("notify-complete", 0);
    EXPECT_EQ(notice.value("badge", ""), "2");

    // Fifty tabs are listed at once.
    view->evaluateJavaScript("document.getElementById('refresh').click()");
    auto again = nextRequest("get-tab-urls", 1);
    nlohmann::json many = nlohmann::json::array();
    for (int i = 0; i < 50; ++i) many.push_back({{"url", "http://127.0.0.1:8000/" + std::to_string(i)}, {"title", "Tab"}});
    view->evaluateJavaScript(reply::resolveParsed(again.value("callbackId", ""), many.dump()));
    EXPECT_TRUE(waitUntil([&] { return inspect("document.querySelectorAll('#tabs tr').length") == 50; }, 2s));
    EXPECT_EQ(inspect("document.getElementById('extract').textContent"), "Extract selected (50)");
}

}  // namespace
}  // namespace vesko::gui
