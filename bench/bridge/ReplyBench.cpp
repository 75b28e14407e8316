// Building the resolve script for a large extraction output, against a plain
// memcpy of the same bytes.

#include "bench/support/RatioReporter.hpp"
#include "web/Reply.hpp"

#include <nlohmann/json.hpp>

#include <cstring>
#include <string>

namespace {

// An extraction result of about 200,000 characters, shaped like real output:
// HTML with attributes (quotes escaped in JSON), paragraphs (line breaks
// escaped in JSON), apostrophes and some non-ASCII text.
const std::string& extractionOutput() {
    static const std::string output = [] {
        std::string html = "<html><head><title>It's a long read</title></head><body><article>";
        std::string text;
        for (int i = 0; html.size() < 150000; ++i) {
            const std::string paragraph = "The council's decision on the \"river plan\" was delayed again, said "
                                          "Zoë Müller, as residents gathered at the hall on Tuesday (" +
                                          std::to_string(i) + ").";
            html += "<p class=\"body-text\" data-index=\"" + std::to_string(i) + "\">" + paragraph + "</p>\n";
            text += paragraph + "\n\n";
        }
        html += "</article></body></html>";
        nlohmann::json result = {{"url", "https://news.example.com/2024/05/17/river-plan"},
                                 {"title", "It's a long read"},
                                 {"publication", "news.example.com"},
                                 {"raw_html", html},
                                 {"raw_text", text.substr(0, 200000 - html.size() > 0 ? 40000 : 0)},
                                 {"head_html", "<meta name=\"author\" content=\"Zoë Müller\">"},
                                 {"header_html", "<h1>It's a long read</h1>"},
                                 {"url_date", "2024-05-17"}};
        std::string json = result.dump();
        json.resize(200000, ' ');  // exactly 200,000 characters (ASCII padding keeps it valid UTF-8)
        return json;
    }();
    return output;
}

void BM_ResolveParsed(benchmark::State& state) {
    const std::string& output = extractionOutput();
    for (auto _ : state) {
        std::string script = vesko::reply::resolveParsed("cb_1733616000_42", output);
        benchmark::DoNotOptimize(script.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(output.size()));
}

void BM_Memcpy(benchmark::State& state) {
    const std::string& output = extractionOutput();
    std::string target(output.size(), '\0');
    for (auto _ : state) {
        std::memcpy(target.data(), output.data(), output.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(output.size()));
}

BENCHMARK(BM_Memcpy)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ResolveParsed)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    return vesko::bench::runWithRatios(argc, argv, {{"BM_ResolveParsed/repeats:5_median", "BM_Memcpy/repeats:5_median", 4.0}});
}
