#include "refresh/FeedSchedule.h"

#include <algorithm>

#include "url/Url.h"

TFeedSchedule::TFeedSchedule(std::vector<std::string> hosts, int maxPerHost)
    : FHosts(std::move(hosts)), FMaxPerHost(std::max(1, maxPerHost)), FState(FHosts.size(), kWaiting) {}

std::string TFeedSchedule::HostOf(const std::string& feedURL) {
    try {
        return ParseFeedURL(feedURL).Host;
    } catch (const EURLError&) {
        return std::string();
    }
}

TFeedSchedule::TTake TFeedSchedule::Take() {
    TTake take;
    if (FStopped) {
        take.State = fsStopped;
        return take;
    }
    while (FFirstWaiting < FHosts.size() && FState[FFirstWaiting] != kWaiting)
        ++FFirstWaiting;
    if (FFirstWaiting == FHosts.size()) {
        take.State = fsFinished;
        return take;
    }
    for (size_t i = FFirstWaiting; i < FHosts.size(); ++i) {
        if (FState[i] != kWaiting)
            continue;
        int& onHost = FRunningOnHost[FHosts[i]];
        if (onHost >= FMaxPerHost)
            continue;
        FState[i] = kRunning;
        ++onHost;
        FPeak = std::max(FPeak, ++FRunning);
        take.State = fsFeed;
        take.Index = i;
        take.Place = ++FStartedCount;
        return take;
    }
    take.State = fsWait;
    return take;
}

void TFeedSchedule::Done(size_t index) {
    // A feed ends once.
    if (index >= FHosts.size() || FState[index] != kRunning)
        return;
    FState[index] = kEnded;
    --FRunning;
    --FRunningOnHost[FHosts[index]];
}
