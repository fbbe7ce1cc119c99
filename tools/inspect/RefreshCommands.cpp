// refresh --data DIR [--force] [--parallel N] [--no-store]: one refresh of every feed of a data
// folder with the program's own refresher (N feeds at once, 1 for one after another), then each feed
// loaded as the news view loads it. Addresses are printed as the window shows them, without their
// password. The item store of the folder ("items.db") records each new document as the window
// records it, unless --no-store leaves it alone (to see what the store costs a refresh).
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "Inspect.h"
#include "catalogue/FeedListCls.h"
#include "news/ItemIdentity.h"
#include "news/ItemStoreWriter.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/DispatchLoop.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "refresh/RefreshController.h"
#include "url/Url.h"

namespace {

using TClock = std::chrono::steady_clock;

long long MillisecondsSince(TClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(JsonText(text));
}

} // namespace

int CmdRefresh(const TArgs& args) {
    const std::string usage = "usage: tovel-inspect refresh --data DIR [--force] [--parallel N] [--no-store]";
    std::string folder;
    bool force = false;
    bool useStore = true;
    int parallel = kDefaultMaxParallel;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--data" && i + 1 < args.size())
            folder = args[++i];
        else if (args[i] == "--force")
            force = true;
        else if (args[i] == "--no-store")
            useStore = false;
        else if (args[i] == "--parallel" && i + 1 < args.size() && TryStrToInt(args[i + 1], parallel) &&
                 parallel > 0)
            ++i;
        else
            return PrintError(usage);
    }
    if (folder.empty())
        return PrintError(usage);
    if (folder.back() != '/')
        folder += '/';
    if (!FileExists(folder + "feeds.data"))
        return PrintError("Cannot open file " + folder + "feeds.data");

    const TClock::time_point start = TClock::now();
    SetDataFolderForTesting(folder);
    TFeedList feeds(folder + "feeds.data");
    // As the program comes up: a new store takes the cached items as read.
    TItemStore store;
    if (useStore)
        OpenItemStore(store, feeds, NowUTC());
    if (!store.Message().empty())
        std::cerr << "tovel-inspect: " << store.Message() << "\n";
    std::map<std::string, TFeedOutcome> outcomes;
    bool finished = false;
    {
        // Declared before the loop and the controller: its queued writes end before the store's
        // last use below.
        std::unique_ptr<TItemStoreWriter> writer;
        if (useStore)
            writer = std::make_unique<TItemStoreWriter>(store);
        // The user-interface loop of the command: the worker's queued calls run on this thread.
        TDispatchLoop loop;
        TRefreshController controller(feeds);
        controller.OnOutcome = [&outcomes, &writer, &feeds](const TFeedOutcome& outcome) {
            outcomes[outcome.Feed.FeedID] = outcome;
            if (writer)
                writer->RecordAppliedDocument(feeds, outcome.Feed.FeedID, outcome.Feed.FeedURL,
                                              outcome.Downloaded, NowUTC());
        };
        controller.OnFinished = [&finished] { finished = true; };
        controller.MaxParallel = parallel;
        controller.Start(
            [](TFeedList& list) {
                for (const auto& item : list.Items)
                    item->RefreshMark = !item->FeedURL.empty();
            },
            force);
        loop.RunUntil([&finished] { return finished; });
        if (writer)
            writer->WaitIdle();
        const std::string failure = store.TakeFailure();
        if (!failure.empty())
            std::cerr << "tovel-inspect: the read state of the news is not saved: " << failure << "\n";
    }

    // As the window does after the refresh: every marked feed's document is read, a failure
    // becomes its error (and drops its validators); the catalogue is saved as at the end of a run.
    TNewsType news(feeds);
    news.LoadMarkedFeeds();
    std::map<const TFeedListItem*, int> itemCounts;
    for (const auto& item : news.NewsItems)
        ++itemCounts[item->Feed];
    feeds.Save();

    for (const auto& item : feeds.Items) {
        if (item->FeedURL.empty())
            continue;
        const auto outcome = outcomes.find(item->FeedID);
        const bool known = outcome != outcomes.end();
        PrintJson(Json{{"name", JsonText(item->FeedName)},
                       {"url", JsonText(DisplayURL(item->FeedURL))},
                       {"downloaded", known && outcome->second.Downloaded},
                       {"status", known && outcome->second.StatusCode != 0 ? Json(outcome->second.StatusCode)
                                                                           : Json(nullptr)},
                       {"error", TextOrNull(item->ErrorText)},
                       {"items", item->ErrorText.empty() ? itemCounts[item.get()] : 0},
                       {"ms", known ? static_cast<long long>(outcome->second.Milliseconds + 0.5) : 0}});
    }
    PrintJson(Json{{"total_ms", MillisecondsSince(start)}});
    return 0;
}
