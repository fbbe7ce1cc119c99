// items FILE...: the news items of feed documents, as the news view would show them.
#include <exception>
#include <string>

#include "Inspect.h"
#include "catalogue/FeedListCls.h"
#include "news/NewsTypeCls.h"
#include "platform/Files.h"

int CmdItems(const TArgs& args) {
    if (args.empty())
        return PrintError("usage: items FILE...");
    TScratchFolder scratch;
    if (scratch.Path().empty())
        return PrintError("cannot create a temporary folder");

    Json errors = Json::object();
    Json items = Json::array();
    {
        TFeedList feeds(scratch.Path() + "feeds.data");
        TNewsType news(feeds);
        // Each file is the cache document of one marked feed named after it; a failing file is
        // that feed's error and the others still load.
        for (const std::string& file : args) {
            TFeedListItem* feed = feeds.Add("root", file, file);
            feed->RefreshMark = true;
            try {
                news.LoadFeedFromString(*feed, ReadFileToString(file));
            } catch (const std::exception& e) {
                feed->ErrorText = e.what();
                errors[JsonText(file)] = JsonText(feed->ErrorText);
            }
        }
        news.SortItems();
        for (const auto& item : news.NewsItems) {
            items.push_back(Json{{"file", JsonText(item->Feed->FeedName)},
                                 {"title", JsonText(item->Title)},
                                 {"description", JsonText(item->Description)},
                                 {"link", JsonText(item->Link)},
                                 {"author", JsonText(item->Author)},
                                 {"date", item->Date}});
        }
    }
    PrintJson(Json{{"items", items}, {"errors", errors}});
    return 0;
}
