// The news view of a large folder: 100 cached feeds of 200 items each are loaded, dated, sorted
// and rendered (filter "All", pictures off), next to the bare parse of the same 100 documents.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "catalogue/FeedListCls.h"
#include "news/NewsDates.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "refresh/CacheFiles.h"
#include "xml/XMLNode.h"

#ifdef TOVEL_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

constexpr int kFeedCount = 100;
constexpr int kItemsPerFeed = 200;

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kWords[] = {"kernel",  "release", "community", "update",  "security", "notes",
                              "browser", "desktop", "package",   "network", "review",   "weekly"};

// A news article's body as blogs publish it: paragraphs, links, a picture, a list.
std::string Description(int feed, int item) {
    std::string html;
    html += "<p>The <a href=\"https://example.org/" + std::to_string(feed) + "/" + std::to_string(item) +
            "\">latest " + kWords[item % 12] + "</a> brings changes to the " + kWords[(item + 3) % 12] +
            " and the " + kWords[(feed + item) % 12] + " that many readers asked for.</p>";
    html += "<p><img src=\"https://cdn.example.org/img/" + std::to_string(item) +
            ".jpg\" width=\"640\" height=\"360\" alt=\"screenshot\"></p>";
    for (int p = 0; p < 4; ++p) {
        html += "<p>";
        for (int w = 0; w < 30; ++w) {
            html += kWords[(feed * 7 + item * 3 + p * 5 + w) % 12];
            html += w % 9 == 8 ? ", " : " ";
        }
        html += "and <em>more</em> &mdash; see <a href=\"https://example.org/more\">details</a>.</p>";
    }
    html += "<ul><li>first point</li><li>second point</li><li>third point</li></ul>";
    return html;
}

// XML escaping for descriptions carried as escaped text rather than CDATA.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string FeedDocument(int feed) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
                      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n<title>Feed " +
                      std::to_string(feed) + "</title>\n<link>https://example.org/</link>\n";
    for (int item = 0; item < kItemsPerFeed; ++item) {
        const int day = 1 + (item + feed) % 28, hour = (item * 7) % 24, minute = (item * 13) % 60;
        char date[64];
        std::snprintf(date, sizeof date, "Mon, %02d %s 2026 %02d:%02d:%02d +0000", day,
                      kMonths[(item / 28) % 12], hour, minute, item % 60);
        doc += "<item>\n<title>" + std::string(kWords[item % 12]) + " news &amp; notes no. " +
               std::to_string(item) + "</title>\n<link>https://example.org/" + std::to_string(feed) + "/" +
               std::to_string(item) + "</link>\n<guid isPermaLink=\"false\">" +
               std::to_string(feed * 1000 + item) + "</guid>\n<pubDate>" + date +
               "</pubDate>\n<author>writer" + std::to_string(item % 5) + "@example.org</author>\n";
        if (item % 2)
            doc += "<description><![CDATA[" + Description(feed, item) + "]]></description>\n";
        else
            doc += "<description>" + Escape(Description(feed, item)) + "</description>\n";
        doc += "</item>\n";
    }
    return doc + "</channel>\n</rss>\n";
}

// The program folder with its templates, catalogue and 100 cache files, removed at exit.
struct TBenchFolder {
    TBenchFolder() : Path(Dir.Path()) {
        SetDataFolderForTesting(Path);
        std::filesystem::copy(TOVEL_TEMPLATE_DIR, Path + "template",
                              std::filesystem::copy_options::recursive);
        Feeds = std::make_unique<TFeedList>(Path + "feeds.data");
        TFeedListItem* folder = Feeds->Add("root", "Folder", "");
        folder->RefreshMark = true;
        for (int i = 0; i < kFeedCount; ++i) {
            TFeedListItem* feed = Feeds->Add(folder->FeedID, "Feed " + std::to_string(i),
                                             "http://127.0.0.1/" + std::to_string(i));
            feed->RefreshMark = true;
            feed->ShowAuthor = i % 2 == 0;
            const std::string path = CacheFileName(feed->FeedID);
            SaveStringToFile(FeedDocument(i), path);
            Files.push_back(path);
        }
    }
    ~TBenchFolder() {
        Feeds.reset();
        SetDataFolderForTesting("");
    }
    TempDir Dir;
    std::string Path;
    std::unique_ptr<TFeedList> Feeds;
    std::vector<std::string> Files;
};

TBenchFolder& Folder() {
    static TBenchFolder folder;
    return folder;
}

void BM_ParseOnly(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    TXMLNode document;
    for (auto _ : state) {
        for (const std::string& file : folder.Files)
            document.LoadFromFile(file);
        benchmark::DoNotOptimize(document.ChildCount());
    }
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

void BM_ViewLoadAndRender(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    TNewsType news(*folder.Feeds);
    for (auto _ : state) {
        news.LoadMarkedFeeds();
        news.RenderPage(kFilterCount - 1, FilterName(kFilterCount - 1), false);
    }
    if (news.ItemCount() != kFeedCount * kItemsPerFeed)
        state.SkipWithError("items missing");
    state.counters["items"] = news.ItemCount();
}
BENCHMARK(BM_ViewLoadAndRender)->Unit(benchmark::kMillisecond);

void BM_LoadOnly(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    TNewsType news(*folder.Feeds);
    for (auto _ : state)
        news.LoadMarkedFeeds();
}
BENCHMARK(BM_LoadOnly)->Unit(benchmark::kMillisecond);

void BM_RenderOnly(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    TNewsType news(*folder.Feeds);
    news.LoadMarkedFeeds();
    for (auto _ : state)
        news.RenderPage(kFilterCount - 1, FilterName(kFilterCount - 1), false);
}
BENCHMARK(BM_RenderOnly)->Unit(benchmark::kMillisecond);

#ifdef TOVEL_HAVE_PUGIXML
// The same files through pugixml, for scale.
void BM_ParseOnlyPugixml(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    for (auto _ : state) {
        for (const std::string& file : folder.Files) {
            pugi::xml_document document;
            benchmark::DoNotOptimize(document.load_file(file.c_str()));
        }
    }
}
BENCHMARK(BM_ParseOnlyPugixml)->Unit(benchmark::kMillisecond);
#endif

} // namespace

BENCHMARK_MAIN();
