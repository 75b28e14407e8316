// `vesko --stdio` under 10,000 random requests, well-formed or not: each one
// is answered exactly once or dropped as the bridge's rules say, and nothing
// is written outside the two destination folders.

#include "tests/support/PageScripts.hpp"
#include "tests/support/Subprocess.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T>
    const T& pick(const std::vector<T>& from) { return from[static_cast<std::size_t>(below(static_cast<int>(from.size())))]; }

    // A value of any JSON type, with texts that stress the replies.
    json anyValue(int depth = 0) {
        switch (below(depth > 1 ? 5 : 7)) {
            case 0: return nullptr;
            case 1: return chance(50);
            case 2: return pick<json>({0, -1, 7, 2.5, 1e300, -9223372036854775807LL - 1, 18446744073709551615ULL});
            case 3: case 4: return text();
            case 5: { json a = json::array(); for (int i = below(3); i > 0; --i) a.push_back(anyValue(depth + 1)); return a; }
            default: { json o = json::object(); for (int i = below(3); i > 0; --i) o[text()] = anyValue(depth + 1); return o; }
        }
    }

    std::string text() {
        static const std::vector<std::string> pieces = {"a", "Z", "0", "'", "\\", "\n", "\r", "\"", " ", "/", "..",
                                                        ".", "\xE2\x80\xA8", "\xC3\xA9", "\xF0\x9F\x98\x80", "<", "%2F", "\t"};
        std::string out;
        for (int i = below(12); i > 0; --i) out += pick(pieces);
        return out;
    }

    std::string base64() {
        if (chance(30)) return text();  // mostly not Base64 at all
        static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        for (int i = 4 * below(20); i > 0; --i) out += alphabet[static_cast<std::size_t>(below(64))];
        if (!out.empty() && chance(30)) out.back() = '=';
        return out;
    }

    std::string filename() {
        if (chance(50)) return pick<std::string>({"out.bin", "it's.json", "a b.txt", "x", "fixture.json.gz", ".hidden"});
        return pick<std::string>({"../escape", "../../escape", "..", ".", "", "a/b", "/tmp/abs", "sub/../x",
                                  std::string(300, 'n'), std::string("nul\0x", 5), "\xE2\x80\xA8.txt", "back\\slash"});
    }

    std::mt19937 random_;
};

// Whether a callback id reaches the reply as it is (letters, digits, _ and -).
bool safeId(const std::string& id) {
    return id.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") == std::string::npos;
}

std::vector<std::string> filesUnder(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_directory()) found.push_back(fs::relative(entry.path(), root).string());
    return found;
}

TEST(StdioProperty, TenThousandRandomRequestsSettleOnceOrAreDropped) {
    std::string pattern = (fs::temp_directory_path() / "vesko-property-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path root = pattern, home = root / "home", work = root / "work";
    fs::create_directories(home / "Downloads");
    fs::create_directories(work);
    // A runner that answers every program at once, without a browser.
    const fs::path runner = root / "runner";
    std::ofstream(runner) << "#!/bin/sh\ncat >/dev/null\necho 1\n";
    ::chmod(runner.c_str(), 0755);

    Generator g(20261208);
    const std::vector<std::string> routed = {"extract-tab", "extract-tab-by-url", "extract-tab-by-index",
                                             "get-tab-urls", "extract-all-tabs", "proxy-fetch",
                                             "save-file", "save-fixture"};
    const std::vector<std::string> unanswered = {"navigate", "notify-complete"};
    const std::vector<std::string> unknown = {"Save-File", "save-file ", "", "proxy", "extract-tab-by-indexx"};
    std::string input;
    std::map<std::string, int> owed;  // callback id -> replies due
    for (int i = 0; i < 10000; ++i) {
        // A few lines that are no request object at all.
        if (g.chance(3)) {
            input += g.pick<std::string>({"not json", "[1,2]", "\"text\"", "{\"action\":", "null", "{}"}) + "\n";
            continue;
        }
        json request = json::object();
        const int kind = g.below(100);
        const std::string action = kind < 5 ? g.pick(unknown) : kind < 10 ? g.pick(unanswered) : g.pick(routed);
        request["action"] = g.chance(2) ? g.anyValue() : json(action);
        const bool expensive = action.starts_with("extract") || action == "get-tab-urls";
        // The id: unique and safe for most, missing, of another type, or unsafe.
        std::optional<std::string> id;
        const int idKind = g.below(100);
        if (idKind < 80) id = "r" + std::to_string(i) + g.pick<std::string>({"", "_x", "-Y9"});
        else if (idKind < 90) id = "r" + std::to_string(i) + g.pick<std::string>({"'", "\\", " ", "\n", ".", "\xC3\xA9"});
        if (id) request["callbackId"] = *id;
        else if (g.chance(50)) request["callbackId"] = g.anyValue();
        // Arguments: the right type most of the time, anything otherwise.
        request["page"] = g.chance(80) ? json(g.filename()) : g.anyValue();
        request["filename"] = g.chance(80) ? json(g.filename()) : g.anyValue();
        request["base64"] = g.chance(80) ? json(g.base64()) : g.anyValue();
        if (g.chance(70)) request["json"] = g.text();
        request["url"] = g.pick<json>({"http://127.0.0.1:9/x", "https://example.invalid/", "not a url", "", g.anyValue()});
        if (g.chance(30)) request["headers"] = g.anyValue();
        if (g.chance(30)) request["tabIndex"] = g.anyValue();
        if (g.chance(30)) request["badge"] = g.anyValue();
        // The runner is a process each: keep those few.
        if (expensive && !g.chance(5)) request["action"] = "save-file";

        const json& sent = request["action"];
        const std::string callbackId = request.contains("callbackId") && request["callbackId"].is_string()
                                           ? request["callbackId"].get<std::string>()
                                           : "";
        const bool answers = sent.is_string() &&
                             std::find(routed.begin(), routed.end(), sent.get<std::string>()) != routed.end() &&
                             safeId(callbackId);
        if (answers) ++owed[callbackId];
        input += request.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    }

    auto run = vesko::testing::runProgram(
        {"/bin/sh", "-c", "cd \"$1\" && exec \"$2\" --stdio", "sh", work.string(), VESKO_EXECUTABLE}, input,
        {{"HOME", home.string()}, {"VESKO_OSASCRIPT", runner.string()}});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::vector<std::string> scripts;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) scripts.push_back(json::parse(line).get<std::string>());

    std::map<std::string, int> answered;
    for (const json& call : vesko::testing::evaluateInPage(scripts)) {
        ASSERT_TRUE(call["call"] == "resolve" || call["call"] == "reject") << call.dump();
        ++answered[call["id"].get<std::string>()];
    }
    EXPECT_EQ(answered, owed);

    // Only the two destination folders have files; the runner is ours.
    for (const auto& file : filesUnder(root)) {
        const bool allowed = file.starts_with("home/Downloads/") ||
                             file.starts_with("home/lantern/test_fixtures/auto/") || file == "runner";
        EXPECT_TRUE(allowed) << file;
        EXPECT_EQ(file.find("/.vesko-"), std::string::npos) << "a temporary was left: " << file;
    }
    fs::remove_all(root);
}

}  // namespace
