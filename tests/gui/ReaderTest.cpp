// The shipped pages in the real window, with the real native side reading
// headless Chromium: a hot-key fetch shown in the reader and kept in the
// library across a restart, search, Vavadavu's exports landing under the
// test's home, and a hostile article that runs nothing.
#include "tests/gui/BuiltPages.hpp"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using nlohmann::json;

const std::string kReaderTitle = "document.querySelector('#meta dd') && document.querySelector('#meta dd').textContent";

TEST(Reader, HotKeyFetchIsKeptAcrossARestartAndFoundBySearch) {
    const char* launch = std::getenv("VESKO_TEST_LAUNCH");
    if (!launch) {
        // Two launches of the application on one home folder, each a process of its own.
        TemporaryHome home;
        Browsing browsing({kSample});
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
        for (const char* which : {"first", "second"}) {
            setenv("VESKO_TEST_LAUNCH", which, 1);
            ChildProcess app;
            testing::ChildOptions options;
            options.standardOutput = 1;
            options.errorLog = "/dev/stderr";
            ASSERT_TRUE(app.start({"/proc/self/exe", filter}, options));
            EXPECT_EQ(app.waitExit(100s), 0) << "the " << which << " launch failed";
        }
        unsetenv("VESKO_TEST_LAUNCH");
        return;
    }

    auto& d = window();
    if (std::string(launch) == "first") {
        ASSERT_TRUE(waitFor("document.documentElement.dataset.ready === 'true'"));
        EXPECT_EQ(evaluate("document.getElementById('count').textContent"), "0 articles");
        FakeInput input;
        input.chord({XK_Control_L, XK_Shift_L}, XK_f);
        // The reader shows the article, its details and its text.
        ASSERT_TRUE(waitFor(kReaderTitle + " === " + json(kSampleTitle).dump(), 30s)) << evaluate(kReaderTitle);
        EXPECT_EQ(evaluate("document.getElementById('status').textContent"), "Fetched and kept in the library.");
        EXPECT_EQ(evaluate("[...document.querySelectorAll('#meta dd')].map(n => n.textContent).slice(1, 3)"),
                  json({"Marek Lund", "Rail & Road Weekly"}));
        EXPECT_EQ(evaluate("document.getElementById('article').srcdoc.includes('bicycle car')"), true);
        EXPECT_EQ(d.probe.count("action"), 0u);
        return;
    }
    // The second launch: the library kept the article, and search finds it by its text.
    ASSERT_TRUE(waitFor("document.documentElement.dataset.ready === 'true'"));
    EXPECT_EQ(evaluate("document.getElementById('count').textContent"), "1 article");
    EXPECT_EQ(evaluate("document.querySelector('.entry-title').textContent"), kSampleTitle);
    const std::string search =
        "(q => { const s = document.getElementById('search'); s.value = q; s.dispatchEvent(new Event('input'));"
        " return [...document.querySelectorAll('#list li')].map(n => n.querySelector('.entry-title') ? "
        "n.querySelector('.entry-title').textContent : n.textContent); })";
    EXPECT_EQ(evaluate(search + "('couchette SLEEPER')"), json({kSampleTitle}));
    EXPECT_EQ(evaluate(search + "('zeppelin')"), json({"No article matches the search."}));
    // Opening it shows it in the reader.
    evaluate(search + "('')");
    click(".entry-title");
    ASSERT_TRUE(waitFor(kReaderTitle + " === " + json(kSampleTitle).dump()));
}

TEST(Reader, AHostileArticleRunsNothing) {
    TemporaryHome home;
    Browsing browsing({kHostile});
    auto& d = window();
    ASSERT_TRUE(show("index.html"));
    // Anything of the article that ran would tell the page through postMessage.
    d.ui.webView->evaluateJavaScript(
        "window.addEventListener('message', e => window.webkit.messageHandlers.probe.postMessage("
        "{event: 'hostile', data: String(e.data)}))");
    click("#fetch");
    // Its title is shown as the text it is.
    ASSERT_TRUE(waitFor(kReaderTitle + " && " + kReaderTitle + ".startsWith('Totally normal article')", 30s))
        << evaluate(kReaderTitle);
    EXPECT_EQ(evaluate("document.getElementById('article').srcdoc.includes('A reader that shows it safely')"), true);
    pump(1500ms);
    EXPECT_EQ(d.probe.count("hostile"), 0u);
    EXPECT_TRUE(d.workspace->urls().empty());
    EXPECT_TRUE(fs::is_empty(home.path / "Downloads"));
    EXPECT_EQ(evaluate("location.pathname.endsWith('/index.html')"), true);
    EXPECT_EQ(evaluate("document.getElementById('article').getAttribute('sandbox')"), "allow-popups");
    EXPECT_EQ(evaluate("document.getElementById('article').srcdoc.includes(\"default-src 'none'\")"), true);
}

TEST(Reader, VavadavuExportsLandInDownloads) {
    TemporaryHome home;
    Browsing browsing({kSecond, kSample});
    ASSERT_TRUE(show("index.html"));
    click("#fetch");
    ASSERT_TRUE(waitFor(kReaderTitle + " === " + json(kSampleTitle).dump(), 30s));
    browsing.chromium->activateTab(browsing.chromium->tabs()[0].targetId);
    click("#fetch");
    ASSERT_TRUE(waitFor(kReaderTitle + " === 'Old river bridge reopens after two years of repairs'", 30s))
        << evaluate(kReaderTitle);

    ASSERT_TRUE(show("export.html"));
    EXPECT_EQ(evaluate("document.getElementById('count-all').textContent"), "(2)");
    auto exportAs = [&](const std::string& format, const std::string& name) {
        evaluate("document.querySelector('input[name=format][value=" + format + "]').click(), "
                 "document.getElementById('filename').value = " + json(name).dump() + ", "
                 "document.getElementById('status').className = '', "
                 "document.getElementById('export').click()");
        EXPECT_TRUE(waitFor("document.getElementById('status').className === 'status ok'")) << format << ": "
            << evaluate("document.getElementById('status').textContent");
    };
    exportAs("json", "library");
    exportAs("csv", "library");
    exportAs("markdown-files", "");
    const fs::path downloads = home.path / "Downloads";

    const json exported = json::parse(readFile(downloads / "library.json"));
    ASSERT_EQ(exported.size(), 2u);
    EXPECT_EQ(exported[1]["reader"]["title"], kSampleTitle);  // newest first
    EXPECT_EQ(exported[1]["publication"], "127.0.0.1");
    EXPECT_NE(exported[1]["raw_html"].get<std::string>().find("couchette"), std::string::npos);

    const std::string csv = readFile(downloads / "library.csv");
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")), "title,url,site,author,published,words,tags");
    EXPECT_NE(csv.find(std::string(kSampleTitle) + "," + browsing.server->url(kSample) + ",Rail & Road Weekly,Marek Lund,"),
              std::string::npos) << csv;

    const std::string markdown = readFile(downloads / (std::string(kSampleTitle) + ".md"));
    EXPECT_EQ(markdown.rfind("---\ntitle: \"" + std::string(kSampleTitle) + "\"\n", 0), 0u) << markdown;
    EXPECT_NE(markdown.find("\n# " + std::string(kSampleTitle) + "\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(downloads / "Old river bridge reopens after two years of repairs.md"));
    // Each file's landing place is shown.
    EXPECT_EQ(evaluate("document.querySelectorAll('#results li.ok').length"), 2);
}

}  // namespace
}  // namespace vesko::gui
