// One start of a web view over a data folder, for the stored-data test:
//
//   storage_phase file <folder>   loads <folder>/pages/store.html from its
//                                 file:// address, as earlier versions did
//   storage_phase app <folder>    loads it through the application's web view
//
// The page does its work and posts a report, which is printed on standard
// output as one line of JSON. XDG_DATA_HOME chooses the data folder.
#include "platform/Dispatch.hpp"
#include "platform/gtk/Desktop.hpp"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

namespace {

std::optional<nlohmann::json> report;

void received(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer) {
    gchar* json = jsc_value_to_json(webkit_javascript_result_get_js_value(result), 0);
    report = nlohmann::json::parse(json ? json : "null", nullptr, false);
    g_free(json);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || !gtk_init_check(&argc, &argv)) return 2;
    g_set_prgname("vesko");  // the application's data folder
    const std::filesystem::path folder = argv[2];
    GtkWidget* window = gtk_offscreen_window_new();
    std::shared_ptr<platform::gtk::DesktopWebView> view;

    if (std::strcmp(argv[1], "file") == 0) {
        WebKitUserContentManager* manager = webkit_user_content_manager_new();
        g_signal_connect(manager, "script-message-received::probe", G_CALLBACK(&received), nullptr);
        webkit_user_content_manager_register_script_message_handler(manager, "probe");
        GtkWidget* raw = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager, nullptr));
        g_object_set(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(raw)), "allow-file-access-from-file-urls", TRUE,
                     nullptr);
        gtk_container_add(GTK_CONTAINER(window), raw);
        gchar* uri = g_filename_to_uri((folder / "pages/store.html").c_str(), nullptr, nullptr);
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(raw), uri);
        g_free(uri);
    } else {
        view = platform::gtk::makeWebView();
        view->addObserverMessageHandler("probe", [](const nlohmann::json& body) { report = body; });
        gtk_container_add(GTK_CONTAINER(window), view->widget());
        view->loadFileURL(folder / "pages/store.html", folder);
    }
    gtk_widget_show_all(window);
    platform::dispatch::runMainUntil([] { return report.has_value(); }, std::chrono::seconds(20));
    std::cout << (report ? report->dump() : "null") << std::endl;
    std::fflush(stdout);
    std::_Exit(report ? 0 : 1);
}
