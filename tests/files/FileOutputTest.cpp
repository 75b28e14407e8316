// Saving files and fixtures under a temporary home folder.

#include "files/FileOutput.hpp"
#include "tests/support/PageScripts.hpp"
#include "tests/support/VeskoStdio.hpp"
#include "web/Reply.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;
using vesko::testing::evaluateInPage;

namespace {

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// Every entry below `folder`, as paths relative to it.
std::vector<std::string> tree(const fs::path& folder) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        entries.push_back(fs::relative(entry.path(), folder).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

class FileOutput : public ::testing::Test {
protected:
    void SetUp() override {
        // A single quote in the home folder's path must reach the page intact.
        std::string pattern = (fs::temp_directory_path() / "vesko-home-it's-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        home = pattern;
        if (const char* old = std::getenv("HOME")) savedHome = old;
        ::setenv("HOME", home.c_str(), 1);
    }
    void TearDown() override {
        if (savedHome) ::setenv("HOME", savedHome->c_str(), 1);
        std::error_code ignored;
        fs::permissions(home, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (const auto& entry : fs::recursive_directory_iterator(home, ignored))
            if (entry.is_directory(ignored)) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(home, ignored);
    }

    fs::path downloads() const { return home / "Downloads"; }
    fs::path fixtures() const { return home / "lantern" / "test_fixtures" / "auto"; }

    std::string saveFile(std::string_view base64, std::string_view name, std::string_view id = "s1") {
        return vesko::files::saveFileReply(base64, name, id, platform::FileManager::defaultManager());
    }
    std::string saveFixture(std::string_view text, std::string_view name, std::string_view id = "s1") {
        return vesko::files::saveFixtureReply(text, name, id, platform::FileManager::defaultManager());
    }

    // What the page's bridge receives for one reply script.
    static json page(const std::string& script) {
        json calls = evaluateInPage({script});
        EXPECT_EQ(calls.size(), 1u) << calls.dump();
        return calls.empty() ? json() : calls[0];
    }
    static std::string resolvedPath(const std::string& script) {
        json call = page(script);
        EXPECT_EQ(call.value("call", ""), "resolve") << call.dump();
        return call.value("value", "");
    }
    static std::string rejected(const std::string& script) {
        json call = page(script);
        EXPECT_EQ(call.value("call", ""), "reject") << call.dump();
        return call.value("message", "");
    }

    // Runs `work` in a child process, optionally as the unprivileged user "nobody"
    // (so permissions hold even when the tests run as root), and returns the reply
    // script it produced.
    std::string inChild(const std::function<std::string()>& work, bool unprivileged,
                        rlim_t fileSizeLimit = RLIM_INFINITY) {
        int pipeFds[2];
        EXPECT_EQ(::pipe(pipeFds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipeFds[0]);
            ::signal(SIGXFSZ, SIG_IGN);
            if (fileSizeLimit != RLIM_INFINITY) {
                rlimit limit{fileSizeLimit, fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
            const std::string script = work();
            const bool ok = ::write(pipeFds[1], script.data(), script.size()) == static_cast<ssize_t>(script.size());
            ::_exit(ok ? 0 : 4);
        }
        ::close(pipeFds[1]);
        std::string out;
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        return out;
    }

    fs::path home;
    std::optional<std::string> savedHome;
};

TEST(Base64, DecodesOnlyStrictStandardBase64) {
    using vesko::files::decodeBase64;
    EXPECT_EQ(decodeBase64(""), std::string());
    EXPECT_EQ(decodeBase64("QQ=="), "A");
    EXPECT_EQ(decodeBase64("QUI="), "AB");
    EXPECT_EQ(decodeBase64("QUJD"), "ABC");
    EXPECT_EQ(decodeBase64("+/+/AP8A"), std::string("\xFB\xFF\xBF\x00\xFF\x00", 6));
    for (const char* bad : {"QQ", "QUI", "QQ==\n", "QU\nJD", "QU JD", " QUJD", "QUJD\r\n", "QQ=A", "Q===", "====",
                            "QUJD====", "QU-_", "QUJ\xC3\xA9", "=QUJ"}) {
        EXPECT_EQ(decodeBase64(bad), std::nullopt) << bad;
    }
}

TEST_F(FileOutput, SaveFileWritesTheBytesIntoDownloadsAndAnswersWithThePath) {
    fs::create_directory(downloads());
    const std::string name = "it's r\xC3\xA9sum\xC3\xA9.bin";
    const std::string script = saveFile("AAEC/w==", name);
    EXPECT_EQ(resolvedPath(script), (downloads() / name).string());
    EXPECT_EQ(readFile(downloads() / name), std::string("\x00\x01\x02\xFF", 4));

    // A second save replaces the content and keeps the file's permissions.
    fs::permissions(downloads() / name, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(resolvedPath(saveFile("c2Vjb25k", name)), (downloads() / name).string());
    EXPECT_EQ(readFile(downloads() / name), "second");
    EXPECT_EQ(fs::status(downloads() / name).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // Undecodable text is refused before anything is written.
    EXPECT_EQ(saveFile("c2Vj\nb25k", "other"), "Bridge._reject('s1', 'Invalid base64 data')");
    EXPECT_EQ(rejected(saveFile("c2Vj b25k", "other")), "Invalid base64 data");
    EXPECT_EQ(tree(home), (std::vector<std::string>{"Downloads", "Downloads/" + name}));
}

TEST_F(FileOutput, SaveFileDoesNotCreateAMissingDownloadsFolder) {
    const std::string message = rejected(saveFile("QQ==", "a.txt"));
    EXPECT_EQ(message,
              "The file \xE2\x80\x9C" "a.txt\xE2\x80\x9D couldn\xE2\x80\x99t be saved because the folder \xE2\x80\x9C"
              "Downloads\xE2\x80\x9D doesn\xE2\x80\x99t exist.");
    EXPECT_TRUE(tree(home).empty());
}

TEST_F(FileOutput, SaveFixtureCreatesItsFoldersAndWritesTheTextUnchanged) {
    const std::string text = "not JSON at all: it's \\ raw\r\n\xE2\x80\xA8 end";
    EXPECT_EQ(resolvedPath(saveFixture(text, "fixture.json.gz")), (fixtures() / "fixture.json.gz").string());
    EXPECT_EQ(readFile(fixtures() / "fixture.json.gz"), text);
    // The folder chain exists now; a second fixture lands beside the first.
    EXPECT_EQ(resolvedPath(saveFixture("{}", "b.json")), (fixtures() / "b.json").string());
    EXPECT_EQ(tree(home / "lantern"),
              (std::vector<std::string>{"test_fixtures", "test_fixtures/auto", "test_fixtures/auto/b.json",
                                        "test_fixtures/auto/fixture.json.gz"}));

    // Text that is not UTF-8 cannot be a JSON text.
    EXPECT_EQ(saveFixture("{\"a\":\"\xC3\"}", "c.json"), "Bridge._reject('s1', 'Invalid JSON data')");
    EXPECT_FALSE(fs::exists(fixtures() / "c.json"));
}

TEST_F(FileOutput, NamesThatLeaveTheFolderAreRefusedAndNothingIsWritten) {
    fs::create_directory(downloads());
    const std::pair<std::string, std::string> cases[] = {
        {"", "The file name is empty."},
        {".", "The file name \xE2\x80\x9C.\xE2\x80\x9D is not allowed because it names a folder."},
        {"..", "The file name \xE2\x80\x9C..\xE2\x80\x9D is not allowed because it names a folder."},
        {"../escape.txt", "The file name \xE2\x80\x9C../escape.txt\xE2\x80\x9D is not allowed because it contains \xE2\x80\x9C/\xE2\x80\x9D."},
        {"sub/inner.txt", "The file name \xE2\x80\x9Csub/inner.txt\xE2\x80\x9D is not allowed because it contains \xE2\x80\x9C/\xE2\x80\x9D."},
        {"/etc/passwd", "The file name \xE2\x80\x9C/etc/passwd\xE2\x80\x9D is not allowed because it contains \xE2\x80\x9C/\xE2\x80\x9D."},
        {std::string("a\0b", 3), "The file name is not allowed because it contains a NUL character."},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(rejected(saveFile("QQ==", name)), message);
        EXPECT_EQ(rejected(saveFixture("{}", name)), message);
    }
    // Nothing inside Downloads, nothing beside it, no fixtures folder.
    EXPECT_EQ(tree(home), std::vector<std::string>{"Downloads"});
}

TEST_F(FileOutput, WriteFailuresRejectWithTheirDescriptionAndLeaveTheOldFile) {
    // A read-only fixtures folder.
    fs::create_directories(fixtures());
    writeFile(fixtures() / "kept.json", "old");
    ::chmod(home.c_str(), 0755);
    for (const fs::path& folder : {home / "lantern", home / "lantern" / "test_fixtures"}) ::chmod(folder.c_str(), 0755);
    ::chmod(fixtures().c_str(), 0555);
    std::string script = inChild([&] { return saveFixture("new", "kept.json"); }, true);
    EXPECT_EQ(rejected(script), "You don\xE2\x80\x99t have permission to save the file \xE2\x80\x9C" "kept.json\xE2\x80\x9D "
                                "in the folder \xE2\x80\x9C" "auto\xE2\x80\x9D.");
    EXPECT_EQ(readFile(fixtures() / "kept.json"), "old");
    ::chmod(fixtures().c_str(), 0755);

    // A write that fails half-way (the file size limit) keeps the old content, whole.
    const std::string big(1 << 20, 'x');
    script = inChild([&] { return saveFixture(big, "kept.json"); }, false, 64 * 1024);
    EXPECT_NE(rejected(script).find("too large"), std::string::npos);
    EXPECT_EQ(readFile(fixtures() / "kept.json"), "old");
    EXPECT_EQ(tree(fixtures()), std::vector<std::string>{"kept.json"});

    // A file where the fixtures folder should be: the folder cannot be made, the write says so.
    fs::remove_all(home / "lantern");
    writeFile(home / "lantern", "in the way");
    EXPECT_NE(rejected(saveFixture("{}", "a.json")).find("couldn\xE2\x80\x99t be saved"), std::string::npos);
    // A folder where the file should be.
    fs::create_directories(downloads() / "taken");
    EXPECT_NE(rejected(saveFile("QQ==", "taken")).find("a folder of that name"), std::string::npos);
    EXPECT_EQ(tree(downloads()), std::vector<std::string>{"taken"});
}

TEST_F(FileOutput, ConcurrentSavesToOneNameLeaveOneWholeContent) {
    fs::create_directory(downloads());
    const std::string firstB64(256 * 1024, 'Y');   // "YYYY" decodes to 61 86 18
    const std::string secondB64(300 * 1024, 'Z');  // "ZZZZ" decodes to 65 96 59
    for (int round = 0; round < 10; ++round) {
        std::string replyA, replyB;
        std::thread a([&] { replyA = saveFile(firstB64, "same.bin", "a"); });
        std::thread b([&] { replyB = saveFile(secondB64, "same.bin", "b"); });
        a.join();
        b.join();
        ASSERT_EQ(replyA, "Bridge._resolve('a', '" + vesko::reply::quoteEscape((downloads() / "same.bin").string()) + "')");
        ASSERT_EQ(replyB, "Bridge._resolve('b', '" + vesko::reply::quoteEscape((downloads() / "same.bin").string()) + "')");
        const std::string content = readFile(downloads() / "same.bin");
        ASSERT_TRUE(content == *vesko::files::decodeBase64(firstB64) || content == *vesko::files::decodeBase64(secondB64));
        ASSERT_EQ(tree(downloads()), std::vector<std::string>{"same.bin"});
    }
}

TEST_F(FileOutput, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewFileAndNoTemporaryForGood) {
    fs::create_directory(downloads());
    const fs::path target = downloads() / "kept.bin";
    const std::string old = *vesko::files::decodeBase64(std::string(1 << 20, 'O'));
    writeFile(target, old);
    auto temporaries = [&] {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(downloads()))
            if (entry.path().filename().string().starts_with(".vesko-")) found.push_back(entry.path());
        return found;
    };
    // How long one whole save takes here, to kill at moments spread over it.
    auto started = std::chrono::steady_clock::now();
    inChild([&] { return saveFile(std::string(1 << 20, 'O'), "kept.bin"); }, false);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    std::mt19937 random(11);
    std::uniform_int_distribution<long> moment(0, whole.count() * 5 / 4);
    std::string expected = old;
    for (int round = 0; round < 30; ++round) {
        const std::string base64(1 << 20, static_cast<char>('a' + round % 26));
        const pid_t pid = ::fork();
        if (pid == 0) {
            saveFile(base64, "kept.bin");
            ::_exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string content = readFile(target);
        const std::string fresh = *vesko::files::decodeBase64(base64);
        ASSERT_TRUE(content == expected || content == fresh) << "round " << round << ": " << content.size() << " bytes";
        expected = content;
    }
    // What the killed saves left behind (and one of an earlier session) goes
    // with the next save, once nobody has written to it for a while; a fresh
    // one may be a save in progress.
    writeFile(downloads() / ".vesko-fedcba9876543210.tmp", "left by an earlier session");
    const auto leftovers = temporaries();
    for (const auto& file : leftovers)
        fs::last_write_time(file, fs::file_time_type::clock::now() - vesko::files::kStaleTemporaryAge);
    const fs::path inProgress = downloads() / ".vesko-0123456789abcdef.tmp";
    writeFile(inProgress, "being written");
    EXPECT_NE(resolvedPath(saveFile("QQ==", "kept.bin")), "");
    EXPECT_EQ(temporaries(), std::vector<fs::path>{inProgress}) << leftovers.size() - 1 << " left by the killed saves";
    EXPECT_EQ(readFile(target), "A");
}

TEST_F(FileOutput, TheApplicationAnswersSavesThroughThePage) {
    fs::create_directory(downloads());
    const auto scripts = vesko::testing::runVeskoStdio(
        {
            {{"action", "save-file"}, {"callbackId", "a"}},
            {{"action", "save-fixture"}, {"callbackId", "b"}, {"json", "{\"k\":1}"}},
            {{"action", "save-file"}, {"callbackId", "c"}, {"base64", "QQ==\n"}, {"filename", "x"}},
        },
        {{"HOME", home.string()}});
    ASSERT_EQ(scripts.size(), 3u);
    std::map<std::string, json> calls;
    for (const json& call : evaluateInPage(scripts)) calls[call["id"]] = call;
    EXPECT_EQ(calls["a"]["value"], (downloads() / "download").string());
    EXPECT_EQ(readFile(downloads() / "download"), "");
    EXPECT_EQ(calls["b"]["value"], (fixtures() / "fixture.json.gz").string());
    EXPECT_EQ(readFile(fixtures() / "fixture.json.gz"), "{\"k\":1}");
    EXPECT_EQ(calls["c"]["message"], "Invalid base64 data");
}

TEST_F(FileOutput, SavesGoToTheXdgDownloadFolderAndNeverCreateIt) {
    const json save = {{"action", "save-file"}, {"callbackId", "a"}, {"base64", "QQ=="}, {"filename", "a.txt"}};
    // The user's own user-dirs.dirs in ~/.config names the folder relative to $HOME.
    fs::create_directories(home / ".config");
    writeFile(home / ".config" / "user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
              "XDG_DOWNLOAD_DIR=\"$HOME/T\xC3\xA9l\xC3\xA9" "chargements/\"\n");
    const fs::path french = home / "T\xC3\xA9l\xC3\xA9" "chargements";
    fs::create_directory(french);
    auto calls = evaluateInPage(vesko::testing::runVeskoStdio({save}, {{"HOME", home.string()}, {"XDG_CONFIG_HOME", ""}}));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["value"], (french / "a.txt").string());
    EXPECT_EQ(readFile(french / "a.txt"), "A");

    // $XDG_CONFIG_HOME names an absolute folder that does not exist: the save
    // fails with the usual message and nothing is created on the way.
    fs::create_directories(home / "config");
    writeFile(home / "config" / "user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"" + (home / "gone" / "Inbox").string() + "\"\n");
    calls = evaluateInPage(
        vesko::testing::runVeskoStdio({save}, {{"HOME", home.string()}, {"XDG_CONFIG_HOME", (home / "config").string()}}));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["message"],
              "The file \xE2\x80\x9C" "a.txt\xE2\x80\x9D couldn\xE2\x80\x99t be saved because the folder "
              "\xE2\x80\x9CInbox\xE2\x80\x9D doesn\xE2\x80\x99t exist.");
    EXPECT_FALSE(fs::exists(home / "gone"));
}

}  // namespace
