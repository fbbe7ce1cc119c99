#include "catalogue/FeedListCls.h"

#include <algorithm>
#include <iostream>

#include "catalogue/FeedsFileInternal.h"
#include "platform/Files.h"
#include "platform/Guid.h"

TFeedList* FeedList = nullptr;

TFeedList::TFeedList(std::string fileName) : FileName(std::move(fileName)) {
    if (FileExists(FileName))
        Load();
}

TFeedList::~TFeedList() {
    if (!FSaveOnDestroy)
        return;
    try {
        Save();
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
    }
}

TFeedListItem* TFeedList::Add(const std::string& parentId, const std::string& name, const std::string& url) {
    auto item = std::make_unique<TFeedListItem>();
    item->FeedID = NewGuidText();
    item->ParentID = parentId;
    item->FeedName = name;
    item->FeedURL = url;
    Items.push_back(std::move(item));
    return Items.back().get();
}

void TFeedList::Delete(TFeedListItem* item) {
    const auto it = std::find_if(Items.begin(), Items.end(),
                                 [item](const std::unique_ptr<TFeedListItem>& p) { return p.get() == item; });
    if (it != Items.end())
        Items.erase(it);
}

int TFeedList::Count() const {
    return static_cast<int>(Items.size());
}

TFeedListItem* TFeedList::Item(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return Items[static_cast<size_t>(index)].get();
}

void TFeedList::ClearRefreshMarks() {
    for (const auto& item : Items)
        item->RefreshMark = false;
}

void TFeedList::Load() {
    Items.clear();
    // A file that could not be read is never overwritten by the save at destruction: the user may
    // still repair it.
    FSaveOnDestroy = false;
    // Parsed whole before the entries are taken, so a failure leaves no half-read catalogue.
    Items = detail::LoadFeedsFile(FileName);
    FSaveOnDestroy = true;
}

void TFeedList::Save() {
    detail::SaveFeedsFile(FileName, Items);
}
