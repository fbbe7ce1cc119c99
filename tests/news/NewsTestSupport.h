#pragma once

#include <memory>
#include <string>

#include "TempDir.h"
#include "cache/CacheFiles.h"
#include "catalogue/FeedListCls.h"
#include "news/NewsTypeCls.h"
#include "platform/Files.h"

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
    // Loads document as the cache file of a fresh marked feed (at address, when one is given) and
    // returns the error text ("" on success); its items join those already loaded.
    std::string LoadDocument(const std::string& document, const std::string& address = std::string()) {
        TFeedListItem* feed = AddFeed("f" + std::to_string(Feeds.Count()), nullptr);
        if (!address.empty())
            feed->FeedURL = address;
        WriteCache(*feed, document);
        try {
            News->LoadFeed(*feed);
        } catch (const Exception& e) {
            return e.Message();
        }
        return "";
    }
    const TNewsItem& At(int index) { return *News->Item(index); }

    TempDir Temp;
    ScopedDataFolder FFolder;
    TFeedList Feeds;
    std::unique_ptr<TNewsType> News;
};
