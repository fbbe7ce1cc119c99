// state --data DIR: the item store of a data folder as the window comes up with it, one line per
// feed in catalogue order with the items of its current document and how many are unread.
#include <iostream>
#include <string>

#include "Inspect.h"
#include "catalogue/FeedListCls.h"
#include "news/ItemIdentity.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "store/ItemStore.h"

int CmdState(const TArgs& args) {
    const std::string usage = "usage: tovel-inspect state --data DIR";
    if (args.size() != 2 || args[0] != "--data" || args[1].empty())
        return PrintError(usage);
    std::string folder = args[1];
    if (folder.back() != '/')
        folder += '/';
    if (!FileExists(folder + "feeds.data"))
        return PrintError("Cannot open file " + folder + "feeds.data");

    SetDataFolderForTesting(folder);
    TFeedList feeds(folder + "feeds.data");
    // Only the store is written here; the catalogue stays as the window left it.
    feeds.SkipSaveOnDestroy();
    TItemStore store;
    OpenItemStore(store, feeds, NowUTC());
    // What the window's status bar would say; standard output keeps one line per feed.
    if (!store.Message().empty())
        std::cerr << "tovel-inspect: " << store.Message() << "\n";
    const auto counts = store.UnreadCounts();
    for (const auto& entry : feeds.Items) {
        if (entry->FeedURL.empty())
            continue;
        const auto found = counts.find(entry->FeedID);
        const TFeedCounts feedCounts = found == counts.end() ? TFeedCounts{} : found->second;
        PrintJson(Json{{"name", JsonText(entry->FeedName)},
                       {"id", JsonText(entry->FeedID)},
                       {"items", feedCounts.Items},
                       {"unread", feedCounts.Unread}});
    }
    SetDataFolderForTesting(std::string());
    return 0;
}
