// The proxy against a local HTTP server. The allowed hosts stay the built-in
// ones; the URL session's connection overrides send them to 127.0.0.1.

#include "net/Proxy.hpp"
#include "platform/Text.hpp"
#include "tests/net/TestServer.hpp"
#include "tests/support/PageScripts.hpp"
#include "tests/support/VeskoStdio.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>

using namespace std::chrono_literals;
using nlohmann::json;
using vesko::net::ProxyRequest;
using vesko::testing::evaluateInPage;

namespace {

std::string percentEncode(std::string_view text) {
    std::string out;
    char buffer[4];
    for (unsigned char c : text) {
        if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buffer, sizeof buffer, "%%%02X", c);
            out += buffer;
        }
    }
    return out;
}

int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// All values of the header `name` (case-insensitive) in an /echo answer.
std::vector<std::string> headerValues(const json& echo, std::string name) {
    std::vector<std::string> values;
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    name = lower(name);
    for (const auto& pair : echo.at("headers"))
        if (lower(pair[0].get<std::string>()) == name) values.push_back(pair[1].get<std::string>());
    return values;
}

class Proxy : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new vesko::testing::ProxyTestServer; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    static std::string api(const std::string& path) { return "http://" + std::string(vesko::net::anthropicAPIHost()) + path; }
    static std::string service(const std::string& path) { return "http://" + std::string(vesko::net::serviceHost()) + path; }

    static vesko::net::ProxyOptions options(std::chrono::milliseconds timeout = 10s) {
        vesko::net::ProxyOptions o;
        o.timeout = timeout;
        o.connectTo = {server->connectTo(std::string(vesko::net::anthropicAPIHost())),
                       server->connectTo(std::string(vesko::net::serviceHost()))};
        return o;
    }

    // Runs one request and returns its reply script, checking that exactly one came.
    static std::string fetch(ProxyRequest request, const vesko::net::ProxyOptions& o = options(),
                             const std::string& id = "p1") {
        struct State {
            std::atomic<int> replies{0};
            std::promise<std::string> first;
        };
        auto state = std::make_shared<State>();
        auto future = state->first.get_future();
        vesko::net::startProxyFetch(std::move(request), id, o, [state](std::string script) {
            if (state->replies.fetch_add(1) == 0) state->first.set_value(std::move(script));
        });
        if (future.wait_for(30s) != std::future_status::ready) {
            ADD_FAILURE() << "no reply";
            return {};
        }
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(state->replies.load(), 1);
        return future.get();
    }

    // What the page's bridge receives for one reply script.
    static json page(const std::string& script) {
        json calls = evaluateInPage({script});
        EXPECT_EQ(calls.size(), 1u) << calls.dump();
        return calls.empty() ? json() : calls[0];
    }

    static json resolved(const json& call) {
        EXPECT_EQ(call.value("call", ""), "resolve") << call.dump();
        return call.value("value", json());
    }

    static std::string rejected(const json& call) {
        EXPECT_EQ(call.value("call", ""), "reject") << call.dump();
        return call.value("message", "");
    }

    static vesko::testing::ProxyTestServer* server;
};

vesko::testing::ProxyTestServer* Proxy::server = nullptr;

TEST_F(Proxy, RefusesBadURLsAndHostsOffTheListBeforeSendingAnything) {
    const std::string host(vesko::net::anthropicAPIHost());
    const std::string invalid = "Bridge._reject('p1', 'Invalid URL')";
    const std::string restricted = "Bridge._reject('p1', 'Proxy restricted to allowed hosts')";
    const std::pair<std::string, std::string> cases[] = {
        {"", invalid},
        {"http://" + host + "/a b", invalid},
        {"https://" + host + ":99999/", invalid},
        {"http:" + host, invalid},
        {"https://x." + host + "/", restricted},             // sub-domain
        {"https://" + host + ".evil.example/", restricted},  // begins with an allowed name
        {"https://evil" + host + "/", restricted},           // ends with it
        {"https://" + host + "./", restricted},              // trailing dot
        {"https://API." + host.substr(host.find('.') + 1) + "/", restricted},  // case differs
        {"https://" + host + "@evil.example/", restricted},  // allowed name as user info
        {"https://evil.example/?u=https://" + host, restricted},
        {"file:///etc/passwd", restricted},
        {"/v1/messages", restricted},
        {host + "/v1/messages", restricted},
    };
    for (const auto& [url, script] : cases) {
        SCOPED_TRACE(url);
        EXPECT_EQ(fetch({url, "GET", {}, std::nullopt}), script);
    }
    // The refusal reaches the page as the message itself.
    EXPECT_EQ(rejected(page(restricted)), "Proxy restricted to allowed hosts");

    // Scheme and port are not part of the check.
    const vesko::net::HostSet& hosts = vesko::net::allowedProxyHosts();
    EXPECT_EQ(hosts.size(), 2u);
    for (const std::string& url : {"http://" + host + ":8443/x", "https://" + host + "/v1", "ftp://" + host + "/"}) {
        EXPECT_EQ(vesko::net::checkProxyURL(url, hosts).verdict, vesko::net::URLVerdict::Allowed) << url;
    }
}

TEST_F(Proxy, SendsMethodHeadersAndBodyAsGiven) {
    // GET with headers: names that differ only in case are one field, set once.
    json echo = resolved(page(fetch({api("/echo?q=1"), "GET",
                                     {{"X-Api-Key", "k-1"}, {"x-api-key", "k-2"}, {"Accept", "application/json"},
                                      {"X-Empty", ""}, {"X-Split", "a\r\nX-Injected: 1"}, {"Host", "evil.example"}},
                                     std::nullopt})));
    EXPECT_EQ(echo["status"], 200);
    const json& request = echo["body"];
    EXPECT_EQ(request["method"], "GET");
    EXPECT_EQ(request["path"], "/echo?q=1");
    EXPECT_EQ(headerValues(request, "x-api-key"), std::vector<std::string>{"k-2"});
    EXPECT_EQ(headerValues(request, "accept"), std::vector<std::string>{"application/json"});
    EXPECT_EQ(headerValues(request, "x-empty"), std::vector<std::string>{""});
    EXPECT_TRUE(headerValues(request, "x-split").empty());
    EXPECT_TRUE(headerValues(request, "x-injected").empty());
    EXPECT_EQ(headerValues(request, "host"), std::vector<std::string>{std::string(vesko::net::anthropicAPIHost())});
    EXPECT_EQ(request["body_hex"], "");

    // POST: the body's UTF-8 bytes, exactly, with no 100-continue wait.
    const std::string body = std::string(2000, 'x') + "{\"text\":\"h\xC3\xA9llo \xE2\x9C\x93 'q' \\\\ \"}\n";
    echo = resolved(page(fetch({service("/echo"), "POST", {{"Content-Type", "application/json"}}, body})));
    EXPECT_EQ(echo["body"]["method"], "POST");
    EXPECT_EQ(echo["body"]["body"], body);
    EXPECT_EQ(headerValues(echo["body"], "content-length"), std::vector<std::string>{std::to_string(body.size())});
    EXPECT_TRUE(headerValues(echo["body"], "expect").empty());
    EXPECT_EQ(headerValues(echo["body"], "host"), std::vector<std::string>{std::string(vesko::net::serviceHost())});

    // Other methods are used as given; an empty body is sent as such.
    echo = resolved(page(fetch({api("/echo"), "PUT", {}, std::string()})));
    EXPECT_EQ(echo["body"]["method"], "PUT");
    EXPECT_EQ(headerValues(echo["body"], "content-length"), std::vector<std::string>{"0"});
    echo = resolved(page(fetch({api("/echo"), "DELETE", {}, std::nullopt})));
    EXPECT_EQ(echo["body"]["method"], "DELETE");

    // A method that is no HTTP token fails as a transfer, its text intact in the page.
    EXPECT_EQ(rejected(page(fetch({api("/echo"), "it's\nbad", {}, std::nullopt}))),
              "The HTTP method \xE2\x80\x9Cit's\nbad\xE2\x80\x9D is not valid.");
}

TEST_F(Proxy, HandsThePageStatusAndBodyWhateverTheStatus) {
    auto respond = [](int status, std::string_view body) {
        return fetch({api("/respond?status=" + std::to_string(status) + "&body=" + percentEncode(body)), "GET",
                      {}, std::nullopt});
    };
    // An error status with a JSON body resolves.
    json value = resolved(page(respond(401, R"({"type":"error","error":{"message":"invalid x-api-key"}})")));
    EXPECT_EQ(value["status"], 401);
    EXPECT_EQ(value["body"]["error"]["message"], "invalid x-api-key");
    EXPECT_EQ(resolved(page(respond(500, "[1,2]")))["body"], json::parse("[1,2]"));

    // A body full of what would end or bend a string literal parses to the value
    // the text itself gives: escaped quotes and line breaks inside strings, raw
    // line feeds and carriage returns between members, quotes, backslashes, U+2028.
    const std::string tricky =
        "{\r\n \"a\": \"it's \\\"quoted\\\" \\\\ back\\\\slash\\n\\r line\",\n"
        " \"b\": \"\\u2028 \xE2\x80\xA8 \xE2\x80\xA9 '\\u0027'\",\r\n \"c\": [\"\\\\\", \"'\", \"\\\\'\"]\n}\r\n";
    value = resolved(page(respond(200, tricky)));
    EXPECT_EQ(value["status"], 200);
    EXPECT_EQ(value["body"], json::parse(tricky));

    // Readable text that is not JSON, an empty body and a 204 are turned down by the page.
    for (const auto& script : {respond(200, "<html>not json</html>"), respond(200, ""), respond(204, "")}) {
        EXPECT_EQ(rejected(page(script)), "Invalid JSON response");
    }
    EXPECT_EQ(respond(204, ""),
              "(function(){try{Bridge._resolve('p1',{status:204,body:JSON.parse('')})}catch(e){Bridge._reject('p1','Invalid "
              "JSON response')}})()");

    // Bytes that are not UTF-8: an overlong encoding, a lone continuation byte, a surrogate.
    for (const std::string& bad : {std::string("{\"a\":\"\xC0\xAF\"}"), std::string("[\"\x80\"]"),
                                  std::string("\"\xED\xA0\x80\"")}) {
        EXPECT_EQ(respond(200, bad), "Bridge._reject('p1', 'Empty response')");
    }
}

TEST_F(Proxy, TransferFailuresRejectWithTheirDescription) {
    // Nothing listens.
    auto o = options();
    o.connectTo = {std::string(vesko::net::anthropicAPIHost()) + "::127.0.0.1:" + std::to_string(closedPort())};
    std::string message = rejected(page(fetch({api("/echo"), "GET", {}, std::nullopt}, o)));
    EXPECT_NE(message.find("Failed to connect"), std::string::npos) << message;

    // The server takes the request and never answers: the idle time-out ends it.
    const auto start = std::chrono::steady_clock::now();
    message = rejected(page(fetch({api("/hang"), "GET", {}, std::nullopt}, options(1s))));
    EXPECT_EQ(message, "The request timed out.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // The server closes half-way through the body, or before any answer: the data is dropped.
    message = rejected(page(fetch({api("/close-early"), "GET", {}, std::nullopt})));
    EXPECT_NE(message.find("90 bytes remaining"), std::string::npos) << message;
    message = rejected(page(fetch({api("/drop"), "GET", {}, std::nullopt})));
    EXPECT_NE(message.find("Empty reply"), std::string::npos) << message;
}

TEST_F(Proxy, FollowsRedirectsOnlyWhileTheyStayOnAllowedHosts) {
    const std::string echo = service("/echo?landed=1");
    // To the other allowed host: followed, with the page's headers.
    json value = resolved(page(fetch({api("/redirect?to=" + percentEncode(echo)), "GET",
                                      {{"Authorization", "Bearer secret"}}, std::nullopt})));
    EXPECT_EQ(value["status"], 200);
    EXPECT_EQ(value["body"]["path"], "/echo?landed=1");
    EXPECT_EQ(headerValues(value["body"], "host"), std::vector<std::string>{std::string(vesko::net::serviceHost())});
    EXPECT_EQ(headerValues(value["body"], "authorization"), std::vector<std::string>{"Bearer secret"});

    // A relative Location stays on the same host; 307 keeps method and body, 303 turns to GET.
    value = resolved(page(fetch({api("/redirect?code=307&to=%2Fecho"), "POST", {}, std::string("{\"n\":1}")})));
    EXPECT_EQ(value["body"]["method"], "POST");
    EXPECT_EQ(value["body"]["body"], "{\"n\":1}");
    value = resolved(page(fetch({api("/redirect?code=303&to=%2Fecho"), "POST", {}, std::string("{\"n\":1}")})));
    EXPECT_EQ(value["body"]["method"], "GET");
    EXPECT_EQ(value["body"]["body"], "");

    // Anywhere else, including one hop later: refused before anything is sent there.
    const std::string away = "http://evil.example/steal";
    EXPECT_EQ(fetch({api("/redirect?to=" + percentEncode(away)), "GET", {{"Authorization", "Bearer secret"}}, std::nullopt}),
              "Bridge._reject('p1', 'Proxy restricted to allowed hosts')");
    const std::string twoHops = service("/redirect?to=" + percentEncode("http://x." + std::string(vesko::net::serviceHost()) + "/"));
    EXPECT_EQ(fetch({api("/redirect?code=301&to=" + percentEncode(twoHops)), "GET", {}, std::nullopt}),
              "Bridge._reject('p1', 'Proxy restricted to allowed hosts')");

    // A loop ends.
    EXPECT_EQ(rejected(page(fetch({api("/loop"), "GET", {}, std::nullopt}))),
              "The request was redirected too many times.");
}

TEST_F(Proxy, HundredRequestsAtOnceEachSettleOnceWithTheirOwnId) {
    constexpr int count = 100;
    std::mutex mutex;
    std::vector<std::string> scripts;
    std::promise<void> allIn;
    for (int i = 0; i < count; ++i) {
        vesko::net::startProxyFetch({api("/echo?n=" + std::to_string(i)), "GET", {}, std::nullopt},
                                    "req-" + std::to_string(i), options(), [&](std::string script) {
                                        std::lock_guard lock(mutex);
                                        scripts.push_back(std::move(script));
                                        if (scripts.size() == count) allIn.set_value();
                                    });
    }
    ASSERT_EQ(allIn.get_future().wait_for(60s), std::future_status::ready);
    std::this_thread::sleep_for(100ms);  // room for a stray second reply
    std::lock_guard lock(mutex);
    ASSERT_EQ(scripts.size(), static_cast<std::size_t>(count));
    const json calls = evaluateInPage(scripts);
    std::set<std::string> seen;
    for (const json& call : calls) {
        ASSERT_EQ(call["call"], "resolve") << call.dump();
        const std::string id = call["id"];
        EXPECT_TRUE(seen.insert(id).second) << id;
        EXPECT_EQ(call["value"]["body"]["path"], "/echo?n=" + id.substr(4));
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
}

TEST_F(Proxy, TheApplicationAnswersEveryRequestOnceThroughThePage) {
    // End to end through `vesko --stdio`, with the built-in hosts and no overrides:
    // nothing here may reach a server, so every request is refused or fails.
    const auto scripts = vesko::testing::runVeskoStdio({
        {{"action", "proxy-fetch"}, {"callbackId", "a"}, {"url", ""}},
        {{"action", "proxy-fetch"}, {"callbackId", "b"}, {"url", "http://127.0.0.1:" + std::to_string(server->port()) + "/echo"}},
        {{"action", "proxy-fetch"}, {"url", "https://x." + std::string(vesko::net::serviceHost()) + "/"}},
        {{"action", "proxy-fetch"}, {"callbackId", "d"}, {"url", "http://" + std::string(vesko::net::serviceHost()) + "/"},
         {"method", "bad method"}, {"headers", {{"n", 1}}}, {"body", {{"an", "object"}}}},
    });
    ASSERT_EQ(scripts.size(), 4u);
    const json calls = evaluateInPage(scripts);
    std::map<std::string, std::string> messages;
    for (const json& call : calls) {
        EXPECT_EQ(call["call"], "reject") << call.dump();
        messages[call["id"]] = call.value("message", "");
    }
    EXPECT_EQ(messages["a"], "Invalid URL");
    EXPECT_EQ(messages["b"], "Proxy restricted to allowed hosts");
    EXPECT_EQ(messages[""], "Proxy restricted to allowed hosts");
    EXPECT_EQ(messages["d"], "The HTTP method \xE2\x80\x9C" "bad method\xE2\x80\x9D is not valid.");
}

TEST(Utf8, AcceptsWellFormedTextOnly) {
    EXPECT_TRUE(platform::text::isValidUTF8(std::string("nul\0inside", 10)));
    using platform::text::isValidUTF8;
    EXPECT_TRUE(isValidUTF8(""));
    EXPECT_TRUE(isValidUTF8("plain ascii text that is longer than eight bytes"));
    EXPECT_TRUE(isValidUTF8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xEF\xBF\xBF"));
    EXPECT_TRUE(isValidUTF8(std::string("a\0b", 3)));
    for (const char* bad : {"\x80", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "abcdefgh\xC3", "\xE2\x82", "\xC3\x28"}) {
        EXPECT_FALSE(isValidUTF8(bad)) << json(std::string(bad)).dump(-1, ' ', true, json::error_handler_t::replace);
    }
}

}  // namespace
