// Parse speed and memory of the XML reader on a large RSS document, beside pugixml's default
// parse of the same text in the same run; and the speed of the HTML cleaner on the document's
// 20,000 item descriptions.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "Interleaved.h"
#include "catalogue/FeedListCls.h"
#include "news/HtmlCleaner.h"
#include "news/NewsTypeCls.h"
#include "xml/XMLNode.h"

#ifdef TOVEL_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

constexpr int kItemCount = 20000;
constexpr std::size_t kTargetSize = 15 * 1000 * 1000;

std::string Item(int n, const std::string& filler) {
    const std::string id = std::to_string(n);
    return "    <item>\n"
           "      <title>Story " +
           id +
           ": markets &amp; mergers</title>\n"
           "      <link>https://news.example.com/stories/" +
           id +
           "?src=rss&amp;m=feed</link>\n"
           "      <guid isPermaLink=\"false\">tag:news.example.com,2024:story-" +
           id +
           "</guid>\n"
           "      <pubDate>Mon, 01 Jan 2024 10:" +
           std::to_string(n % 60 + 10) +
           ":00 +0000</pubDate>\n"
           "      <dc:creator><![CDATA[Reporter " +
           std::to_string(n % 97) +
           "]]></dc:creator>\n"
           "      <description>&lt;p&gt;In today&apos;s edition &amp;mdash; " +
           filler + " &lt;a href=&quot;https://news.example.com/stories/" + id +
           "&quot;&gt;Read more&lt;/a&gt;&lt;/p&gt;</description>\n"
           "      <content:encoded><![CDATA[<p>The full story <b>" +
           id + "</b>: " + filler + "</p><img src=\"https://img.example.com/" + id +
           ".jpg\" alt=\"\"/>]]></content:encoded>\n"
           "      <enclosure url=\"https://media.example.com/" +
           id +
           ".mp3\" length=\"123456\" type=\"audio/mpeg\"/>\n"
           "    </item>\n";
}

// A 15 MB RSS 2.0 document with 20,000 items.
const std::string& Document() {
    static const std::string document = [] {
        const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                                 "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\">\n"
                                 "  <channel>\n    <title>Example News</title>\n"
                                 "    <link>https://news.example.com/</link>\n"
                                 "    <description>All the news</description>\n";
        const std::string tail = "  </channel>\n</rss>\n";
        const std::size_t bare = Item(kItemCount / 2, "").size();
        const std::size_t perItem = kTargetSize / kItemCount;
        const std::size_t fillerSize = perItem > bare ? (perItem - bare) / 2 : 0;
        std::string filler;
        const std::string words =
            "shares rose sharply &amp; analysts said &lt;em&gt;more&lt;/em&gt; was to come ";
        while (filler.size() < fillerSize)
            filler += words;
        filler.resize(fillerSize);
        while (!filler.empty() && filler.back() != ' ')
            filler.pop_back(); // never cut an entity in half
        std::string text = head;
        text.reserve(kTargetSize + kTargetSize / 10);
        for (int i = 0; i < kItemCount; ++i)
            text += Item(i, filler);
        return text + tail;
    }();
    return document;
}

// Page faults so far: a run that gives its heap back to the system between parses pays for
// faulting it in again, and shows it here.
long MinorFaults() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void BM_TXMLNode(benchmark::State& state) {
    const std::string& text = Document();
    const long faults = MinorFaults();
    for (auto _ : state) {
        auto doc = std::make_unique<TXMLNode>();
        doc->LoadFromString(text);
        benchmark::DoNotOptimize(doc->ChildCount());
        state.PauseTiming(); // the release of the tree is not part of parsing
        doc.reset();
        state.ResumeTiming();
    }
    state.counters["faults"] =
        benchmark::Counter(static_cast<double>(MinorFaults() - faults), benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_TXMLNode)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef TOVEL_HAVE_PUGIXML
void BM_pugixml(benchmark::State& state) {
    const std::string& text = Document();
    const long faults = MinorFaults();
    for (auto _ : state) {
        auto doc = std::make_unique<pugi::xml_document>();
        pugi::xml_parse_result result = doc->load_buffer(text.data(), text.size());
        benchmark::DoNotOptimize(result.status);
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    state.counters["faults"] =
        benchmark::Counter(static_cast<double>(MinorFaults() - faults), benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_pugixml)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// The descriptions of the document's items as the news view reads them (entities decoded).
const std::vector<std::string>& Descriptions() {
    static const std::vector<std::string> descriptions = [] {
        TFeedList feeds("/nonexistent/tovel-bench/feeds.data");
        TNewsType news(feeds);
        TFeedListItem* feed = feeds.Add("root", "bench", "https://news.example.com/rss");
        news.LoadFeedFromString(*feed, Document());
        std::vector<std::string> texts;
        for (const auto& item : news.NewsItems)
            texts.push_back(item->Description);
        return texts;
    }();
    return descriptions;
}

size_t DescriptionBytes() {
    size_t bytes = 0;
    for (const std::string& text : Descriptions())
        bytes += text.size();
    return bytes;
}

// Every description cleaned as the page does, pictures off.
void BM_CleanDescriptions(benchmark::State& state) {
    const std::vector<std::string>& texts = Descriptions();
    for (auto _ : state) {
        size_t written = 0;
        for (const std::string& text : texts)
            written += CleanDescriptionHtml(text, "https://news.example.com/stories/1", false).size();
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * DescriptionBytes()));
}
BENCHMARK(BM_CleanDescriptions)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the console output and remembers each benchmark's throughput for the summary.
// With repetitions, the median of each benchmark's runs counts.
class TSummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> Runs;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            const std::string name = run.benchmark_name();
            const std::string base = name.substr(0, name.find('/'));
            const size_t bytes = base == "BM_CleanDescriptions" ? DescriptionBytes() : Document().size();
            Runs[base].push_back(static_cast<double>(bytes) / seconds / 1e6);
        }
    }

    // The median throughput of the named benchmark in MB/s, 0 when it did not run.
    double MBPerSecond(const std::string& name) {
        std::vector<double>& values = Runs[name];
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
};

// The heap taken by the loaded tree (malloc's own overhead included), as a multiple of the
// document. The parser keeps no buffers of its own beyond a list of pointers per open level, so
// this is also its peak while loading.
void ReportMemory() {
    const std::string& text = Document();
    const auto heap = [] {
        const struct mallinfo2 info = mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    const std::size_t before = heap();
    TXMLNode doc;
    doc.LoadFromString(text);
    const std::size_t after = heap();
    std::printf("document: %.1f MB; loaded TXMLNode tree: %.2fx the document\n",
                static_cast<double>(text.size()) / 1e6,
                static_cast<double>(after - before) / static_cast<double>(text.size()));
}

} // namespace

int main(int argc, char** argv) {
    // Both parsers run in turns, several times, and the medians are compared, so that a
    // passing load on the machine does not decide the ratio.
    if (!InitializeInterleaved(argc, argv))
        return 1;
    Document();
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    ReportMemory();
    const double ours = reporter.MBPerSecond("BM_TXMLNode");
    const double peer = reporter.MBPerSecond("BM_pugixml");
    if (ours > 0)
        std::printf("TXMLNode::LoadFromString: %.0f MB/s\n", ours);
    if (peer > 0)
        std::printf("pugixml (default flags):  %.0f MB/s\n", peer);
    if (ours > 0 && peer > 0)
        std::printf("ratio TXMLNode / pugixml: %.2f\n", ours / peer);
    const double cleaner = reporter.MBPerSecond("BM_CleanDescriptions");
    if (cleaner > 0)
        std::printf("HTML cleaner: %.0f MB/s over %zu descriptions (%.1f MB)\n", cleaner,
                    Descriptions().size(), static_cast<double>(DescriptionBytes()) / 1e6);
    return 0;
}
