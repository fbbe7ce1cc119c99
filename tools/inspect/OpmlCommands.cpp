// opml-import FILE and opml-export FEEDS_FILE OUT: subscription lists in and out of the catalogue.
#include <exception>

#include "Inspect.h"
#include "catalogue/FeedsFileInternal.h"
#include "catalogue/Opml.h"

int CmdOpmlImport(const TArgs& args) {
    if (args.size() != 1)
        return PrintError("usage: tovel-inspect opml-import FILE");
    TScratchFolder scratch;
    if (scratch.Path().empty())
        return PrintError("cannot create a temporary folder");
    try {
        // The entries an import into an empty catalogue adds, in catalogue order, ready for
        // feeds-write.
        TFeedList feeds(scratch.Path() + "feeds.data");
        ImportOpml(feeds, "root", LoadOpmlFile(args[0]));
        Json entries = Json::array();
        for (const auto& item : feeds.Items)
            entries.push_back(FeedEntryJson(*item));
        PrintJson(Json{{"entries", std::move(entries)}});
        return 0;
    } catch (const std::exception& e) {
        return PrintError(e.what());
    }
}

int CmdOpmlExport(const TArgs& args) {
    if (args.size() != 2)
        return PrintError("usage: tovel-inspect opml-export FEEDS_FILE OUT");
    TScratchFolder scratch;
    if (scratch.Path().empty())
        return PrintError("cannot create a temporary folder");
    try {
        // A copy of the catalogue, so that the feeds file itself is never written.
        TFeedList feeds(scratch.Path() + "feeds.data");
        feeds.Items = detail::LoadFeedsFile(args[0]);
        const int count = ExportOpml(feeds, "root", "Tovel RSS Reader subscriptions", args[1]);
        PrintJson(Json{{"feeds", count}});
        return 0;
    } catch (const std::exception& e) {
        return PrintError(e.what());
    }
}
