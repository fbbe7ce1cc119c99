#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/SysUtils.h"

// What the refresh knows of a feed's cached document, kept only while the program runs (user-
// interface thread): read once when a refresh first needs it, then kept up to date as downloads
// land. Whoever deletes the cache file or its ETag file resets it ({}), so that it is read anew.
struct TCacheState {
    // The fields below hold; until then they are to be read from the cache folder.
    bool Known = false;
    // The cache file exists.
    bool Cached = false;
    // The entity tag the server sent with the cached document ("" for none).
    std::string ETag;
    // What identifies the cached document's bytes; "" while not known.
    std::string Hash;
};

// One catalogue entry: a feed, or a folder when FeedURL is empty. The first eight fields are
// stored in "feeds.data" in this order; ErrorText, RefreshMark and CacheState live only while the
// program runs.
class TFeedListItem {
public:
    std::string FeedName;
    std::string FeedURL;
    std::string FeedID;
    std::string ParentID;
    bool AggInclude = false;
    bool ShowAuthor = false;
    TDateTime RefreshDate = 0;
    TDateTime LastModifiedDate = 0;
    std::string ErrorText;
    bool RefreshMark = false;
    TCacheState CacheState;
};

// The user's feeds and folders in the order they were added; the tree is formed by ParentID
// naming a folder's FeedID ("root" for the top), compared case-sensitively.
class TFeedList {
public:
    // Starts empty and loads the file when one exists at fileName; a file that cannot be read
    // raises "The feeds file is corrupted" (or "Cannot open file %s") from here.
    explicit TFeedList(std::string fileName);
    // Saves the catalogue unless SkipSaveOnDestroy was called; a failing save cannot throw here,
    // so its message goes to stderr.
    ~TFeedList();

    TFeedList(const TFeedList&) = delete;
    TFeedList& operator=(const TFeedList&) = delete;

    std::vector<std::unique_ptr<TFeedListItem>> Items;
    std::string FileName;

    // Appends a new entry with a fresh 36-character FeedID; every other field keeps its default.
    TFeedListItem* Add(const std::string& parentId, const std::string& name, const std::string& url);
    // Removes and releases the entry; its children stay (unreachable). Unknown pointers are ignored.
    void Delete(TFeedListItem* item);
    // The number of entries.
    int Count() const;
    // The entry at a 0-based index; outside 0..Count()-1 raises "List index out of bounds (%d)".
    TFeedListItem* Item(int index) const;
    // Sets RefreshMark to false on every entry.
    void ClearRefreshMarks();

    // Replaces the entries with those of FileName; nothing is kept from a file that fails:
    // "Cannot open file %s" when unreadable, "The feeds file is corrupted" when not understood.
    void Load();
    // Writes FileName anew via a temporary file and a rename, so the old file survives a failure;
    // raises "Cannot create file %s" with FileName.
    void Save();
    // Destruction writes nothing: for an owner that has written the catalogue itself at the end
    // (and shown its error), so the file is written once.
    void SkipSaveOnDestroy() { FSaveOnDestroy = false; }

private:
    // Destruction saves only a catalogue whose construction succeeded and whose load did not fail.
    bool FSaveOnDestroy = true;
};

// The one catalogue, created by the program's entry (nullptr until then).
extern TFeedList* FeedList;
