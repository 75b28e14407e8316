// The library screen with 2,000 articles in the real window (WebKitGTK under
// a private Xvfb): how long the list takes to show from the start of the
// page's load, and how long a search takes from the keystroke to the laid-out
// list. Baselines from the same run: the same page listing an empty library,
// and showing the first page of the list without a query.

#include "bench/support/RatioReporter.hpp"
#include "tests/gui/BuiltPages.hpp"

#include <cstdio>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using vesko::gui::evaluate;
using vesko::gui::window;

constexpr int kArticles = 2000;

// Loads the library screen afresh; returns the milliseconds from the start
// of the load to the list shown.
double listLibrary() {
    auto& d = window();
    evaluate("document.documentElement.dataset.left = 'true'");
    d.ui.controller->navigateToPage("main.html", std::nullopt);
    vesko::gui::waitFor("!document.documentElement.dataset.left && performance.getEntriesByName('vesko:listed').length > 0",
                        30s);
    return evaluate("performance.getEntriesByName('vesko:listed')[0].startTime").get<double>();
}

// Types `query` into the search field; returns the milliseconds until the
// list is laid out again.
double search(const std::string& query) {
    return evaluate("(() => { const t = performance.now(); const s = document.getElementById('search'); s.value = " +
                    json(query).dump() + "; s.dispatchEvent(new Event('input')); document.body.offsetHeight; "
                    "return performance.now() - t; })()").get<double>();
}

// Fills the library with `count` articles of about 1,200 words each, made
// from a vocabulary of 4,000 words.
void seed(int count) {
    const json done = evaluate(R"JS((async () => {
      const { Library, makeRecord } = await import('./lib/library.js');
      let state = 12345;
      const random = (n) => { state = (state * 1103515245 + 12345) % 2147483648; return state % n; };
      const syllables = ['ka', 'lo', 'mi', 'ren', 'sto', 'va', 'tur', 'bel', 'qui', 'dor', 'san', 'fe', 'nox', 'pri', 'ul'];
      const words = Array.from({ length: 4000 }, () => Array.from({ length: 2 + random(3) }, () => syllables[random(15)]).join(''));
      const sites = Array.from({ length: 40 }, (_, i) => `Site ${i}`);
      const library = await Library.open(indexedDB);
      const records = [];
      for (let i = 0; i < )JS" + std::to_string(count) + R"JS(; i++) {
        const text = Array.from({ length: 1200 }, () => words[random(4000)]).join(' ');
        const title = `${words[random(4000)]} ${words[random(4000)]} ${words[random(4000)]} ${i}`;
        const url = `https://example.com/${i}`;
        const article = { title, url, siteName: sites[i % 40], byline: 'A. Writer', publishedTime: '2026-01-01',
          excerpt: text.slice(0, 200), contentHtml: `<p>${text}</p>`, textContent: text, markdownBody: text,
          wordCount: 1200, readingMinutes: 5, lang: 'en', dir: 'ltr', readerable: true };
        const fetched = new Date(Date.UTC(2026, 0, 1) + i * 60000).toISOString();
        records.push(makeRecord({ url, title, raw_html: `<p>${text}</p>` }, article, null, fetched));
      }
      await library.put(...records);
      return (await library.entries()).length;
    })())JS", 120s);
    if (done != count) std::fprintf(stderr, "seeding gave %s\n", done.dump().c_str());
}

void BM_ListEmptyLibrary(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(listLibrary() / 1000);
}

void BM_ListLibrary(benchmark::State& state) {
    static bool seeded = false;
    if (!seeded) seed(kArticles), seeded = true;
    for (auto _ : state) state.SetIterationTime(listLibrary() / 1000);
}

void BM_ShowFirstPage(benchmark::State& state) {
    listLibrary();
    for (auto _ : state) {
        search("x");  // changes the list, so the next one renders it afresh
        state.SetIterationTime(search("") / 1000);
    }
}

void BM_SearchLibrary(benchmark::State& state) {
    listLibrary();
    // Searches after the articles' words have been read.
    vesko::gui::waitFor("performance.getEntriesByName('vesko:words').length > 0", 60s);
    const char* queries[] = {"kalo", "sto va", "zzzz", "ren dor qui"};
    int i = 0;
    for (auto _ : state) {
        search("");
        state.SetIterationTime(search(queries[i++ % 4]) / 1000);
    }
}

// Registered in this order: the empty library before it is filled.
BENCHMARK(BM_ListEmptyLibrary)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_ListLibrary)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_ShowFirstPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_SearchLibrary)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(3)->ReportAggregatesOnly();

}  // namespace

int main(int argc, char** argv) {
    vesko::gui::TemporaryHome home;  // before the web view exists
    window();
    const int result = vesko::bench::runWithRatios(argc, argv, {
        {"BM_ListLibrary/iterations:5/repeats:3/manual_time_median", "BM_ListEmptyLibrary/iterations:5/repeats:3/manual_time_median", 0},
        {"BM_SearchLibrary/iterations:20/repeats:3/manual_time_median", "BM_ShowFirstPage/iterations:20/repeats:3/manual_time_median", 0},
    });
    vesko::gui::shutdownDesktop();
    std::fflush(stdout);
    std::_Exit(result);
}
