#include <exception>

#include "Inspect.h"
#include "catalogue/FeedsFileInternal.h"
#include "platform/Files.h"

Json FeedEntryJson(const TFeedListItem& item) {
    return Json{{"FeedName", JsonText(item.FeedName)}, {"FeedURL", JsonText(item.FeedURL)},
                {"FeedID", JsonText(item.FeedID)},     {"ParentID", JsonText(item.ParentID)},
                {"AggInclude", item.AggInclude},       {"ShowAuthor", item.ShowAuthor},
                {"RefreshDate", item.RefreshDate},     {"LastModifiedDate", item.LastModifiedDate}};
}

int CmdFeedsRead(const TArgs& args) {
    if (args.size() != 1)
        return PrintError("usage: tovel-inspect feeds-read FILE");
    try {
        const detail::TFeedEntries items = detail::LoadFeedsFile(args[0]);
        Json entries = Json::array();
        for (const auto& item : items)
            entries.push_back(FeedEntryJson(*item));
        PrintJson(Json{{"entries", std::move(entries)}});
        return 0;
    } catch (const std::exception& e) {
        return PrintError(e.what());
    }
}

int CmdFeedsWrite(const TArgs& args) {
    if (args.size() != 2)
        return PrintError("usage: tovel-inspect feeds-write IN.json OUT");
    try {
        const Json in = Json::parse(ReadFileToString(args[0]));
        detail::TFeedEntries items;
        for (const Json& e : in.value("entries", Json::array())) {
            auto item = std::make_unique<TFeedListItem>();
            item->FeedName = e.value("FeedName", std::string());
            item->FeedURL = e.value("FeedURL", std::string());
            item->FeedID = e.value("FeedID", std::string());
            item->ParentID = e.value("ParentID", std::string());
            item->AggInclude = e.value("AggInclude", false);
            item->ShowAuthor = e.value("ShowAuthor", false);
            item->RefreshDate = e.value("RefreshDate", 0.0);
            item->LastModifiedDate = e.value("LastModifiedDate", 0.0);
            items.push_back(std::move(item));
        }
        // The same writer TFeedList::Save uses.
        detail::SaveFeedsFile(args[1], items);
        PrintJson(Json::object());
        return 0;
    } catch (const std::exception& e) {
        return PrintError(e.what());
    }
}
