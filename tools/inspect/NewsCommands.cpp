// items FILE...: the news items of feed documents, as the news view would show them or in each
// document's own order; render FILE...: the page made of them.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "Inspect.h"
#include "catalogue/FeedListCls.h"
#include "dates/NewsDates.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

// items [--document-order] FILE...: newest first as the view shows them, or each file's items in
// the order its document gives them.
int CmdItems(const TArgs& args) {
    const bool documentOrder = !args.empty() && args[0] == "--document-order";
    const TArgs files(args.begin() + (documentOrder ? 1 : 0), args.end());
    if (files.empty())
        return PrintError("usage: items [--document-order] FILE...");
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
        for (const std::string& file : files) {
            TFeedListItem* feed = feeds.Add("root", file, file);
            feed->RefreshMark = true;
            try {
                news.LoadFeedFromString(*feed, ReadFileToString(file));
            } catch (const std::exception& e) {
                feed->ErrorText = e.what();
                errors[JsonText(file)] = JsonText(feed->ErrorText);
            }
        }
        if (!documentOrder)
            news.SortItems();
        for (const auto& item : news.NewsItems) {
            Json enclosures = Json::array();
            for (const TEnclosure& enclosure : item->Enclosures)
                enclosures.push_back(Json{{"url", JsonText(enclosure.URL)},
                                          {"type", JsonText(enclosure.Type)},
                                          {"length", enclosure.Length}});
            items.push_back(Json{{"file", JsonText(item->Feed->FeedName)},
                                 {"title", JsonText(item->Title)},
                                 {"description", JsonText(item->Description)},
                                 {"link", JsonText(item->Link)},
                                 {"author", JsonText(item->Author)},
                                 {"date", item->Date},
                                 {"enclosures", enclosures},
                                 {"thumbnail", JsonText(item->Thumbnail)}});
        }
    }
    PrintJson(Json{{"items", items}, {"errors", errors}});
    return 0;
}

// render FILE... [--pictures] [--filter N] [--url URL]: the page the view would show for the
// files as the feeds of one folder, written with the shipped templates to standard output.
int CmdRender(const TArgs& args) {
    const char* usage = "usage: render FILE... [--pictures] [--filter N] [--url URL]";
    TArgs files;
    bool pictures = false;
    int filter = kFilterCount - 1; // "All"
    std::string url;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--pictures")
            pictures = true;
        else if (args[i] == "--filter" && i + 1 < args.size() && TryStrToInt(args[i + 1], filter) &&
                 filter >= 0 && filter < kFilterCount)
            ++i;
        else if (args[i] == "--url" && i + 1 < args.size())
            url = args[++i];
        else if (args[i].compare(0, 2, "--") == 0)
            return PrintError(usage);
        else
            files.push_back(args[i]);
    }
    if (files.empty())
        return PrintError(usage);
    TScratchFolder scratch;
    if (scratch.Path().empty())
        return PrintError("cannot create a temporary folder");

    // The shipped templates, copied into a data folder of its own, where the page is written.
    ForceDirectories(scratch.Path() + "template");
    for (const char* name : {"top.html", "item.html", "bottom.html"})
        WriteFileAtomically(scratch.Path() + "template/" + name, TNewsType::LoadTemplate(name), false);
    SetDataFolderForTesting(scratch.Path());
    std::string page;
    {
        TFeedList feeds(scratch.Path() + "feeds.data");
        TNewsType news(feeds);
        // As the view's load: a file that fails adds nothing; alone, its error is the page.
        for (const std::string& file : files) {
            TFeedListItem* feed = feeds.Add("root", std::filesystem::path(file).filename().string(), url);
            feed->RefreshMark = true;
            try {
                news.LoadFeedFromString(*feed, ReadFileToString(file));
            } catch (const std::exception& e) {
                feed->ErrorText = e.what();
            }
        }
        news.SortItems();
        if (files.size() == 1 && !feeds.Items.back()->ErrorText.empty())
            news.WriteErrorPage(feeds.Items.back()->ErrorText);
        else
            news.RenderPage(filter, FilterName(filter), pictures);
        page = ReadFileToString(news.PagePath);
    }
    SetDataFolderForTesting(std::string());
    std::cout.write(page.data(), static_cast<std::streamsize>(page.size()));
    std::cout.flush();
    return 0;
}
