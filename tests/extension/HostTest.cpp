// vesko-extension through pipes, as a browser drives it: sessions of many
// messages, every kind of malformed frame, and a long run watched for growth.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <thread>

#include "tests/extension/HostProcess.hpp"
#include "tests/support/Sanitizers.hpp"

namespace {

using nlohmann::json;
using vesko_extension_testing::frame;
using vesko_extension_testing::HostProcess;
using vesko_extension_testing::lengthOnly;

constexpr std::uint32_t kMaxIncoming = 64u * 1024 * 1024;
constexpr std::uint32_t kMaxOutgoing = 1024u * 1024;

std::size_t countContaining(const std::vector<std::string>& lines, std::string_view text) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

json echoOf(const json& message) { return json{{"echo", message}}; }

TEST(ExtensionHost, AnswersManyMessagesInOneSessionInOrder) {
    HostProcess host;
    std::vector<json> messages;
    for (int i = 0; i < 300; ++i) {
        switch (i % 6) {
        case 0: messages.push_back({{"n", i}, {"text", "héllo ✓ \n \"quoted\""}, {"list", {1, 2.5, nullptr, true}}}); break;
        case 1: messages.push_back("string " + std::to_string(i)); break;
        case 2: messages.push_back(i * 1000003); break;
        case 3: messages.push_back(nullptr); break;
        case 4: messages.push_back(json::array({json::object(), json::array(), "\u0000"})); break;
        case 5: messages.push_back(std::string(static_cast<std::size_t>(i) * 97, 'z')); break;
        }
    }
    // The first half one at a time, as sendNativeMessage does; the second
    // half written in one go, as a long-lived port may.
    for (std::size_t i = 0; i < 150; ++i) {
        ASSERT_TRUE(host.send(frame(messages[i].dump())));
        auto reply = host.receive();
        ASSERT_TRUE(reply) << "no reply to message " << i;
        EXPECT_EQ(json::parse(*reply), echoOf(messages[i])) << i;
    }
    std::string batch;
    for (std::size_t i = 150; i < messages.size(); ++i) batch += frame(messages[i].dump());
    // Written from another thread, as the browser's reader and writer are
    // independent: the replies fill the pipe long before the batch is written.
    std::thread writer([&] { EXPECT_TRUE(host.send(batch)); });
    for (std::size_t i = 150; i < messages.size(); ++i) {
        auto reply = host.receive();
        if (!reply) {
            ADD_FAILURE() << "no reply to message " << i;
            host.closeOutput();  // lets the writer fail instead of block
            break;
        }
        EXPECT_EQ(json::parse(*reply), echoOf(messages[i])) << i;
    }
    writer.join();
    host.closeInput();
    EXPECT_TRUE(host.outputEnded());
    EXPECT_EQ(host.waitForExit(), 0);

    auto lines = host.logLines();
    ASSERT_EQ(lines.size(), messages.size());
    EXPECT_EQ(lines[0], "vesko-extension: Received message from browser.runtime.sendNativeMessage: " +
                            messages[0].dump() + " (profile: none)");
    // A line break inside a message never splits its log line.
    EXPECT_NE(lines[0].find("\\n"), std::string::npos);
    EXPECT_EQ(lines[1], "vesko-extension: Received message from browser.runtime.sendNativeMessage: "
                        "string 1 (profile: none)");
    EXPECT_EQ(lines[3], "vesko-extension: Received message from browser.runtime.sendNativeMessage: "
                        "<null> (profile: none)");
}

TEST(ExtensionHost, SkipsCorrectlyFramedBadBodiesAndAnswersWhatFollows) {
    struct Case {
        const char* name;
        std::string body;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"not JSON", "{\"a\":", "is not valid JSON; skipped"},
        {"two JSON values", "1 2", "is not valid JSON; skipped"},
        // A JSON parser may stop at a NUL byte; what follows it still counts.
        {"JSON, a NUL byte, more", std::string("{\"a\":1}\0junk", 12), "is not valid JSON; skipped"},
        {"empty body", "", "is not valid JSON; skipped"},
        {"not UTF-8 inside a string", "\"caf\xE9\"", "is not valid UTF-8; skipped"},
        {"not UTF-8 outside a string", "\xFF\xFE{}", "is not valid UTF-8; skipped"},
        {"nested too deeply", std::string(100000, '[') + std::string(100000, ']'), "nests deeper than 1000 levels"},
    };
    for (const auto& c : cases) {
        HostProcess host;
        ASSERT_TRUE(host.send(frame(c.body) + frame(R"({"after":true})")));
        auto reply = host.receive();
        ASSERT_TRUE(reply) << c.name;
        EXPECT_EQ(json::parse(*reply), echoOf({{"after", true}})) << c.name;
        host.closeInput();
        EXPECT_TRUE(host.outputEnded()) << c.name;
        EXPECT_EQ(host.waitForExit(), 0) << c.name;
        auto lines = host.logLines();
        ASSERT_EQ(lines.size(), 2u) << c.name << "\n" << host.log();
        EXPECT_NE(lines[0].find(c.logged), std::string::npos) << c.name << ": " << lines[0];
        EXPECT_NE(lines[1].find("Received message"), std::string::npos) << c.name;
    }
}

TEST(ExtensionHost, BrokenFramingEndsTheSessionCleanlyAfterAnsweringWhatCameBefore) {
    struct Case {
        const char* name;
        std::string tail;
        int status;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"input ends between frames", "", 0, nullptr},
        {"input ends inside a length", std::string("\x05\x00", 2), 0, "inside a length (2 bytes of 4)"},
        {"input ends inside a body", lengthOnly(10) + "[1,2", 0, "inside a message (4 bytes of 10)"},
        {"input ends right after a length", lengthOnly(3), 0, "inside a message (0 bytes of 3)"},
        {"length over the browser's limit", lengthOnly(kMaxIncoming + 1) + "{}", 1,
         "length 67108865 exceeds the limit of 67108864 bytes"},
        {"length that is text", "GET / HTTP/1.1\r\n", 1, "exceeds the limit"},
    };
    for (const auto& c : cases) {
        HostProcess host;
        ASSERT_TRUE(host.send(frame("\"before\"") + c.tail));
        host.closeInput();
        auto reply = host.receive();
        ASSERT_TRUE(reply) << c.name;
        EXPECT_EQ(*reply, R"({"echo":"before"})") << c.name;
        EXPECT_TRUE(host.outputEnded()) << c.name;
        EXPECT_EQ(host.waitForExit(), c.status) << c.name;
        auto lines = host.logLines();
        ASSERT_EQ(lines.size(), c.logged ? 2u : 1u) << c.name << "\n" << host.log();
        if (c.logged) {
            EXPECT_NE(lines[1].find(c.logged), std::string::npos) << c.name << ": " << lines[1];
        }
    }
}

TEST(ExtensionHost, MessageSizesUpToTheBrowserLimitsAreHonoured) {
    const json tooLarge = {{"error", "Reply too large"}, {"limit", kMaxOutgoing}};
    HostProcess host;
    // The largest reply the browser accepts is echoed; one byte more is
    // answered with the error object, and the session goes on.
    const std::string fits(kMaxOutgoing - 11, 'a');
    ASSERT_TRUE(host.send(frame(json(fits).dump())));
    auto reply = host.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), kMaxOutgoing);
    EXPECT_EQ(json::parse(*reply), echoOf(fits));

    ASSERT_TRUE(host.send(frame(json(std::string(kMaxOutgoing - 10, 'b')).dump())));
    reply = host.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(json::parse(*reply), tooLarge);

    // Line breaks written back as escapes double the reply: only writing it
    // shows that it is too long.
    ASSERT_TRUE(host.send(frame(json(std::string(600000, '\n')).dump())));
    reply = host.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(json::parse(*reply), tooLarge);

    // A message of exactly the incoming limit is read whole, and answered
    // without decoding it: the host's peak memory stays near the frame's size.
    std::string largest = "[";
    largest.reserve(kMaxIncoming);
    while (largest.size() < kMaxIncoming - 2) largest += "1,";
    largest.back() = ']';
    largest.resize(kMaxIncoming, ' ');
    ASSERT_TRUE(host.send(frame(largest)));
    reply = host.receive(std::chrono::seconds(60));
    ASSERT_TRUE(reply);
    EXPECT_EQ(json::parse(*reply), tooLarge);
    const long peak = host.peakResidentKiB();
    if (!vesko::testing::kUnderSanitizer) {
        EXPECT_LT(peak, 3 * 64 * 1024) << "peak RSS " << peak << " KiB";
    }
    std::printf("host peak RSS after a 64 MiB message: %ld KiB\n", peak);

    // The same size that is not JSON is only logged.
    largest.back() = ',';
    ASSERT_TRUE(host.send(frame(largest) + frame("[\"still here\"]")));
    reply = host.receive(std::chrono::seconds(60));
    ASSERT_TRUE(reply);
    EXPECT_EQ(json::parse(*reply), echoOf({"still here"}));

    host.closeInput();
    EXPECT_EQ(host.waitForExit(), 0);
    auto lines = host.logLines();
    ASSERT_EQ(lines.size(), 7u) << host.log();
    EXPECT_EQ(countContaining(lines, "Received message"), 3u);
    EXPECT_EQ(countContaining(lines, "cannot be echoed within the browser's limit of 1048576 bytes; sent an error object"), 2u);
    EXPECT_EQ(countContaining(lines, "exceeds the browser's limit of 1048576 bytes; sent an error object"), 1u);
    EXPECT_EQ(countContaining(lines, "Native message of 67108864 bytes is not valid JSON; skipped"), 1u);
    // The log keeps the line of a large message short.
    EXPECT_LT(lines[2].size(), 20u * 1024);
    EXPECT_NE(lines[2].find("more bytes)"), std::string::npos) << lines[2].substr(0, 200);
}

TEST(ExtensionHost, ExitsCleanlyWhenTheBrowserStopsReading) {
    HostProcess host;
    host.closeOutput();
    host.send(frame("\"nobody listens\""));
    host.closeInput();
    // Not killed by SIGPIPE: it notices, logs and ends.
    EXPECT_EQ(host.waitForExit(), 0);
    EXPECT_NE(host.log().find("Cannot write reply"), std::string::npos) << host.log();
}

TEST(ExtensionHost, WaitsForInputAndOutputLeftNonBlocking) {
    HostProcess host(/*nonBlocking=*/true);
    // A frame in pieces, with pauses the host must wait through.
    const std::string bytes = frame(R"({"slow":true})");
    ASSERT_TRUE(host.send(bytes.substr(0, 2)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(host.send(bytes.substr(2, 6)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(host.send(bytes.substr(8)));
    auto reply = host.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(json::parse(*reply), echoOf({{"slow", true}}));
    // A reply bigger than the pipe holds, read only after a pause.
    const std::string large(900000, 'L');
    ASSERT_TRUE(host.send(frame(json(large).dump())));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    reply = host.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(json::parse(*reply), echoOf(large));
    host.closeInput();
    EXPECT_EQ(host.waitForExit(), 0);
    EXPECT_EQ(host.logLines().size(), 2u) << host.log();
}

TEST(ExtensionHost, TenThousandMessagesLeaveMemoryFlat) {
    if (vesko::testing::kUnderSanitizer) GTEST_SKIP() << "memory figures under a sanitizer are the sanitizer's";
    HostProcess host;
    auto roundTrip = [&](int i) {
        json message = {{"i", i}, {"payload", std::string(static_cast<std::size_t>(500 + i % 1500), 'p')},
                        {"list", json::array({i, "x", nullptr})}};
        if (!host.send(frame(message.dump()))) return false;
        auto reply = host.receive();
        return reply && json::parse(*reply) == echoOf(message);
    };
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(roundTrip(i)) << i;
    const long before = host.residentKiB();
    for (int i = 500; i < 10500; ++i) ASSERT_TRUE(roundTrip(i)) << i;
    const long after = host.residentKiB();
    ASSERT_GT(before, 0);
    // Each message is 0.5 to 2 KiB: keeping anything of each would grow by
    // several MiB over the run.
    EXPECT_LT(after - before, 512) << "RSS before " << before << " KiB, after " << after << " KiB";
    RecordProperty("rss_before_kib", std::to_string(before));
    RecordProperty("rss_after_kib", std::to_string(after));
    std::printf("host RSS after 500 messages: %ld KiB, after 10500: %ld KiB\n", before, after);
    host.closeInput();
    EXPECT_EQ(host.waitForExit(), 0);
}

}  // namespace
