#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// How many exchanges of one refresh may go to one host (an address's host name, whatever the
// port and letter case).
constexpr int kMaxPerHost = 2;

// The order in which one refresh's feeds start: catalogue order, at most maxPerHost feeds of a
// host at once, a later feed starting while an earlier one waits for its busy host. Each feed
// started gets its place k ("k of N"), counted in the order the feeds start. No I/O and no
// threads: the refresher calls it under its own lock.
class TFeedSchedule {
public:
    // What Take has for the caller.
    enum TState {
        fsFeed,     // Index is the next feed to work on, Place its place.
        fsWait,     // Every feed left belongs to a busy host: wait for a Done (or a Stop).
        fsFinished, // Every feed has started.
        fsStopped,  // Stop was called: no feed starts any more.
    };
    struct TTake {
        TState State = fsFinished;
        size_t Index = 0;
        int Place = 0;
    };

    // hosts: the host each feed (in catalogue order) counts against, as HostOf gives it.
    explicit TFeedSchedule(std::vector<std::string> hosts, int maxPerHost = kMaxPerHost);

    // The host a feed's address counts against: its host name in lower case, the port and
    // credentials left out; "" for an address that does not parse (such feeds make no request
    // and share that key).
    static std::string HostOf(const std::string& feedURL);

    // The first feed not started yet whose host has room, marked started and counted running.
    TTake Take();
    // The feed index has ended; its host has room again. Nothing for a feed not running.
    void Done(size_t index);
    // No feed starts any more; Take says fsStopped from now on.
    void Stop() { FStopped = true; }
    bool Stopped() const { return FStopped; }

    // The number of feeds (N of "k of N").
    size_t Count() const { return FHosts.size(); }
    // Feeds started and not Done.
    int Running() const { return FRunning; }
    // The most feeds running at once so far.
    int PeakRunning() const { return FPeak; }

private:
    const std::vector<std::string> FHosts;
    const int FMaxPerHost;
    enum : char { kWaiting, kRunning, kEnded };
    std::vector<char> FState;
    // Every feed before it has started.
    size_t FFirstWaiting = 0;
    std::map<std::string, int> FRunningOnHost;
    int FRunning = 0;
    int FPeak = 0;
    int FStartedCount = 0;
    bool FStopped = false;
};
