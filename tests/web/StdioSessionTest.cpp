// `vesko --stdio` end to end: the real executable, its input and its output.

#include "tests/support/PageScripts.hpp"
#include "tests/support/Subprocess.hpp"
#include "tests/support/VeskoStdio.hpp"

#include <gtest/gtest.h>

#include <set>

using nlohmann::json;
using vesko::testing::runVeskoStdio;
using vesko::testing::runVeskoStdioText;

TEST(StdioSession, NavigatePrintsThePushForItsAction) {
    const auto scripts = runVeskoStdioText("{\"action\":\"navigate\",\"page\":\"batch.html\",\"navAction\":\"it's\"}\n");
    EXPECT_EQ(scripts, std::vector<std::string>{
                           "if(typeof handleBridgeAction==='function') handleBridgeAction('it\\'s')"});
    // The line itself is the script as a JSON string.
    auto raw = vesko::testing::runProgram({VESKO_EXECUTABLE, "--stdio"},
                                          "{\"action\":\"navigate\",\"page\":\"a.html\",\"navAction\":\"x\\\"y\"}\n");
    EXPECT_EQ(raw.exitStatus, 0);
    EXPECT_EQ(raw.out, "\"if(typeof handleBridgeAction==='function') handleBridgeAction('x\\\"y')\"\n");
}

TEST(StdioSession, UnknownAndMalformedInputPrintsNothingAndTheNextLineIsRead) {
    const std::string input =
        "not json at all\n"
        "{\"action\":\"Navigate\",\"page\":\"batch.html\",\"navAction\":\"a\"}\n"
        "[1,2,3]\n"
        "\"{\\\"action\\\":\\\"navigate\\\"}\"\n"
        "{\"action\":\"navigate\",\"navAction\":\"b\"}\n"
        "{\"action\":\"notify-complete\",\"badge\":\"2\",\"callbackId\":\"n\"}\n"
        "{\"action\":\"navigate\",\"page\":\"x.html\"}\n"
        "{\"truncated\":\n"
        "{\"action\":\"navigate\",\"page\":\"batch.html\",\"navAction\":\"after\"}\n";
    EXPECT_EQ(runVeskoStdioText(input),
              std::vector<std::string>{"if(typeof handleBridgeAction==='function') handleBridgeAction('after')"});
    EXPECT_TRUE(runVeskoStdioText("").empty());
}

TEST(StdioSession, EveryRoutedRequestIsAnsweredOnceBeforeExit) {
    // Requests that fail before touching anything: Base64 that does not decode.
    std::vector<json> requests;
    for (int i = 0; i < 40; ++i) {
        requests.push_back({{"action", "save-file"}, {"callbackId", "cb" + std::to_string(i)}, {"base64", "no!"}});
    }
    const auto scripts = runVeskoStdio(requests, {{"HOME", "/nonexistent-vesko-home"}});
    ASSERT_EQ(scripts.size(), requests.size());
    const json calls = vesko::testing::evaluateInPage(scripts);
    std::set<std::string> ids;
    for (const auto& call : calls) {
        EXPECT_EQ(call["call"], "reject");
        const std::string id = call["id"];
        EXPECT_EQ(call["message"], "Invalid base64 data");
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), requests.size());
}
