// The order in which a refresh's feeds start, with no sockets and no threads.
#include "refresh/FeedSchedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Takes every feed that can start now; their indices in the order given.
std::vector<size_t> TakeAll(TFeedSchedule& schedule, TFeedSchedule::TState* last = nullptr) {
    std::vector<size_t> taken;
    for (;;) {
        const TFeedSchedule::TTake take = schedule.Take();
        if (take.State != TFeedSchedule::fsFeed) {
            if (last)
                *last = take.State;
            return taken;
        }
        taken.push_back(take.Index);
    }
}

TEST(FeedSchedule, FeedsOfFreeHostsStartInCatalogueOrderWithTheirPlaces) {
    TFeedSchedule schedule({"a", "b", "c"});
    EXPECT_EQ(schedule.Count(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const TFeedSchedule::TTake take = schedule.Take();
        ASSERT_EQ(take.State, TFeedSchedule::fsFeed);
        EXPECT_EQ(take.Index, i);
        EXPECT_EQ(take.Place, static_cast<int>(i) + 1);
    }
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsFinished) << "every feed has started";
    EXPECT_EQ(schedule.Running(), 3);
    schedule.Done(1);
    EXPECT_EQ(schedule.Running(), 2);
    EXPECT_EQ(schedule.PeakRunning(), 3);
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsFinished);
}

// A third feed of a busy host waits; a later feed of another host overtakes it and takes the
// next place; the waiting one starts once a feed of its host is done, with the place after.
TEST(FeedSchedule, TwoPerHostAndLaterFeedsOvertakeAWaitingOne) {
    TFeedSchedule schedule({"a", "a", "a", "b", "a"});
    TFeedSchedule::TState state;
    EXPECT_EQ(TakeAll(schedule, &state), (std::vector<size_t>{0, 1, 3}));
    EXPECT_EQ(state, TFeedSchedule::fsWait);
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsWait) << "asking again frees nothing";

    // The end of another host's feed frees nothing for host a.
    schedule.Done(3);
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsWait);

    schedule.Done(1);
    TFeedSchedule::TTake take = schedule.Take();
    ASSERT_EQ(take.State, TFeedSchedule::fsFeed);
    EXPECT_EQ(take.Index, 2u) << "the earliest waiting feed first";
    EXPECT_EQ(take.Place, 4);
    // A second Done of the same feed is no second free slot.
    schedule.Done(1);
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsWait);

    schedule.Done(0);
    take = schedule.Take();
    ASSERT_EQ(take.State, TFeedSchedule::fsFeed);
    EXPECT_EQ(take.Index, 4u);
    EXPECT_EQ(take.Place, 5);
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsFinished);
    EXPECT_EQ(schedule.PeakRunning(), 3);
}

TEST(FeedSchedule, AHostIsItsNameWhateverThePortSchemeAndLetterCase) {
    const std::string host = TFeedSchedule::HostOf("http://Feeds.Example.ORG:8080/a");
    EXPECT_EQ(host, "feeds.example.org");
    EXPECT_EQ(TFeedSchedule::HostOf("https://feeds.example.org/b"), host);
    EXPECT_EQ(TFeedSchedule::HostOf("https://user:pw@FEEDS.example.org:81/c?x"), host);
    EXPECT_NE(TFeedSchedule::HostOf("http://example.org/"), host);
    EXPECT_EQ(TFeedSchedule::HostOf("http://[::1]:8080/"), TFeedSchedule::HostOf("http://[::1]/x"));
    // Addresses that do not parse share one key.
    EXPECT_EQ(TFeedSchedule::HostOf("not an address"), "");
    EXPECT_EQ(TFeedSchedule::HostOf("ftp://example.org/"), "");

    std::vector<std::string> hosts;
    for (const char* url :
         {"http://A.example:1/x", "http://a.example:2/y", "https://a.EXAMPLE/z", "http://b.example/"})
        hosts.push_back(TFeedSchedule::HostOf(url));
    TFeedSchedule schedule(hosts);
    EXPECT_EQ(TakeAll(schedule), (std::vector<size_t>{0, 1, 3}));
}

TEST(FeedSchedule, AStopEndsTheTakingAlsoOfWaitingFeeds) {
    TFeedSchedule schedule({"a", "a", "a", "b"});
    EXPECT_EQ(TakeAll(schedule), (std::vector<size_t>{0, 1, 3}));
    EXPECT_FALSE(schedule.Stopped());
    schedule.Stop();
    EXPECT_TRUE(schedule.Stopped());
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsStopped);
    schedule.Done(0);
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsStopped)
        << "a freed slot starts nothing after the stop";
    EXPECT_EQ(schedule.Running(), 2);

    TFeedSchedule unstarted({"a"});
    unstarted.Stop();
    EXPECT_EQ(unstarted.Take().State, TFeedSchedule::fsStopped);
    EXPECT_EQ(unstarted.PeakRunning(), 0);
}

TEST(FeedSchedule, NoFeedsIsFinishedAtOnce) {
    TFeedSchedule schedule({});
    EXPECT_EQ(schedule.Take().State, TFeedSchedule::fsFinished);
    schedule.Done(0);
    EXPECT_EQ(schedule.Running(), 0);
}

} // namespace
