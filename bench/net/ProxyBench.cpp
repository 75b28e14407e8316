// The native cost of one proxied request, beside a bare libcurl request of the
// same URL to the same local server, measured in turns within one run.

#include "net/Proxy.hpp"
#include "tests/net/TestServer.hpp"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <numeric>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

vesko::testing::ProxyTestServer& server() {
    static vesko::testing::ProxyTestServer instance;
    return instance;
}

std::string url() {
    return "http://" + std::string(vesko::net::anthropicAPIHost()) +
           "/respond?body=%7B%22ok%22%3Atrue%2C%22items%22%3A%5B1%2C2%2C3%5D%7D";  // {"ok":true,"items":[1,2,3]}
}

size_t collect(char* bytes, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(bytes, size * count);
    return size * count;
}

void BM_ProxiedVersusBareRequest(benchmark::State& state) {
    const std::string connectTo = server().connectTo(std::string(vesko::net::anthropicAPIHost()));
    const std::string target = url();

    // Baseline: one easy handle, its connection kept, the body collected. It puts
    // the same request on the wire as the session does (the same header fields), so
    // the server's share of both figures is the same.
    CURL* easy = curl_easy_init();
    curl_slist* connect = curl_slist_append(nullptr, connectTo.c_str());
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
    curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connect);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Vesko");
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);

    vesko::net::ProxyOptions options;
    options.connectTo = {connectTo};

    auto proxied = [&] {
        std::promise<std::string> reply;
        auto future = reply.get_future();
        vesko::net::startProxyFetch({target, "GET", {{"Accept", "application/json"}}, std::nullopt}, "bench", options,
                                    [&reply](std::string script) { reply.set_value(std::move(script)); });
        return future.get();
    };
    auto bare = [&] {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK) state.SkipWithError("bare request failed");
        return body.size();
    };
    // Warm both connections.
    if (proxied().find("Bridge._resolve") == std::string::npos) state.SkipWithError("proxied request failed");
    bare();

    // Samples in turns, so both see the same machine; the medians keep a turn
    // that waited for a busy processor from weighing on either side.
    std::vector<double> bareUs, proxiedUs;
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(bare());
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(proxied());
        auto t2 = Clock::now();
        bareUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        proxiedUs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
    auto mean = [](const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / v.size(); };
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    state.counters["bare_us"] = mean(bareUs);
    state.counters["proxied_us"] = mean(proxiedUs);
    state.counters["ratio"] = mean(proxiedUs) / mean(bareUs);
    state.counters["bare_median_us"] = median(bareUs);
    state.counters["proxied_median_us"] = median(proxiedUs);
    state.counters["median_ratio"] = median(proxiedUs) / median(bareUs);
    const double bareMin = *std::min_element(bareUs.begin(), bareUs.end());
    const double proxiedMin = *std::min_element(proxiedUs.begin(), proxiedUs.end());
    state.counters["bare_min_us"] = bareMin;
    state.counters["proxied_min_us"] = proxiedMin;
    state.counters["min_ratio"] = proxiedMin / bareMin;
    curl_slist_free_all(connect);
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
}
BENCHMARK(BM_ProxiedVersusBareRequest)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
