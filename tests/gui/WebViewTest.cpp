// The web view layer on WebKitGTK: scripts evaluated together, and a web view
// object that goes while its widget lives on (a container still holds it).
#include "tests/gui/GuiHarness.hpp"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <gtest/gtest.h>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;

struct CountingHandler final : platform::ScriptMessageHandler {
    int messages = 0;
    void userContentController(platform::UserContentController&, const platform::ScriptMessage&) override {
        ++messages;
    }
};

TEST(WebView, ScriptsEvaluatedTogetherRunInOrderAndOneThatFailsStopsNoOther) {
    auto& d = desktop();
    d.ui.controller->navigateToPage("plain.html", std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "plain.html") >= 1; }, 30s));
    d.probe.clear();
    for (const char* script : {"probeReport({event: 'n', n: 1})", "throw new Error('failed')", "noSuchFunction()",
                               "probeReport({event: 'n', n: 2}) // a comment to the end", "probeReport({event: 'n', n: 3})"})
        d.ui.webView->evaluateJavaScript(script);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("n") == 3; }));
    std::vector<int> order;
    for (const auto& event : d.probe.of("n")) order.push_back(event["n"]);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(WebViewLifetime, NoHandlerOutlivesTheWebView) {
    desktop();
    GtkWidget* window = gtk_offscreen_window_new();
    auto view = platform::gtk::makeWebView();
    CountingHandler handler;
    int observed = 0;
    view->userContentController().addScriptMessageHandler(&handler, "vesko");
    view->addObserverMessageHandler("probe", [&](const nlohmann::json&) { ++observed; });
    gtk_container_add(GTK_CONTAINER(window), view->widget());
    gtk_widget_show_all(window);
    const std::filesystem::path resources = VESKO_GUI_TEST_RESOURCES;
    view->loadFileURL(resources / "pages" / "plain.html", resources);
    // The page's load report; a first page may wait seconds for its web process on a busy machine.
    ASSERT_TRUE(waitUntil([&] { return observed > 0; }, 30s));

    auto* widget = WEBKIT_WEB_VIEW(view->widget());
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(widget);
    view.reset();
    for (const char* name : {"vesko", "probe"}) {
        guint signal = 0;
        GQuark detail = 0;
        ASSERT_TRUE(g_signal_parse_name((std::string("script-message-received::") + name).c_str(),
                                        WEBKIT_TYPE_USER_CONTENT_MANAGER, &signal, &detail, FALSE));
        EXPECT_FALSE(g_signal_has_handler_pending(manager, signal, detail, FALSE)) << name;
    }
    // The page goes on posting; nobody hears it, and nothing breaks.
    const int before = observed;
    webkit_web_view_evaluate_javascript(widget,
                                        "for (const h of ['vesko', 'probe']) try { "
                                        "window.webkit.messageHandlers[h].postMessage({action: 'get-tab-urls'}) } "
                                        "catch (e) {}",
                                        -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    pump(300ms);
    EXPECT_EQ(handler.messages, 0);
    EXPECT_EQ(observed, before);
    gtk_widget_destroy(window);
}

}  // namespace
}  // namespace vesko::gui
