// The news reader on a 15 MB JSON Feed beside the same items as RSS 2.0, in the same run: the
// whole load of one feed's document (parse, items, identities), as the view does it.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Interleaved.h"
#include "SyntheticFeeds.h"
#include "catalogue/FeedListCls.h"
#include "news/NewsTypeCls.h"

namespace {

constexpr std::size_t kTargetSize = 15 * 1000 * 1000;

// text as a JSON string, quotes included.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

struct TDocuments {
    std::string Json;
    std::string Rss;
    int Items = 0;
};

// One feed's items written both ways, as many as make the JSON document 15 MB: title, link,
// identifier, date, author and an article's HTML.
const TDocuments& Documents() {
    static const TDocuments documents = [] {
        TDocuments docs;
        docs.Json = "{\"version\": \"https://jsonfeed.org/version/1.1\", \"title\": \"Feed 1\", "
                    "\"home_page_url\": \"https://example.org/\", \"items\": [\n";
        docs.Rss = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n"
                   "<title>Feed 1</title>\n<link>https://example.org/</link>\n";
        for (int item = 0; docs.Json.size() < kTargetSize; ++item) {
            const std::string title =
                std::string(bench::kWords[item % 12]) + " news & notes no. " + std::to_string(item);
            const std::string link = "https://example.org/1/" + std::to_string(item);
            const std::string id = std::to_string(1000 + item);
            const std::string author = "writer" + std::to_string(item % 5);
            const std::string description = bench::Description(1, item);
            const int day = 1 + item % 28, hour = (item * 7) % 24, minute = (item * 13) % 60;
            char iso[32];
            std::snprintf(iso, sizeof iso, "2026-%02d-%02dT%02d:%02d:%02dZ", 1 + (item / 28) % 12, day, hour,
                          minute, item % 60);
            char rfc[64];
            std::snprintf(rfc, sizeof rfc, "Mon, %02d %s 2026 %02d:%02d:%02d +0000", day,
                          bench::kMonths[(item / 28) % 12], hour, minute, item % 60);
            docs.Json += std::string(item ? ",\n" : "") + "{\"id\": " + JsonString(id) +
                         ", \"title\": " + JsonString(title) + ", \"url\": " + JsonString(link) +
                         ", \"date_published\": \"" + iso +
                         "\", \"authors\": [{\"name\": " + JsonString(author) +
                         "}], \"content_html\": " + JsonString(description) + "}";
            docs.Rss += "<item>\n<title>" + bench::Escape(title) + "</title>\n<link>" + link +
                        "</link>\n<guid isPermaLink=\"false\">" + id + "</guid>\n<pubDate>" + rfc +
                        "</pubDate>\n<author>" + author + "</author>\n<description><![CDATA[" + description +
                        "]]></description>\n</item>\n";
            docs.Items = item + 1;
        }
        docs.Json += "\n]}\n";
        docs.Rss += "</channel>\n</rss>\n";
        return docs;
    }();
    return documents;
}

void LoadEach(benchmark::State& state, const std::string& text) {
    TFeedList feeds("/nonexistent/tovel-bench/feeds.data");
    TNewsType news(feeds);
    TFeedListItem* feed = feeds.Add("root", "bench", "https://example.org/feed");
    int items = 0;
    for (auto _ : state) {
        news.LoadFeedFromString(*feed, text);
        items = news.ItemCount();
        state.PauseTiming(); // releasing the items is not part of the load
        news.ClearItems();
        state.ResumeTiming();
    }
    // Both documents give every item, or the comparison means nothing.
    if (items != Documents().Items)
        state.SkipWithError("the document did not give every item");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_JsonFeedLoad(benchmark::State& state) {
    LoadEach(state, Documents().Json);
}
BENCHMARK(BM_JsonFeedLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RssLoad(benchmark::State& state) {
    LoadEach(state, Documents().Rss);
}
BENCHMARK(BM_RssLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the console output and the median load time of each benchmark.
class TSummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> Seconds;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                Seconds[run.benchmark_name().substr(0, run.benchmark_name().find('/'))].push_back(
                    run.real_accumulated_time / static_cast<double>(run.iterations));
    }

    // The median seconds of one load, 0 when the benchmark did not run.
    double Median(const std::string& name) {
        std::vector<double>& values = Seconds[name];
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
};

} // namespace

int main(int argc, char** argv) {
    // Both loads in turns, several times, so that a passing load on the machine does not decide
    // the comparison.
    if (!InitializeInterleaved(argc, argv))
        return 1;
    const TDocuments& docs = Documents();
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double json = reporter.Median("BM_JsonFeedLoad");
    const double rss = reporter.Median("BM_RssLoad");
    std::printf("%d items: JSON Feed %.1f MB, RSS %.1f MB\n", docs.Items,
                static_cast<double>(docs.Json.size()) / 1e6, static_cast<double>(docs.Rss.size()) / 1e6);
    if (json > 0)
        std::printf("JSON Feed load: %.0f ms, %.0f MB/s\n", json * 1e3,
                    static_cast<double>(docs.Json.size()) / json / 1e6);
    if (rss > 0)
        std::printf("RSS load:       %.0f ms, %.0f MB/s\n", rss * 1e3,
                    static_cast<double>(docs.Rss.size()) / rss / 1e6);
    if (json > 0 && rss > 0)
        std::printf("same items, time JSON / RSS: %.2f\n", json / rss);
    return 0;
}
