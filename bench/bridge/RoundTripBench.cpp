// Bridge round trips in a real WebKitGTK web view, page to native side and
// back, beside the bare engine measured in the same run.
//
// The bare engine is the least a native bridge on WebKitGTK can be: a
// script-message handler that evaluates the page's resolve at once, in the
// signal callback. Vesko's bridge is the application's own: the web view
// layer, the page scheme, the controller's dispatcher, the background queue,
// the reply channel; each request is a "save-file" whose data is refused at
// once, so no disk is involved.
//
// Each iteration is a batch of 200 round trips started by the page: one at a
// time (each waits for the previous answer), or all in flight together. A
// third figure is the page posting its 200 requests with no answer at all:
// the engine's one-way part, which no native side can go below in flight.
// The figures are medians of 15 repetitions; the ratios compare time per
// batch, so under 1 means faster than the bare engine. Runs under its own Xvfb
// when there is no display.

#include "bench/support/RatioReporter.hpp"
#include "platform/Dispatch.hpp"
#include "platform/gtk/Desktop.hpp"
#include "web/ViewController.hpp"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kTrips = 200;

// The page: a bridge like the shipped one, and a runner that makes `count`
// calls one at a time or all at once, then reports on the "done" handler.
constexpr const char* kPage = R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>bench</title>
<script src="bench.js"></script></head><body></body></html>)";
constexpr const char* kScript = R"(
'use strict';
const pending = new Map();
let next = 0;
window.Bridge = {
  _resolve(id, value) { const p = pending.get(id); if (p) { pending.delete(id); p(value); } },
  _reject(id, message) { const p = pending.get(id); if (p) { pending.delete(id); p(message); } },
};
function call(handler) {
  const id = 'c' + (next++);
  return new Promise((settle) => {
    pending.set(id, settle);
    window.webkit.messageHandlers[handler].postMessage({ action: 'save-file', callbackId: id, base64: '!' });
  });
}
window.postOnly = function (handler, count) {
  for (let i = 0; i < count; ++i) {
    window.webkit.messageHandlers[handler].postMessage({ action: 'save-file', callbackId: 'c' + i, base64: '!' });
  }
  window.webkit.messageHandlers.done.postMessage(count);
};
window.runTrips = async function (handler, count, together) {
  if (together) {
    await Promise.all(Array.from({ length: count }, () => call(handler)));
  } else {
    for (let i = 0; i < count; ++i) await call(handler);
  }
  window.webkit.messageHandlers.done.postMessage(count);
};
)";

struct Resources {
    fs::path folder;
    Resources() {
        char pattern[] = "/tmp/vesko-bridge-bench-XXXXXX";
        folder = mkdtemp(pattern);
        fs::create_directories(folder / "pages");
        std::ofstream(folder / "pages" / "main.html") << kPage;
        std::ofstream(folder / "pages" / "bench.js") << kScript;
    }
    ~Resources() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

Resources& resources() {
    static Resources instance;
    return instance;
}

int finishedBatches = 0;

void onDone(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer) { ++finishedBatches; }

// The bare engine: answers each message in its signal callback.
void onBare(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer view) {
    JSCValue* message = webkit_javascript_result_get_js_value(result);
    JSCValue* id = jsc_value_object_get_property(message, "callbackId");
    gchar* text = jsc_value_to_string(id);
    const std::string script = std::string("Bridge._resolve('") + text + "', 0)";
    g_free(text);
    g_object_unref(id);
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), script.data(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
}

void addDoneHandler(WebKitUserContentManager* manager) {
    g_signal_connect(manager, "script-message-received::done", G_CALLBACK(&onDone), nullptr);
    webkit_user_content_manager_register_script_message_handler(manager, "done");
}

// Takes messages and does nothing with them.
void addSinkHandler(WebKitUserContentManager* manager) {
    g_signal_connect(manager, "script-message-received::sink",
                     G_CALLBACK(+[](WebKitUserContentManager*, WebKitJavascriptResult*, gpointer) {}), nullptr);
    webkit_user_content_manager_register_script_message_handler(manager, "sink");
}

struct BareView {
    WebKitWebView* view = nullptr;
    BareView() {
        WebKitUserContentManager* manager = webkit_user_content_manager_new();
        view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager, nullptr));
        g_object_unref(manager);
        g_signal_connect(manager, "script-message-received::bare", G_CALLBACK(&onBare), view);
        webkit_user_content_manager_register_script_message_handler(manager, "bare");
        addDoneHandler(manager);
        addSinkHandler(manager);
        GtkWidget* window = gtk_offscreen_window_new();
        gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
        gtk_widget_show_all(window);
        // The same page, from the file: nothing of the application in the way.
        const std::string uri = "file://" + (resources().folder / "pages" / "main.html").string();
        g_object_set(webkit_web_view_get_settings(view), "allow-file-access-from-file-urls", TRUE, nullptr);
        webkit_web_view_load_uri(view, uri.c_str());
    }
};

struct VeskoView {
    std::shared_ptr<platform::gtk::DesktopWebView> webView = platform::gtk::makeWebView();
    std::shared_ptr<vesko::ViewController> controller;
    VeskoView() {
        GtkWidget* window = gtk_offscreen_window_new();
        gtk_container_add(GTK_CONTAINER(window), webView->widget());
        gtk_widget_show_all(window);
        addDoneHandler(webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(webView->widget())));
        controller = std::make_shared<vesko::ViewController>(resources().folder);
        controller->webView = webView;
        controller->viewDidLoad();
    }
};

WebKitWebView* webKitView(BareView& bare) { return bare.view; }
WebKitWebView* webKitView(VeskoView& vesko) { return WEBKIT_WEB_VIEW(vesko.webView->widget()); }

// Evaluates `script` in `view` and waits for the page to report the batch done.
void runBatch(WebKitWebView* view, const std::string& script) {
    const int target = finishedBatches + 1;
    webkit_web_view_evaluate_javascript(view, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    platform::dispatch::runMainUntil([&] { return finishedBatches >= target; });
}

void runBatch(WebKitWebView* view, const char* handler, bool together) {
    runBatch(view, std::string("runTrips('") + handler + "', " + std::to_string(kTrips) + ", " +
                       (together ? "true" : "false") + ")");
}

template <typename View>
View& ready(const char* handler) {
    static View* view = [&] {
        auto* made = new View;
        // Until the page's bridge answers, a batch would never finish.
        WebKitWebView* web = webKitView(*made);
        while (webkit_web_view_is_loading(web) || !webkit_web_view_get_uri(web)) g_main_context_iteration(nullptr, TRUE);
        runBatch(web, handler, false);  // warm: web process, caches, worker threads
        return made;
    }();
    return *view;
}

template <typename View>
void roundTrips(benchmark::State& state, const char* handler, bool together) {
    View& view = ready<View>(handler);
    for (auto _ : state) runBatch(webKitView(view), handler, together);
    state.SetItemsProcessed(state.iterations() * kTrips);
}

void BM_PageSendsOnly(benchmark::State& state) {
    BareView& view = ready<BareView>("bare");
    for (auto _ : state) runBatch(view.view, "postOnly('sink', " + std::to_string(kTrips) + ")");
    state.SetItemsProcessed(state.iterations() * kTrips);
}
void BM_BareEngineOneAtATime(benchmark::State& state) { roundTrips<BareView>(state, "bare", false); }
void BM_BareEngineInFlight(benchmark::State& state) { roundTrips<BareView>(state, "bare", true); }
void BM_VeskoOneAtATime(benchmark::State& state) { roundTrips<VeskoView>(state, "vesko", false); }
void BM_VeskoInFlight(benchmark::State& state) { roundTrips<VeskoView>(state, "vesko", true); }

#define ROUND_TRIPS(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(15)->ReportAggregatesOnly(true)
ROUND_TRIPS(BM_BareEngineOneAtATime);
ROUND_TRIPS(BM_VeskoOneAtATime);
ROUND_TRIPS(BM_PageSendsOnly);
ROUND_TRIPS(BM_BareEngineInFlight);
ROUND_TRIPS(BM_VeskoInFlight);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) {
        // A display of our own: the same program again under xvfb-run.
        std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-s"),
                                   const_cast<char*>("-screen 0 1280x800x24")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("xvfb-run", args.data());
        std::perror("xvfb-run");
        return 1;
    }
    gtk_init(&argc, &argv);
    return vesko::bench::runWithRatios(
        argc, argv,
        {{"BM_VeskoOneAtATime/repeats:15/real_time_median", "BM_BareEngineOneAtATime/repeats:15/real_time_median", 1.0},
         {"BM_VeskoInFlight/repeats:15/real_time_median", "BM_BareEngineInFlight/repeats:15/real_time_median", 0.5},
         {"BM_PageSendsOnly/repeats:15/real_time_median", "BM_BareEngineInFlight/repeats:15/real_time_median", 0}});
}
