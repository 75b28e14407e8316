// What the pages can reach: the files of their own folder and nothing else of
// the disk; addresses that leave the window go only to web and mail handlers;
// data stored by earlier versions, when pages were file:// addresses, is still
// there, and stays across restarts.
#include "tests/gui/GuiHarness.hpp"
#include "tests/support/Subprocess.hpp"

#include <gtk/gtk.h>

#include <gtest/gtest.h>

#include <fstream>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A folder of its own under the system's temporary folder, removed at the end.
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "vesko-confine-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
};

void writeFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

TEST(Confinement, PagesReadTheirFolderAndNothingElseOfTheDisk) {
    desktop();
    TempFolder temp;
    const fs::path resources = temp.path / "resources";
    writeFile(resources / "inside.txt", "inside");
    writeFile(temp.path / "outside.txt", "outside");
    fs::create_directories(resources / "pages");
    fs::create_symlink(temp.path / "outside.txt", resources / "pages" / "link.txt");
    const nlohmann::json targets = {
        {"inside", "../inside.txt"},
        {"fileURL", "file://" + (temp.path / "outside.txt").string()},
        {"dotDot", "/../outside.txt"},
        {"escapedSlash", "/pages%2F..%2F..%2Foutside.txt"},
        {"symlink", "link.txt"},
        {"missing", "missing.txt"},
    };
    writeFile(resources / "pages" / "reads.html",
              "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><script type=\"module\" src=\"reads.js\"></script>"
              "</head><body data-targets='" + targets.dump() + "'></body></html>");
    writeFile(resources / "pages" / "reads.js", R"(
const results = {};
for (const [name, url] of Object.entries(JSON.parse(document.body.dataset.targets))) {
  try {
    const response = await fetch(url);
    results[name] = response.ok ? await response.text() : 'status ' + response.status;
  } catch (e) {
    results[name] = 'refused';
  }
}
window.webkit.messageHandlers.probe.postMessage(results);
)");

    GtkWidget* window = gtk_offscreen_window_new();
    auto view = platform::gtk::makeWebView();
    gtk_container_add(GTK_CONTAINER(window), view->widget());
    gtk_widget_show_all(window);
    nlohmann::json results;
    view->addObserverMessageHandler("probe", [&](const nlohmann::json& body) { results = body; });
    view->loadFileURL(resources / "pages" / "reads.html", resources);
    // A first page may wait seconds for its web process on a busy machine.
    ASSERT_TRUE(waitUntil([&] { return !results.is_null(); }, 30s));
    EXPECT_EQ(results, (nlohmann::json{{"inside", "inside"},
                                       {"fileURL", "refused"},
                                       {"dotDot", "refused"},
                                       {"escapedSlash", "refused"},
                                       {"symlink", "refused"},
                                       {"missing", "refused"}}));
    // Nor is a file outside the folder loaded as a page.
    const std::string shown = view->currentURI();
    view->loadFileURL(temp.path / "outside.txt", resources);
    pump(300ms);
    EXPECT_EQ(view->currentURI(), shown);
    gtk_widget_destroy(window);
}

TEST(Confinement, OnlyWebAndMailAddressesLeaveTheWindow) {
    auto& d = desktop();
    d.ui.controller->navigateToPage("links.html", std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "links.html") == 1; }));
    const auto opened = d.workspace->urls().size();
    for (const char* url : {"data:text/html,<p>data</p>", "smb://host/share", "ftp://example.org/file",
                            "file:///etc/hostname", "mailto:someone@example.org", "https://example.org/web"}) {
        d.ui.webView->evaluateJavaScript(std::string("location.href = '") + url + "'");
        pump(250ms);
    }
    // A srcdoc frame shows in the page and opens nothing.
    d.ui.webView->evaluateJavaScript(
        "document.body.insertAdjacentHTML('beforeend', '<iframe sandbox srcdoc=\"<p>framed</p>\"></iframe>')");
    ASSERT_TRUE(waitUntil([&] { return d.workspace->urls().size() >= opened + 2; }));
    pump(300ms);
    const auto urls = d.workspace->urls();
    EXPECT_EQ(std::vector<std::string>(urls.begin() + static_cast<long>(opened), urls.end()),
              (std::vector<std::string>{"mailto:someone@example.org", "https://example.org/web"}));
    EXPECT_EQ(d.probe.count("load", "links.html"), 1u);
}

TEST(Confinement, StoredDataOfEarlierVersionsIsCarriedOverAndPersists) {
    auto& d = desktop();
    TempFolder temp;
    writeFile(temp.path / "pages" / "store.html",
              "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><script type=\"module\" src=\"store.js\"></script>"
              "</head><body></body></html>");
    writeFile(temp.path / "pages" / "store.js", R"(
const post = (message) => window.webkit.messageHandlers.probe.postMessage(message);
const settle = (request) => new Promise((ok, fail) => { request.onsuccess = () => ok(request.result); request.onerror = () => fail(request.error); });
const finished = (tx) => new Promise((ok) => { tx.oncomplete = ok; });
if (location.protocol === 'file:') {
  localStorage.setItem('settings', '{"theme":"dark","name":"Zoë"}');
  const open = indexedDB.open('library', 3);
  open.onupgradeneeded = () => open.result.createObjectStore('articles', { keyPath: 'id', autoIncrement: true })
    .createIndex('byUrl', 'url', { unique: true });
  const db = await settle(open);
  const tx = db.transaction('articles', 'readwrite');
  tx.objectStore('articles').put({ url: 'https://example.org/a', title: 'Première', savedAt: new Date(Date.UTC(2026, 0, 2)), body: new Blob(['stored blob']) });
  tx.objectStore('articles').put({ url: 'https://example.org/b', title: 'Second' });
  await finished(tx);
  post({ seeded: true });
} else {
  const report = { settings: localStorage.getItem('settings'), after: localStorage.getItem('after') };
  const db = await settle(indexedDB.open('library'));
  report.version = db.version;
  const store = db.transaction('articles').objectStore('articles');
  report.indexes = Array.from(store.indexNames);
  const records = await settle(store.getAll());
  report.titles = records.map((r) => r.title);
  report.savedAt = records[0] && records[0].savedAt instanceof Date ? records[0].savedAt.toISOString() : null;
  report.blob = records[0] && records[0].body ? await records[0].body.text() : null;
  localStorage.setItem('after', 'kept');
  const edit = db.transaction('articles', 'readwrite');
  edit.objectStore('articles').put(Object.assign(records[0], { title: 'Première (edited)' }));
  await finished(edit);
  post(report);
}
)");
    const std::map<std::string, std::string> env = {{"XDG_DATA_HOME", (temp.path / "data").string()},
                                                    {"DISPLAY", d.display}};
    auto phase = [&](const char* mode) {
        auto run = testing::runProgram({VESKO_STORAGE_PHASE, mode, temp.path.string()}, "", env);
        EXPECT_EQ(run.exitStatus, 0) << mode << ": " << run.err;
        return nlohmann::json::parse(run.out, nullptr, false);
    };
    ASSERT_EQ(phase("file"), (nlohmann::json{{"seeded", true}}));
    const nlohmann::json carried = {{"settings", "{\"theme\":\"dark\",\"name\":\"Zoë\"}"},
                                    {"after", nullptr},
                                    {"version", 3},
                                    {"indexes", {"byUrl"}},
                                    {"titles", {"Première", "Second"}},
                                    {"savedAt", "2026-01-02T00:00:00.000Z"},
                                    {"blob", "stored blob"}};
    EXPECT_EQ(phase("app"), carried);
    // The next start sees what the pages wrote since, not a second copy.
    nlohmann::json later = carried;
    later["after"] = "kept";
    later["titles"] = {"Première (edited)", "Second"};
    EXPECT_EQ(phase("app"), later);
}

}  // namespace
}  // namespace vesko::gui
