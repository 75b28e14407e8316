// Summaries through the real proxy of a copy of the application whose
// allow-list holds "localhost", to a fake Messages API on this machine
// (fake_messages_api.py): the settings as typed, the key test, a summary
// shown and kept with the article, and each failure's message.
#include "tests/gui/BuiltPages.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// The fake service on a free port of 127.0.0.1, stopped by its process id.
struct FakeMessagesApi {
    ChildProcess server;
    int port = 0;
    FakeMessagesApi() {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        testing::ChildOptions options;
        options.standardOutput = out[1];
        const bool started = server.start({"python3", VESKO_FAKE_MESSAGES_API}, options);
        close(out[1]);
        std::string line;
        char c;
        while (started && read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        port = line.empty() ? 0 : std::stoi(line);
    }
    std::string address() const { return "http://localhost:" + std::to_string(port); }
};

// Types `text` into the field `id` of the shown page, as a person would.
void type(const std::string& id, const std::string& text) {
    evaluate("(f => { f.value = " + json(text).dump() + "; f.dispatchEvent(new Event('input')); "
             "f.dispatchEvent(new Event('change')); })(document.getElementById('" + id + "'))");
}

json stored() { return evaluate("JSON.parse(localStorage.getItem('vesko.settings') || '{}')"); }

// Puts the sample article into the library, read by the pages' own reader.
std::string keepSample() {
    const std::string html = readFile(std::filesystem::path(VESKO_SAMPLES) / "2026/11/24/night-trains-return.html");
    const json result = {{"url", "http://127.0.0.1:8000/2026/11/24/night-trains-return.html"}, {"title", kSampleTitle},
                         {"publication", "127.0.0.1"}, {"raw_html", html}, {"head_html", ""}, {"url_date", "2026-11-24"}};
    return evaluate("import('./store.js').then(m => m.keepArticle(" + result.dump() + ")).then(r => r.key)").get<std::string>();
}

const std::string kStatus = "document.getElementById('status').textContent";

TEST(Summaries, ArriveThroughTheProxyAndEachFailureSaysWhatToDo) {
    TemporaryHome home;
    FakeMessagesApi api;
    ASSERT_NE(api.port, 0);

    // Settings as typed: the key with spaces around it, the fake's address, a model.
    ASSERT_TRUE(show("settings.html"));
    type("apiKey", "  sk-fake-key  ");
    type("apiAddress", api.address());
    type("model", "claude fake");
    EXPECT_EQ(evaluate("document.getElementById('model').getAttribute('aria-invalid')"), "true");
    EXPECT_EQ(evaluate("document.getElementById('model-error').hidden"), false);
    type("model", "claude-fake");
    json settings = stored();
    EXPECT_EQ(settings["apiKey"], "sk-fake-key");
    EXPECT_EQ(settings["apiAddress"], api.address());
    EXPECT_EQ(settings["model"], "claude-fake");
    EXPECT_EQ(evaluate("document.getElementById('apiKey').type"), "password");
    click("#test");
    EXPECT_TRUE(waitFor(kStatus + " === 'The key works: claude-fake answered.'", 20s)) << evaluate(kStatus);

    // A summary arrives, is shown above the article and kept with it.
    const std::string key = keepSample();
    ASSERT_TRUE(show("index.html"));
    evaluate("location.hash = '#article=' + encodeURIComponent(" + json(key).dump() + ")");
    ASSERT_TRUE(waitFor("!document.getElementById('summarise').disabled"));
    click("#summarise");
    const std::string expected = std::string("Summary of ") + kSampleTitle + ".";
    ASSERT_TRUE(waitFor("document.getElementById('summary-text').textContent === " + json(expected).dump(), 20s))
        << evaluate(kStatus);
    EXPECT_EQ(evaluate(kStatus), "Summary written and kept with the article.");
    EXPECT_EQ(evaluate("import('./store.js').then(m => m.library()).then(l => l.get(" + json(key).dump() +
                       ")).then(r => r.summary.text)"),
              expected);

    // Each failure: its message, a way to the settings where they help, and
    // the summary already kept stays.
    auto failure = [&](json changes) {
        json next = stored();
        next.update(changes);
        evaluate("localStorage.setItem('vesko.settings', " + json(next.dump()).dump() + ")");
        evaluate("document.getElementById('status').className = ''");
        click("#summarise");
        EXPECT_TRUE(waitFor("document.getElementById('status').className === 'status error'", 20s)) << changes.dump();
        return std::make_pair(evaluate(kStatus).get<std::string>(),
                              evaluate("!!document.querySelector('#status a[href=\"settings.html\"]')") == true);
    };
    const auto refused = failure({{"apiKey", "refused-key"}});
    EXPECT_EQ(refused.first.rfind("The API key was refused.", 0), 0u) << refused.first;
    EXPECT_TRUE(refused.second);
    EXPECT_EQ(failure({{"apiKey", "sk-fake-key"}, {"model", "busy-model"}}).first,
              "The summary service is busy (too many requests for this key). Try again in a minute or two.");
    EXPECT_EQ(failure({{"model", "overloaded-model"}}).first,
              "The summary service is busy (the service is overloaded). Try again in a minute or two.");
    const auto model = failure({{"model", "unknown-model"}});
    EXPECT_EQ(model.first.rfind("The model \u201cunknown-model\u201d was refused.", 0), 0u) << model.first;
    EXPECT_TRUE(model.second);
    EXPECT_EQ(failure({{"model", "broken-model"}}).first,
              "The summary service sent an answer Vesko could not read. Try again later.");
    EXPECT_EQ(failure({{"model", "silent-model"}}).first.rfind("The summary service answered without any text.", 0), 0u);
    EXPECT_EQ(failure({{"model", "claude-fake"}, {"apiAddress", "http://localhost:1"}}).first.rfind(
                  "The summary service could not be reached: ", 0),
              0u);
    const auto noKey = failure({{"apiKey", ""}});
    EXPECT_EQ(noKey.first, "Summaries need an API key: add yours in Settings. Open Settings");
    EXPECT_TRUE(noKey.second);
    EXPECT_EQ(evaluate("document.getElementById('summary-text').textContent"), expected);

    // The library marks the article as summarised.
    ASSERT_TRUE(show("main.html"));
    EXPECT_TRUE(waitFor("document.querySelector('.entry-meta .chip') && "
                        "document.querySelector('.entry-meta .chip').textContent === 'Summary'"));
}

}  // namespace
}  // namespace vesko::gui
