#pragma once

#include <memory>
#include <string>

#include "TempDir.h"
#include "catalogue/FeedListCls.h"
#include "news/NewsTypeCls.h"
#include "platform/Files.h"
#include "cache/CacheFiles.h"

// A program folder of its own with a catalogue and a renderer over it.
class TNewsFixtureBase {
protected:
    TNewsFixtureBase()
        : FFolder(Temp.Path()), Feeds(Temp.File("feeds.data")), News(std::make_unique<TNewsType>(Feeds)) {}

    // A marked feed whose cache file holds document (no file when document is nullptr).
    TFeedListItem* AddFeed(const std::string& name, const char* document,
                           const std::string& parent = "root") {
        TFeedListItem* feed = Feeds.Add(parent, name, "http://127.0.0.1/" + name);
        feed->RefreshMark = true;
        if (document)
            WriteCache(*feed, document);
        return feed;
    }
    void WriteCache(const TFeedListItem& feed, const std::string& document) {
        SaveStringToFile(document, CacheFileName(feed.FeedID));
    }

    TempDir Temp;
    ScopedDataFolder FFolder;
    TFeedList Feeds;
    std::unique_ptr<TNewsType> News;
};
