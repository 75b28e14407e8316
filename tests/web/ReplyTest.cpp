// The reply and push scripts: their exact text for ordinary input, and that
// any text at all reaches the page unchanged when node evaluates them.

#include "tests/support/PageScripts.hpp"
#include "tests/support/WithinTime.hpp"
#include "web/Reply.hpp"

#include <gtest/gtest.h>

#include <random>

namespace reply = vesko::reply;
using nlohmann::json;
using vesko::testing::evaluateInPage;

TEST(ReplyForms, ExactTextForOrdinaryInput) {
    EXPECT_EQ(reply::resolveValue("cb1", "[1,2]"), "Bridge._resolve('cb1', [1,2])");
    EXPECT_EQ(reply::resolveParsed("cb1", R"({"a":"b"})"), R"(Bridge._resolve('cb1', JSON.parse('{"a":"b"}')))");
    EXPECT_EQ(reply::resolveText("cb1", "/home/u/Downloads/a.txt"),
              "Bridge._resolve('cb1', '/home/u/Downloads/a.txt')");
    EXPECT_EQ(reply::rejectMessage("cb1", "Safari is not running.", reply::MessageEscaping::Message),
              "Bridge._reject('cb1', 'Safari is not running.')");
    EXPECT_EQ(reply::rejectFixed("", reply::FixedReject::InvalidURL), "Bridge._reject('', 'Invalid URL')");
    EXPECT_EQ(reply::rejectFixed("x", reply::FixedReject::ProxyRestricted),
              "Bridge._reject('x', 'Proxy restricted to allowed hosts')");
    EXPECT_EQ(reply::rejectFixed("x", reply::FixedReject::EmptyResponse), "Bridge._reject('x', 'Empty response')");
    EXPECT_EQ(reply::rejectFixed("x", reply::FixedReject::InvalidBase64), "Bridge._reject('x', 'Invalid base64 data')");
    EXPECT_EQ(reply::rejectFixed("x", reply::FixedReject::InvalidJSON), "Bridge._reject('x', 'Invalid JSON data')");
    EXPECT_EQ(reply::resolveFetchResponse("c", 200, R"({"ok":true})"),
              R"((function(){try{Bridge._resolve('c',{status:200,body:JSON.parse('{"ok":true}')})})"
              R"(catch(e){Bridge._reject('c','Invalid JSON response')}})())");
    EXPECT_EQ(reply::pushAction("fetch"), "if(typeof handleBridgeAction==='function') handleBridgeAction('fetch')");
}

TEST(ReplyForms, EscapingsTouchTheCharactersTheyName) {
    EXPECT_EQ(reply::parseEscape("a\\b'c\nd\re"), "a\\\\b\\'c\\nde");
    EXPECT_EQ(reply::bodyEscape("a\\b'c\nd"), "a\\\\b\\'c\\nd");
    EXPECT_EQ(reply::messageEscape("it's\nnew"), "it\\'s\\nnew");
    EXPECT_EQ(reply::quoteEscape("it's"), "it\\'s");
    EXPECT_EQ(reply::pushAction("it's"), "if(typeof handleBridgeAction==='function') handleBridgeAction('it\\'s')");
    // Everything else passes through untouched, multi-byte text included.
    const std::string plain = "Grüße, 東京 \"quoted\" <b>&amp;</b> \t 🙂";
    EXPECT_EQ(reply::parseEscape(plain), plain);
    EXPECT_EQ(reply::quoteEscape(plain), plain);
}

TEST(ReplyForms, TextThatWouldBreakTheLiteralIsEscapedToo) {
    // Carriage returns in bodies, line breaks and backslashes in messages and
    // plain strings: escaped, so the script still runs.
    EXPECT_EQ(reply::bodyEscape("a\rb"), "a\\rb");
    EXPECT_EQ(reply::quoteEscape("a\\b\nc\rd"), "a\\\\b\\nc\\rd");
    EXPECT_EQ(reply::messageEscape("a\\b\rc"), "a\\\\b\\rc");
    EXPECT_EQ(reply::quoteEscape("\xE2\x80\xA8|\xE2\x80\xA9"), "\\u2028|\\u2029");
}

namespace {

// Text made of the characters that matter to the escapings, mixed with
// ordinary and multi-byte ones.
std::string awkwardText(std::mt19937& random, std::size_t length) {
    static const std::vector<std::string> pieces = {
        "'", "\\", "\n", "\r", "\"", "\xE2\x80\xA8", "\xE2\x80\xA9", "a", " ", "é", "東", "🙂",
        "\\n", "\\'", "${x}", "`", "</script>", "\t", "\\u0041", "\x01"};
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += pieces[pick(random)];
    return text;
}

}  // namespace

TEST(ReplyForms, AnyTextReachesThePageUnchangedInEveryForm) {
    std::mt19937 random(20261208);
    std::vector<std::string> texts = {"", "plain", "it's", "a\\b", "line\nfeed", "carriage\rreturn",
                                      "\r\n", "\xE2\x80\xA8", "\\'\\\n"};
    for (int i = 0; i < 60; ++i) texts.push_back(awkwardText(random, 1 + i % 23));
    for (int i = 0; i < 8; ++i) texts.push_back(awkwardText(random, 100 + 37 * i));  // long enough for block paths

    std::vector<std::string> scripts;
    for (const auto& text : texts) {
        const std::string asJson = json(text).dump();  // a JSON text holding the string
        scripts.push_back(reply::resolveText("t", text));
        scripts.push_back(reply::rejectMessage("m", text, reply::MessageEscaping::Message));
        scripts.push_back(reply::rejectMessage("q", text, reply::MessageEscaping::Quote));
        scripts.push_back(reply::resolveParsed("p", asJson));
        scripts.push_back(reply::resolveFetchResponse("f", 201, asJson));
        scripts.push_back(reply::resolveValue("v", asJson));
        scripts.push_back(reply::pushAction(text));
    }
    const json calls = evaluateInPage(scripts);
    ASSERT_EQ(calls.size(), scripts.size()) << calls.dump();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto& text = texts[i];
        const json* c = &calls[i * 7];
        SCOPED_TRACE(json(text).dump());
        EXPECT_EQ(c[0], (json{{"call", "resolve"}, {"id", "t"}, {"value", text}}));
        EXPECT_EQ(c[1], (json{{"call", "reject"}, {"id", "m"}, {"message", text}}));
        EXPECT_EQ(c[2], (json{{"call", "reject"}, {"id", "q"}, {"message", text}}));
        EXPECT_EQ(c[3], (json{{"call", "resolve"}, {"id", "p"}, {"value", text}}));
        EXPECT_EQ(c[4], (json{{"call", "resolve"}, {"id", "f"}, {"value", {{"status", 201}, {"body", text}}}}));
        EXPECT_EQ(c[5], (json{{"call", "resolve"}, {"id", "v"}, {"value", text}}));
        EXPECT_EQ(c[6], (json{{"call", "action"}, {"action", text}}));
    }
}

TEST(ReplyForms, JsonTextsArriveAsTheirOwnTextMinusCarriageReturns) {
    // Raw line breaks and carriage returns between tokens, quotes and
    // backslashes inside strings: JSON.parse sees the text itself (parse
    // escaping drops carriage returns; body escaping keeps them).
    const std::string text = "{\r\n  \"title\": \"It's \\\"quoted\\\" \\\\ here\",\r\n  \"n\": [1, 2]\n}";
    const json expected = json::parse(text);
    const json calls = evaluateInPage({reply::resolveParsed("a", text), reply::resolveFetchResponse("b", 200, text)});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["value"], expected);
    EXPECT_EQ(calls[1]["value"]["body"], expected);
}

TEST(ReplyForms, FetchResponseWithABodyThatIsNotJsonRejects) {
    const json calls = evaluateInPage({reply::resolveFetchResponse("z", 500, "<html>oops</html>"),
                                       reply::resolveFetchResponse("e", 0, "")});
    EXPECT_EQ(calls[0], (json{{"call", "reject"}, {"id", "z"}, {"message", "Invalid JSON response"}}));
    EXPECT_EQ(calls[1], (json{{"call", "reject"}, {"id", "e"}, {"message", "Invalid JSON response"}}));
}

TEST(ReplyForms, PushIsHarmlessOnAPageWithoutHandler) {
    // The stub defines handleBridgeAction; a page without one must not throw.
    const json calls = evaluateInPage({"handleBridgeAction = undefined", reply::pushAction("fetch")});
    EXPECT_TRUE(calls.empty()) << calls.dump();
}

namespace {

// The escapings written out plainly, one character at a time.
std::string referenceEscape(const std::string& text, bool dropCarriageReturns) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (text.compare(i, 3, "\xE2\x80\xA8") == 0 || text.compare(i, 3, "\xE2\x80\xA9") == 0) {
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else if (c == '\\') out += "\\\\";
        else if (c == '\'') out += "\\'";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += dropCarriageReturns ? "" : "\\r";
        else out += c;
    }
    return out;
}

}  // namespace

TEST(ReplyForms, EveryEscapingPathAgreesWithThePlainRules) {
    // Long texts go through the block-wise paths; the byte-wise tail and the
    // portable path must give the same text.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> length(0, 400);
    std::uniform_int_distribution<int> density(1, 60);
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int n = length(random), specials = density(random);
        std::uniform_int_distribution<int> roll(0, 99);
        static const std::vector<std::string> awkward = {"'", "\\", "\n", "\r", "\xE2\x80\xA8", "\xE2\x80\xA9",
                                                         "\xE2\x80\x99", "\xE2", "é"};
        std::uniform_int_distribution<std::size_t> pick(0, awkward.size() - 1);
        for (int i = 0; i < n; ++i) text += roll(random) < specials ? awkward[pick(random)] : std::string(1, 'a' + i % 26);
        SCOPED_TRACE(json(text).dump(-1, ' ', false, json::error_handler_t::replace));
        for (bool wide : {true, false}) {
            reply::detail::allowWideEscaping(wide);
            ASSERT_EQ(reply::parseEscape(text), referenceEscape(text, true)) << "wide " << wide;
            ASSERT_EQ(reply::bodyEscape(text), referenceEscape(text, false)) << "wide " << wide;
            ASSERT_EQ(reply::resolveParsed("i", text), "Bridge._resolve('i', JSON.parse('" + referenceEscape(text, true) + "'))");
        }
    }
    reply::detail::allowWideEscaping(true);
}

TEST(ReplyForms, LongRunsOfStrayContinuationBytesAreEscapedToo) {
    // Bytes that belong to no character (a folder name of 0x80 bytes): a run
    // longer than the piece the escaping takes at a time.
    const std::string stray(5000, '\x80');
    auto escaped = vesko::testing::withinTime(std::chrono::seconds(10), [stray] {
        return reply::resolveText("cb", stray + "'" + stray);
    });
    ASSERT_TRUE(escaped) << "the escaping does not end";
    EXPECT_EQ(*escaped, "Bridge._resolve('cb', '" + stray + "\\'" + stray + "')");
}

TEST(ReplyForms, ALineSeparatorIsEscapedWholeWhereverThePiecesEnd) {
    // Long texts are escaped piece by piece; a separator followed by stray
    // continuation bytes, at every place in the text, must never be cut in two.
    for (std::size_t at = 0; at + 6 <= 1000; ++at) {
        std::string text(1000, 'a');
        text.replace(at, 6, "\xE2\x80\xA8\x80\x80\x80");
        ASSERT_EQ(reply::bodyEscape(text), referenceEscape(text, false)) << "separator at " << at;
    }
}
