// What a user waits for in the real window, driven offscreen: selecting a folder of 100 cached feeds
// until the news view has loaded the page, next to a bare web view loading the same items written
// through the templates as they stood before items off screen were skipped; and the start-up of a
// window with 1,000 feeds in its tree until it is first painted, without an item store, with an
// empty one and with one of 100,000 items whose counts the tree shows.
//
// Google Benchmark with manual time: every repetition runs Qt's event loop itself until the view
// reports its load, and the time is taken inside the signal. Each benchmark is warmed up once and
// runs five repetitions of one iteration; the median is the figure. Run it with
// QT_QPA_PLATFORM=offscreen (the default here) and, as root, QTWEBENGINE_DISABLE_SANDBOX=1 (set
// here as well).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <optional>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SyntheticFeeds.h"
#include "TempDir.h"
#include "cache/CacheFiles.h"
#include "catalogue/FeedListCls.h"
#include "dates/NewsDates.h"
#include "news/ItemIdentity.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "store/ItemStore.h"
#include "ui/MainForm.h"
#include "ui/Messages.h"
#include "ui/NewsBrowser.h"
#include "ui/NewsView.h"
#include "ui/ProdInfo.h"

namespace {

using bench::FeedDocument;

constexpr int kFeedCount = 100;
constexpr int kStartUpFeedCount = 1000;
constexpr int kStartUpFolderCount = 20;
// A big page may take a slow machine many seconds; a load that never ends fails the run.
constexpr int kLoadTimeoutMs = 180000;
// The filter entry "All": every item is on the page.
constexpr int kFilterAll = kFilterCount - 1;

// The three templates as they stood before items off screen were skipped: every item is laid out
// and painted while the page loads. The baseline for the news view; never changed.
const char* const kOldTop = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="script-src 'none'; object-src 'none'; frame-src 'none'; worker-src 'none'; base-uri 'none'; form-action 'none'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="light dark">
<title>News</title>
<style>
:root {
    color-scheme: light dark;
    --text: #1f2328;
    --quiet: #656d76;
    --link: #0b5cad;
    --visited: #6639ba;
    --rule: #d8dee4;
    --page: #ffffff;
}
@media (prefers-color-scheme: dark) {
    :root {
        --text: #e6edf3;
        --quiet: #8d96a0;
        --link: #6cb6ff;
        --visited: #c297ff;
        --rule: #30363d;
        --page: #16191d;
    }
}
html { background: var(--page); }
body {
    margin: 0 auto;
    padding: 1.25em 1.5em 3em;
    max-width: 44em;
    color: var(--text);
    background: var(--page);
    font: 16px/1.55 system-ui, -apple-system, "Segoe UI", "Noto Sans", "DejaVu Sans", sans-serif;
    overflow-wrap: break-word;
}
a { color: var(--link); }
a:visited { color: var(--visited); }
.item { padding: 0.9em 0 1.2em; border-bottom: 1px solid var(--rule); }
.item:last-of-type { border-bottom: none; }
.item h2 { margin: 0 0 0.2em; font-size: 1.2em; line-height: 1.3; font-weight: 600; }
.item h2 a { text-decoration: none; }
.item h2 a:hover { text-decoration: underline; }
.meta { margin: 0 0 0.7em; color: var(--quiet); font-size: 0.85em; }
.meta .sep { padding: 0 0.4em; }
.description img, .description video, .description iframe { max-width: 100%; height: auto; }
.description pre { overflow-x: auto; }
.description table { max-width: 100%; }
.description blockquote { margin-left: 0; padding-left: 1em; border-left: 3px solid var(--rule); color: var(--quiet); }
</style>
</head>
<body>
<main>)";
const char* const kOldItem = R"(<article class="item">
<h2><a href="{link}" target="_blank" rel="noopener noreferrer">{title}</a></h2>
<p class="meta"><span class="author">{author}</span><span class="sep">&middot;</span><time>{date}</time></p>
<div class="description">{description}</div>
</article>)";
const char* const kOldBottom = R"(</main>
</body>
</html>)";

// The number of times the first line of the item template opens an item on the page.
int CountItems(const std::string& page, const std::string& itemTemplate) {
    const std::string marker = itemTemplate.substr(0, itemTemplate.find('\n'));
    int count = 0;
    for (size_t at = page.find(marker); at != std::string::npos; at = page.find(marker, at + marker.size()))
        ++count;
    return count;
}

// No box may open while nobody is there to close it: every message is printed and counted.
class TPrintedMessages : public IMessages {
public:
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "bench_ui_view: message: %s\n", text.c_str());
        ++Count;
    }
    bool AskYesNo(const std::string& text, bool defaultYes) override {
        std::fprintf(stderr, "bench_ui_view: question: %s\n", text.c_str());
        ++Count;
        return defaultYes;
    }
    int Count = 0;
};
TPrintedMessages Messages;

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs the event loop until quit is called or timeoutMs have passed; false on the timeout.
class TWait {
public:
    TWait() {
        FTimer.setSingleShot(true);
        QObject::connect(&FTimer, &QTimer::timeout, &FLoop, [this] { FLoop.exit(1); });
    }
    bool Run(int timeoutMs = kLoadTimeoutMs) {
        if (FDone)
            return true;
        FTimer.start(timeoutMs);
        const bool ok = FLoop.exec() == 0;
        FTimer.stop();
        return ok;
    }
    void Quit() {
        FDone = true;
        FLoop.exit(0);
    }

private:
    QEventLoop FLoop;
    QTimer FTimer;
    bool FDone = false;
};

// A folder of cached feeds (the bench's data folder while it lives), a small folder beside it and
// the window over the catalogue with the filter "All".
class TWindowRun {
public:
    explicit TWindowRun(int itemsPerFeed) : ItemsPerFeed(itemsPerFeed), FPath(FDir.Path()) {
        SetDataFolderForTesting(FPath);
        std::filesystem::copy(TOVEL_TEMPLATE_DIR, FPath + "template",
                              std::filesystem::copy_options::recursive);
        FFeeds = std::make_unique<TFeedList>(FPath + "feeds.data");
        FeedList = FFeeds.get();
        // Neither folder is aggregated, so All Feeds, selected at start, loads nothing.
        TFeedListItem* folder = FFeeds->Add("root", "Big folder", "");
        TFeedListItem* other = FFeeds->Add("root", "Small folder", "");
        FFolderId = folder->FeedID;
        FOtherId = other->FeedID;
        // Nobody listens on port 9: a feed that were downloaded after all fails at once.
        for (int i = 0; i < kFeedCount; ++i) {
            TFeedListItem* feed = FFeeds->Add(folder->FeedID, "Feed " + std::to_string(i),
                                              "http://127.0.0.1:9/" + std::to_string(i));
            feed->AggInclude = true;
            feed->ShowAuthor = i % 2 == 0;
            SaveStringToFile(FeedDocument(i, itemsPerFeed), CacheFileName(feed->FeedID));
        }
        TFeedListItem* small = FFeeds->Add(other->FeedID, "Small feed", "http://127.0.0.1:9/small");
        small->AggInclude = true;
        SaveStringToFile(FeedDocument(kFeedCount, 1), CacheFileName(small->FeedID));
        MarkChecked();

        FWindow = std::make_unique<TfrmMain>(*FFeeds, nullptr, CreateNewsView);
        frmMain = FWindow.get();
        FView = FWindow->NewsView();
        FWindow->resize(1024, 700);
        FWindow->show();
        FWindow->cbxNewsFilter->setCurrentIndex(kFilterAll);
        for (int i = 0; i < FWindow->AllFeedsNode()->childCount(); ++i) {
            QTreeWidgetItem* node = FWindow->AllFeedsNode()->child(i);
            if (TfrmMain::NodeItem(node)->FeedID == FFolderId)
                FFolderNode = node;
            else if (TfrmMain::NodeItem(node)->FeedID == FOtherId)
                FOtherNode = node;
        }
    }
    ~TWindowRun() {
        FWindow->StopRefresh();
        frmMain = nullptr;
        FWindow.reset();
        FeedList = nullptr;
        FFeeds.reset();
        SetDataFolderForTesting("");
    }

    // Whether the window has the parts the run needs.
    std::string Problem() const {
        if (FView == nullptr)
            return "the window has no news view";
        if (FFolderNode == nullptr || FOtherNode == nullptr)
            return "the folders are not in the tree";
        return "";
    }

    // Every feed checked just now, so that the refresh downloads nothing.
    void MarkChecked() {
        const TDateTime now = Now();
        for (auto& item : FFeeds->Items)
            item->RefreshDate = now;
    }

    // Selects node and waits for the view's successful load of the page; the nanoseconds from
    // the selection to the load, or -1 when it failed or never came.
    qint64 Select(QTreeWidgetItem* node) {
        MarkChecked();
        TWait wait;
        QElapsedTimer clock;
        qint64 elapsed = -1;
        const QMetaObject::Connection connection =
            QObject::connect(FView, &TNewsView::LoadFinished, FView, [&](bool ok) {
                if (!ok || FView->Url() != QUrl::fromLocalFile(QString::fromStdString(PagePath())))
                    return;
                elapsed = clock.nsecsElapsed();
                wait.Quit();
            });
        clock.start();
        FWindow->tvwFeeds->setCurrentItem(node);
        const bool loaded = wait.Run();
        QObject::disconnect(connection);
        return loaded ? elapsed : -1;
    }

    // One measured selection of the big folder, after the small one has been shown.
    qint64 SelectFolder() {
        if (Select(FOtherNode) < 0)
            return -1;
        return Select(FFolderNode);
    }

    const std::string& Path() const { return FPath; }
    std::string PagePath() const { return FPath + "gen.html"; }
    std::string Page() const { return ReadFileToString(PagePath()); }
    std::string ItemTemplate() const { return ReadFileToString(FPath + "template/item.html"); }
    // Entries whose last refresh or load failed.
    int Failures() const {
        return static_cast<int>(std::count_if(FFeeds->Items.begin(), FFeeds->Items.end(),
                                              [](const auto& item) { return !item->ErrorText.empty(); }));
    }
    QWebEnginePage* WebPage() const { return FView->WebView()->page(); }
    QSize ViewSize() const { return FView->size(); }

    const int ItemsPerFeed;

private:
    TempDir FDir;
    std::string FPath;
    std::unique_ptr<TFeedList> FFeeds;
    std::string FFolderId;
    std::string FOtherId;
    std::unique_ptr<TfrmMain> FWindow;
    TNewsView* FView = nullptr;
    QTreeWidgetItem* FFolderNode = nullptr;
    QTreeWidgetItem* FOtherNode = nullptr;
};

// The same items as the window's run, written through the old templates, in a bare web view of
// the news view's size with its default settings.
class TBareRun {
public:
    // restoreFolder: the data folder to go back to once the page is written ("" the real one).
    TBareRun(int itemsPerFeed, QSize size, const std::string& restoreFolder) : FPath(FDir.Path()) {
        SetDataFolderForTesting(FPath);
        ForceDirectories(FPath + "template");
        SaveStringToFile(kOldTop, FPath + "template/top.html");
        SaveStringToFile(kOldItem, FPath + "template/item.html");
        SaveStringToFile(kOldBottom, FPath + "template/bottom.html");
        {
            TFeedList feeds(FPath + "feeds.data");
            for (int i = 0; i < kFeedCount; ++i) {
                TFeedListItem* feed = feeds.Add("root", "Feed " + std::to_string(i), "http://127.0.0.1:9/");
                feed->RefreshMark = true;
                feed->ShowAuthor = i % 2 == 0;
                SaveStringToFile(FeedDocument(i, itemsPerFeed), CacheFileName(feed->FeedID));
            }
            TNewsType news(feeds);
            news.LoadMarkedFeeds();
            news.RenderPage(kFilterAll, FilterName(kFilterAll), false);
        }
        SetDataFolderForTesting(restoreFolder);
        FView.resize(size);
        FView.show();
    }

    // Loads "about:blank", then the page; the nanoseconds of the page's load, -1 when it failed.
    qint64 Load() {
        if (LoadUrl(QUrl("about:blank")) < 0)
            return -1;
        return LoadUrl(QUrl::fromLocalFile(QString::fromStdString(PagePath())));
    }

    std::string PagePath() const { return FPath + "gen.html"; }
    std::string Page() const { return ReadFileToString(PagePath()); }
    QWebEnginePage* WebPage() const { return FView.page(); }

private:
    qint64 LoadUrl(const QUrl& url) {
        TWait wait;
        QElapsedTimer clock;
        qint64 elapsed = -1;
        const QMetaObject::Connection connection =
            QObject::connect(&FView, &QWebEngineView::loadFinished, &FView, [&](bool ok) {
                if (ok)
                    elapsed = clock.nsecsElapsed();
                wait.Quit();
            });
        clock.start();
        FView.load(url);
        const bool loaded = wait.Run();
        QObject::disconnect(connection);
        return loaded ? elapsed : -1;
    }

    TempDir FDir;
    std::string FPath;
    QWebEngineView FView;
};

// The number of items in the page's document as the browser holds it (-1 when it does not say).
int ItemsInDocument(QWebEnginePage* page) {
    TWait wait;
    int count = -1;
    page->runJavaScript(QStringLiteral("document.querySelectorAll('article.item').length"),
                        QWebEngineScript::ApplicationWorld, [&](const QVariant& value) {
                            count = value.isValid() ? value.toInt() : -1;
                            wait.Quit();
                        });
    wait.Run(30000);
    return count;
}

// One environment at a time: the window's runs share the process's data folder.
std::unique_ptr<TWindowRun> WindowRun;
std::map<int, std::unique_ptr<TBareRun>> BareRuns;
// The seconds of every measured repetition, for the summary at the end.
std::map<std::string, std::vector<double>> Seconds;

// Whether any case failed; the program then ends with 1.
bool Failed = false;

// A failure is printed and counted; the repetition still runs its one iteration, as Google
// Benchmark wants every repetition of a case to have the same number of iterations.
void Fail(benchmark::State& state, const std::string& why) {
    std::fprintf(stderr, "bench_ui_view: FAILED: %s\n", why.c_str());
    state.counters["failed"] = 1;
    Failed = true;
}

// The window over itemsPerFeed items a feed, made and warmed up on first use; nullptr when it
// cannot run (the reason printed).
TWindowRun* Window(benchmark::State& state, int itemsPerFeed) {
    if (WindowRun && WindowRun->ItemsPerFeed == itemsPerFeed)
        return WindowRun.get();
    WindowRun.reset();
    WindowRun = std::make_unique<TWindowRun>(itemsPerFeed);
    const std::string problem = WindowRun->Problem();
    if (!problem.empty()) {
        Fail(state, problem);
        WindowRun.reset();
        return nullptr;
    }
    // The warm-up: the browser's first page and the program's first render.
    if (WindowRun->SelectFolder() < 0) {
        Fail(state, "the warm-up selection never showed the page");
        WindowRun.reset();
        return nullptr;
    }
    return WindowRun.get();
}

TBareRun* Bare(benchmark::State& state, int itemsPerFeed) {
    auto& run = BareRuns[itemsPerFeed];
    if (!run) {
        const QSize size = WindowRun ? WindowRun->ViewSize() : QSize(760, 640);
        run = std::make_unique<TBareRun>(itemsPerFeed, size, WindowRun ? WindowRun->Path() : "");
        if (run->Load() < 0) {
            Fail(state, "the warm-up load failed");
            run.reset();
        }
    }
    return run.get();
}

void Record(benchmark::State& state, const std::string& name, qint64 nanoseconds) {
    const double seconds = static_cast<double>(nanoseconds) / 1e9;
    state.SetIterationTime(seconds);
    Seconds[name].push_back(seconds);
}

// (a) Selecting the folder until the news view has loaded the page.
void BM_SelectFolderUntilLoaded(benchmark::State& state) {
    const int itemsPerFeed = static_cast<int>(state.range(0));
    const int expected = kFeedCount * itemsPerFeed;
    const int messages = Messages.Count;
    TWindowRun* run = Window(state, itemsPerFeed);
    for (auto _ : state) {
        const qint64 elapsed = run != nullptr ? run->SelectFolder() : -1;
        if (elapsed < 0) {
            state.SetIterationTime(0);
            if (run != nullptr)
                Fail(state, "the page was not shown");
            continue;
        }
        Record(state, "window/" + std::to_string(itemsPerFeed), elapsed);
    }
    if (run == nullptr)
        return;
    const int written = CountItems(run->Page(), run->ItemTemplate());
    const int shown = ItemsInDocument(run->WebPage());
    if (written != expected || shown != expected)
        Fail(state, "items written " + std::to_string(written) + ", in the document " +
                        std::to_string(shown) + ", expected " + std::to_string(expected));
    if (run->Failures() != 0)
        Fail(state, std::to_string(run->Failures()) + " feeds failed");
    if (Messages.Count != messages)
        Fail(state, "the window showed a message");
    state.counters["items"] = written;
    state.counters["page_MB"] = static_cast<double>(run->Page().size()) / 1e6;
}
BENCHMARK(BM_SelectFolderUntilLoaded)
    ->Arg(50)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// (b) A bare web view loading the same items written through the old templates.
void BM_BareViewOldTemplates(benchmark::State& state) {
    const int itemsPerFeed = static_cast<int>(state.range(0));
    const int expected = kFeedCount * itemsPerFeed;
    TBareRun* run = Bare(state, itemsPerFeed);
    for (auto _ : state) {
        const qint64 elapsed = run != nullptr ? run->Load() : -1;
        if (elapsed < 0) {
            state.SetIterationTime(0);
            if (run != nullptr)
                Fail(state, "the page did not load");
            continue;
        }
        Record(state, "bare/" + std::to_string(itemsPerFeed), elapsed);
    }
    if (run == nullptr)
        return;
    const int written = CountItems(run->Page(), kOldItem);
    const int shown = ItemsInDocument(run->WebPage());
    if (written != expected || shown != expected)
        Fail(state, "items written " + std::to_string(written) + ", in the document " +
                        std::to_string(shown) + ", expected " + std::to_string(expected));
    state.counters["items"] = written;
    state.counters["page_MB"] = static_cast<double>(run->Page().size()) / 1e6;
}
BENCHMARK(BM_BareViewOldTemplates)
    ->Arg(50)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The bigger folder through the window alone.
BENCHMARK(BM_SelectFolderUntilLoaded)
    ->Arg(200)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Waits for the first paint of one widget.
class TFirstPaint : public QObject {
public:
    TFirstPaint(QWidget* widget, QElapsedTimer& clock, TWait& wait) : FClock(clock), FWait(wait) {
        widget->installEventFilter(this);
    }
    qint64 Elapsed = -1;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && Elapsed < 0) {
            Elapsed = FClock.nsecsElapsed();
            FWait.Quit();
        }
        return false;
    }

private:
    QElapsedTimer& FClock;
    TWait& FWait;
};

// The catalogue of 1,000 feeds in 20 folders saved in folder; with itemsPerFeed >= 0 an item store
// beside it ("items.db") holding that many items of each feed's current document (feed n's item i
// is FeedDocument(n, ...)'s item i), one in kStartUpUnreadShare of them unread. With cacheFolder
// the feeds of the first folder have those documents in the cache. The number of unread items.
constexpr int kStartUpUnreadShare = 5;
int WriteStartUpData(const std::string& folder, int itemsPerFeed, bool cacheFolder = false) {
    TFeedList feeds(folder + "feeds.data");
    const int perFolder = kStartUpFeedCount / kStartUpFolderCount;
    for (int f = 0; f < kStartUpFolderCount; ++f) {
        TFeedListItem* parent = feeds.Add("root", "Folder " + std::to_string(f), "");
        parent->AggInclude = true;
        for (int i = 0; i < perFolder; ++i) {
            TFeedListItem* feed = feeds.Add(parent->FeedID, "Feed " + std::to_string(f * perFolder + i),
                                            "http://127.0.0.1:9/" + std::to_string(f * perFolder + i));
            feed->AggInclude = true;
        }
    }
    feeds.Save();
    if (itemsPerFeed < 0)
        return 0;
    TItemStore store;
    store.Open(folder + "items.db");
    int unread = 0;
    const TDateTime now = NowUTC();
    int feed = 0;
    for (const auto& entry : feeds.Items) {
        if (entry->FeedURL.empty())
            continue;
        if (cacheFolder && feed < kStartUpFeedCount / kStartUpFolderCount)
            SaveStringToFile(FeedDocument(feed, itemsPerFeed), CacheFileName(entry->FeedID));
        std::vector<TStoreItem> items;
        std::vector<std::string> read;
        for (int i = 0; i < itemsPerFeed; ++i) {
            // The guid of FeedDocument's item.
            items.push_back({std::to_string(feed * 1000 + i), now - i / 24.0});
            if (i % kStartUpUnreadShare != 0)
                read.push_back(items.back().Id);
        }
        store.RecordDocument(entry->FeedID, items, now);
        store.MarkRead(entry->FeedID, read);
        unread += itemsPerFeed - static_cast<int>(read.size());
        ++feed;
    }
    // As a store left by a program that ended normally: its log folded into the file.
    store.ExecForTesting("PRAGMA wal_checkpoint(TRUNCATE)");
    return unread;
}

// Start-up: the catalogue of 1,000 feeds in 20 folders read from its file, the item store opened
// as the program opens it (argument: its items per feed; -1 none), the window made over both and
// shown, until the tree first paints its nodes with their counts.
void BM_StartUpWith1000Feeds(benchmark::State& state) {
    const int itemsPerFeed = static_cast<int>(state.range(0));
    WindowRun.reset();
    BareRuns.clear();
    TempDir dir;
    SetDataFolderForTesting(dir.Path());
    std::filesystem::copy(TOVEL_TEMPLATE_DIR, dir.Path() + "template",
                          std::filesystem::copy_options::recursive);
    const int expectedUnread = WriteStartUpData(dir.Path(), itemsPerFeed);
    int nodes = 0;
    int unread = 0;
    // The store's own share: opening it, and the window taking its counts into the tree.
    std::vector<double> openMs, countsMs;
    auto once = [&]() -> qint64 {
        QElapsedTimer clock;
        TWait wait;
        clock.start();
        TFeedList feeds(dir.Path() + "feeds.data");
        FeedList = &feeds;
        // As the program starts: the store opens while the window is made, and open_ms is the
        // time the window then still waits for it.
        TItemStore store;
        std::optional<TItemStoreOpening> opening;
        if (itemsPerFeed >= 0)
            opening.emplace(store, feeds, NowUTC());
        TfrmMain window(feeds, nullptr, CreateNewsView);
        frmMain = &window;
        QElapsedTimer part;
        part.start();
        if (opening)
            opening->Wait();
        openMs.push_back(static_cast<double>(part.nsecsElapsed()) / 1e6);
        part.restart();
        if (itemsPerFeed >= 0)
            window.SetItemStore(&store);
        countsMs.push_back(static_cast<double>(part.nsecsElapsed()) / 1e6);
        TFirstPaint painted(window.tvwFeeds->viewport(), clock, wait);
        window.resize(1024, 700);
        window.show();
        const bool shown = wait.Run(60000);
        nodes = 0;
        for (QTreeWidgetItemIterator it(window.tvwFeeds); *it; ++it)
            ++nodes;
        unread = window.UnreadTotal();
        window.StopRefresh();
        frmMain = nullptr;
        FeedList = nullptr;
        return shown ? painted.Elapsed : -1;
    };
    const bool warm = once() >= 0;
    if (!warm)
        Fail(state, "the window was never painted");
    const std::string name = itemsPerFeed < 0 ? "startup"
                             : itemsPerFeed == 0
                                 ? "startup/empty"
                                 : "startup/" + std::to_string(itemsPerFeed * kStartUpFeedCount);
    for (auto _ : state) {
        const qint64 elapsed = warm ? once() : -1;
        if (elapsed < 0) {
            state.SetIterationTime(0);
            if (warm)
                Fail(state, "the window was never painted");
            continue;
        }
        Record(state, name, elapsed);
    }
    SetDataFolderForTesting("");
    // All Feeds, the folders and the feeds.
    state.counters["nodes"] = nodes;
    state.counters["unread"] = unread;
    state.counters["open_ms"] = Median(openMs);
    state.counters["counts_ms"] = Median(countsMs);
    if (warm && nodes != 1 + kStartUpFolderCount + kStartUpFeedCount)
        Fail(state, "the tree holds " + std::to_string(nodes) + " nodes");
    if (warm && unread != expectedUnread)
        Fail(state, "the title counts " + std::to_string(unread) + " unread items, expected " +
                        std::to_string(expectedUnread));
}
// Without a store (as before the store existed), with an empty one, and with 100 items a feed.
BENCHMARK(BM_StartUpWith1000Feeds)
    ->Arg(-1)
    ->Arg(0)
    ->Arg(100)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Marking: in a window over the start-up case's 1,000 feeds and 100,000 items, with the plain view,
// a folder of 50 cached feeds of 100 items is shown (5,000 items, a fifth of them unread), every
// item of its page is seen and the node is left. The time is the user-interface thread's: taking
// the seen items and handing them to the store's writer, then, once the writer has written them,
// taking in its report and drawing the new counts. The writer's own time is bench_item_store's.
void BM_MarkSeen5000(benchmark::State& state) {
    constexpr int kItemsPerFeed = 100;
    constexpr int kShown = kStartUpFeedCount / kStartUpFolderCount * kItemsPerFeed;
    WindowRun.reset();
    BareRuns.clear();
    TempDir dir;
    SetDataFolderForTesting(dir.Path());
    std::filesystem::copy(TOVEL_TEMPLATE_DIR, dir.Path() + "template",
                          std::filesystem::copy_options::recursive);
    WriteStartUpData(dir.Path(), kItemsPerFeed, true);
    {
        TFeedList feeds(dir.Path() + "feeds.data");
        FeedList = &feeds;
        // Checked just now: leaving and selecting nodes downloads nothing.
        for (auto& item : feeds.Items)
            item->RefreshDate = Now();
        TItemStore store;
        OpenItemStore(store, feeds, NowUTC());
        TfrmMain window(feeds);
        frmMain = &window;
        window.SetItemStore(&store);
        window.resize(1024, 700);
        window.show();
        window.cbxNewsFilter->setCurrentIndex(kFilterAll);
        auto* browser = static_cast<TPlainBrowser*>(window.Browser());
        QTreeWidgetItem* shown = window.AllFeedsNode()->child(0);
        QTreeWidgetItem* other = window.AllFeedsNode()->child(1);
        const auto select = [&](QTreeWidgetItem* node) {
            window.tvwFeeds->setCurrentItem(node);
            TWait wait;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (!window.Refreshing())
                    wait.Quit();
            });
            poll.start(1);
            wait.Run(60000);
        };
        const int unreadBefore = window.NodeUnread(shown);
        int unreadAfter = -1;
        for (auto _ : state) {
            select(shown);
            browser->SeenItems.clear();
            for (int i = 0; i < kShown; ++i)
                browser->SeenItems.push_back(i);
            QElapsedTimer clock;
            clock.start();
            // What leaving the node does first.
            window.MarkSeenItems();
            qint64 elapsed = clock.nsecsElapsed();
            // The writer's report, taken in once it has written everything.
            for (;;) {
                clock.restart();
                const bool done = window.WaitForItemStore(0);
                if (done) {
                    elapsed += clock.nsecsElapsed();
                    break;
                }
                QThread::msleep(1);
            }
            unreadAfter = window.NodeUnread(shown);
            Record(state, "mark/5000", elapsed);
            select(other);
        }
        state.counters["unread_before"] = unreadBefore;
        if (unreadBefore != kShown / kStartUpUnreadShare || unreadAfter != 0)
            Fail(state, "the folder counted " + std::to_string(unreadBefore) + " unread items, then " +
                            std::to_string(unreadAfter));
        window.StopRefresh();
        frmMain = nullptr;
        FeedList = nullptr;
    }
    SetDataFolderForTesting("");
}
BENCHMARK(BM_MarkSeen5000)->Iterations(1)->Repetitions(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Offscreen unless told otherwise; the browser's sandbox refuses to start as root.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The window's settings go to a folder of the run's own, never to the user's.
    TempDir config;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    FillProductInfo();
    SetMessagesForTesting(&Messages);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    WindowRun.reset();
    BareRuns.clear();
    SetMessagesForTesting(nullptr);

    // The figures that matter, as medians in seconds, and the window's share of the bare view's time.
    std::printf("\nMedians of five (seconds):\n");
    for (const auto& [name, values] : Seconds)
        std::printf("  %-12s %.3f  (%zu runs)\n", name.c_str(), Median(values), values.size());
    const double window = Median(Seconds["window/50"]), bare = Median(Seconds["bare/50"]);
    if (window > 0 && bare > 0)
        std::printf("  window/50 : bare/50 = %.3f (goal: at most 0.25)\n", window / bare);
    const double empty = Median(Seconds["startup/empty"]), full = Median(Seconds["startup/100000"]);
    if (empty > 0 && full > 0)
        std::printf("  startup/100000 - startup/empty = %.1f ms (goal: at most 50 ms)\n",
                    (full - empty) * 1000);
    if (Failed)
        std::printf("Some cases FAILED: see the messages above.\n");
    return Failed ? 1 : 0;
}
