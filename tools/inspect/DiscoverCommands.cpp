#include "Inspect.h"
#include "discovery/DiscoveryFetch.h"

// discover URL: what adding the address as a feed finds behind it, with the client the dialog
// uses: {"feeds": [...]} of the page's feed links, empty when the address is a feed itself or
// its page names none; {"error": ...} when the fetch fails.
int CmdDiscover(const TArgs& args) {
    if (args.size() != 1)
        return PrintError("usage: tovel-inspect discover URL");
    THTTPClient client;
    PrepareFeedClient(client);
    const TDiscoveryResult result = DiscoverFeedsAt(client, args[0]);
    if (result.Outcome == doFailed)
        return PrintError(result.ErrorText);
    Json feeds = Json::array();
    for (const TDiscoveredFeed& feed : result.Feeds)
        feeds.push_back({{"title", JsonText(feed.Title)}, {"url", JsonText(feed.URL)}, {"type", feed.Type}});
    PrintJson(Json{{"feeds", std::move(feeds)}});
    return 0;
}
