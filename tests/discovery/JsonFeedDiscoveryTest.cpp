// Finding a JSON Feed behind a page's address, against a private nginx.
#include "discovery/DiscoveryFetch.h"

#include <gtest/gtest.h>

#include "NginxFixture.h"

namespace {

TDiscoveryResult DiscoverJson(const std::string& url) {
    THTTPClient client;
    PrepareFeedClient(client);
    return DiscoverFeedsAt(client, url);
}

TEST(JsonFeedDiscovery, APageNamesAJsonFeedWhichIsAFeedInItsTurn) {
    NginxFixture nginx;
    if (!nginx.Start())
        GTEST_SKIP() << nginx.Error();
    nginx.WriteFile(
        "blog/index.html",
        "<!DOCTYPE html><html><head><title>Blog</title>"
        "<link rel=\"alternate\" type=\"application/feed+json\" title=\"Posts\" href=\"feed.json\">"
        "</head><body></body></html>");
    nginx.WriteFile("blog/feed.json", "{\"version\": \"https://jsonfeed.org/version/1.1\", \"title\": "
                                      "\"The blog\", \"items\": [{\"id\": \"1\", \"title\": \"One\"}]}");
    nginx.WriteFile("api.json", "{\"version\": \"2\", \"title\": \"No feed\"}");

    TDiscoveryResult result = DiscoverJson(nginx.Url("/blog/"));
    ASSERT_EQ(result.Outcome, doFeedsFound) << result.ErrorText;
    ASSERT_EQ(result.Feeds.size(), 1u);
    EXPECT_EQ(result.Feeds[0].URL, nginx.Url("/blog/feed.json"));
    EXPECT_EQ(result.Feeds[0].Type, "application/feed+json");

    result = DiscoverJson(result.Feeds[0].URL);
    EXPECT_EQ(result.Outcome, doIsFeed) << result.ErrorText;
    EXPECT_EQ(result.FeedTitle, "The blog");

    // JSON that is no feed is a document naming no feeds.
    result = DiscoverJson(nginx.Url("/api.json"));
    EXPECT_EQ(result.Outcome, doNothingFound) << result.ErrorText;
}

} // namespace
