// End to end: headless Chromium loads the sample web extension, whose popup
// calls chrome.runtime.sendNativeMessage; Chromium starts the built
// vesko-extension through the manifest that install-host.sh wrote into the
// profile, and the popup shows the echo. Chromium is driven over the DevTools
// protocol on a pipe (--remote-debugging-pipe: fd 3 in, fd 4 out), so no port
// is opened at all.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr const char* kChromium = "/usr/bin/chromium";
// Fixed by the "key" of the sample's manifest.
constexpr const char* kSampleId = "gppbdjjkfnilhjhcaleadfddopglojcj";

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Chromium {
public:
    Chromium(const fs::path& profile, const fs::path& extension, const fs::path& logFile) {
        int toBrowser[2], fromBrowser[2];
        if (::pipe2(toBrowser, O_CLOEXEC) != 0 || ::pipe2(fromBrowser, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, toBrowser[0], 3);
        posix_spawn_file_actions_adddup2(&actions, fromBrowser[1], 4);

        std::vector<std::string> args = {
            kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--host-resolver-rules=MAP * ~NOTFOUND", "--user-data-dir=" + profile.string(),
            "--remote-debugging-pipe", "--load-extension=" + extension.string(),
            // Some builds ignore --load-extension unless this is turned off;
            // Debian's 156 honours it either way.
            "--disable-features=DisableLoadExtensionCommandLineSwitch", "about:blank"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        // The host inherits Chromium's environment: its log goes to
        // Chromium's standard error, which is the log file.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::string_view(*e).substr(0, 7) != "TMPDIR=") env.emplace_back(*e);
        env.emplace_back("VESKO_EXTENSION_LOG=stderr");
        // Chromium's own temporary files stay in the profile and go with it.
        fs::create_directories(profile / "tmp");
        env.emplace_back("TMPDIR=" + (profile / "tmp").string());
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        int rc = posix_spawn(&pid_, kChromium, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(toBrowser[0]);
        ::close(fromBrowser[1]);
        out_ = toBrowser[1];
        in_ = fromBrowser[0];
        if (rc != 0) pid_ = -1;
    }

    ~Chromium() {
        if (out_ >= 0) ::close(out_);
        if (in_ >= 0) ::close(in_);
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    bool started() const { return pid_ > 0; }

    // Sends a command and waits for its answer; nothing on timeout or when
    // the browser went away.
    std::optional<json> call(const std::string& method, json params = json::object(),
                             const std::string& session = {},
                             std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        json message = {{"id", ++lastId_}, {"method", method}, {"params", std::move(params)}};
        if (!session.empty()) message["sessionId"] = session;
        std::string text = message.dump();
        text.push_back('\0');
        for (std::string_view rest = text; !rest.empty();) {
            ssize_t n = ::write(out_, rest.data(), rest.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return std::nullopt;
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        auto deadline = Clock::now() + timeout;
        for (;;) {
            for (std::size_t end; (end = buffer_.find('\0')) != std::string::npos;) {
                json answer = json::parse(buffer_.substr(0, end), nullptr, false);
                buffer_.erase(0, end + 1);
                if (answer.is_object() && answer.value("id", 0) == lastId_) return answer;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{in_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[65536];
            ssize_t got = ::read(in_, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    int lastId_ = 0;
    std::string buffer_;
};

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed";
        char pattern[] = "/tmp/vesko-extension-browser-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

    fs::path dir_;
};

// The popup's reply element: its state ("waiting", "done", "error") and text.
const char* kReadReply =
    "(() => { const r = document.getElementById('reply');"
    " return r ? JSON.stringify({state: r.dataset.state, text: r.textContent})"
    " : JSON.stringify({state: 'no popup', text: location.href}); })()";

TEST_F(BrowserTest, SampleExtensionGetsTheEchoThroughSendNativeMessage) {
    const fs::path profile = dir_ / "profile";
    const fs::path extension = dir_ / "sample";
    fs::copy(VESKO_EXTENSION_SAMPLE_DIR, extension, fs::copy_options::recursive);
    const std::string install = std::string("'") + VESKO_EXTENSION_INSTALL_SCRIPT + "' --chromium-dir '" +
                                (profile / "NativeMessagingHosts").string() + "' '" +
                                VESKO_EXTENSION_EXECUTABLE + "' >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    ASSERT_TRUE(fs::exists(profile / "NativeMessagingHosts" / "vesko.extension.json"));

    const fs::path logFile = dir_ / "chromium.log";
    Chromium browser(profile, extension, logFile);
    ASSERT_TRUE(browser.started());
    auto targets = browser.call("Target.getTargets", json::object(), {}, std::chrono::seconds(30));
    ASSERT_TRUE(targets) << "Chromium did not answer on the DevTools pipe\n" << readFile(logFile);

    auto created = browser.call("Target.createTarget",
                                {{"url", std::string("chrome-extension://") + kSampleId + "/popup.html"}});
    ASSERT_TRUE(created && created->contains("result")) << (created ? created->dump() : "no answer");
    auto attached = browser.call("Target.attachToTarget",
                                 {{"targetId", (*created)["result"]["targetId"]}, {"flatten", true}});
    ASSERT_TRUE(attached && attached->contains("result"));
    const std::string session = (*attached)["result"]["sessionId"];

    auto waitForReply = [&](const std::string& previous) -> json {
        auto deadline = Clock::now() + std::chrono::seconds(30);
        json last;
        while (Clock::now() < deadline) {
            auto answer = browser.call("Runtime.evaluate", {{"expression", kReadReply}, {"returnByValue", true}}, session);
            if (!answer) break;
            auto value = (*answer)["result"]["result"].value("value", std::string());
            last = json::parse(value, nullptr, false);
            if (last.is_object() && last["state"] != "waiting" && last["state"] != "no popup" &&
                last["text"] != previous) {
                return last;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return last;
    };

    // The popup sends its default message as it opens.
    json first = waitForReply("");
    ASSERT_EQ(first["state"], "done") << first.dump() << "\n" << readFile(logFile);
    EXPECT_EQ(json::parse(first["text"].get<std::string>()), (json{{"hello", "Vesko"}}));

    // A message of every kind of value comes back unchanged.
    const json message = {{"text", "héllo ✓ \"quoted\"\nline"}, {"n", -12.5}, {"big", 9007199254740991},
                          {"list", {true, false, nullptr, json::array(), json::object()}}};
    const std::string submit = "document.getElementById('message').value = " + json(message.dump()).dump() +
                               "; document.getElementById('form').requestSubmit(); 'sent'";
    ASSERT_TRUE(browser.call("Runtime.evaluate", {{"expression", submit}}, session));
    json second = waitForReply(first["text"]);
    ASSERT_EQ(second["state"], "done") << second.dump();
    EXPECT_EQ(json::parse(second["text"].get<std::string>()), message);

    // The host logged one line per message to its standard error, which
    // Chromium passes on.
    const std::string log = readFile(logFile);
    EXPECT_NE(log.find("vesko-extension: Received message from browser.runtime.sendNativeMessage: "
                       "{\"hello\":\"Vesko\"} (profile: none)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(R"("text":"héllo ✓ \"quoted\"\nline"})"), std::string::npos) << log;
}

}  // namespace
