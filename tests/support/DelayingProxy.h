#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The loopback addresses "127.0.0.2" ... "127.0.0.<1+count>": distinct hosts on one machine.
std::vector<std::string> LoopbackHosts(int count);

// A relay on loopback in front of a server: it listens on each of hosts (loopback addresses), each on a
// free port of its own, and relays every connection to targetHost:targetPort byte for byte (so TLS passes
// through too). It holds back the first byte of each answer until delayMs after the first byte of the
// request arrived: a server's latency per request. Counts the connections open at once per host.
//
//   DelayingProxy proxy(LoopbackHosts(4), "127.0.0.1", nginx.Port(), 200);
//   if (!proxy.Ok()) GTEST_SKIP() << proxy.Error();
//   client.Execute() on proxy.Url("127.0.0.3", "/feed.xml") ...
class DelayingProxy {
public:
    DelayingProxy(std::vector<std::string> hosts, std::string targetHost, int targetPort, int delayMs);
    // Stops listening, closes every connection, joins every thread.
    ~DelayingProxy();
    DelayingProxy(const DelayingProxy&) = delete;
    DelayingProxy& operator=(const DelayingProxy&) = delete;

    // False when a listener could not be set up (or an address is not loopback); Error() says why.
    bool Ok() const { return FError.empty(); }
    const std::string& Error() const { return FError; }
    // The port listened on for host; 0 for a host not given.
    int Port(const std::string& host) const;
    // "http://" (or "https://" when secure) + host + ":" + Port(host) + path.
    std::string Url(const std::string& host, const std::string& path, bool secure = false) const;
    // For connections accepted from now on.
    void SetDelay(int delayMs) { FDelayMs = delayMs; }
    // Connections accepted on host so far.
    int Accepted(const std::string& host) const;
    // Most connections open at once on host.
    int PeakConnections(const std::string& host) const;
    // Most open at once over all hosts.
    int PeakConnections() const { return FAll.Peak; }
    // Open right now, all hosts: from the accept until the client has closed its side (or the relay
    // has closed both sides, when that comes first).
    int OpenConnections() const { return FAll.Open; }
    // Accepted and peaks back to 0.
    void ResetCounts();

private:
    struct TCounts {
        std::atomic<int> Accepted{0};
        std::atomic<int> Open{0};
        std::atomic<int> Peak{0};
        void Opened();
    };
    struct THost {
        int ListenFd = -1;
        int Port = 0;
        TCounts Counts;
    };
    struct TWorker {
        std::thread Thread;
        std::atomic<bool> Done{false};
        // The client's socket while the relay has it open (guarded by FMutex), and whether the
        // connection still counts as open.
        int ClientFd = -1;
        THost* Host = nullptr;
        std::atomic<bool> Counted{true};
    };

    void AcceptLoop();
    // Relays one accepted connection until either side ends it or the proxy stops.
    void Relay(int clientFd, int delayMs);
    // Takes the connection off the open counts (once).
    void Uncount(TWorker& worker);
    // Takes off the counts every connection whose client has already closed its side while its
    // relay has not got round to it yet, so that a client closing one connection and opening the
    // next is never seen with both open.
    void UncountClosedClients();
    // Joins the connection threads that have ended.
    void ReapWorkers(bool all);

    std::string FTargetHost;
    int FTargetPort;
    std::atomic<int> FDelayMs;
    std::string FError;
    std::map<std::string, std::unique_ptr<THost>> FHosts;
    TCounts FAll;
    // Written once to stop: every poll of every thread watches its read end.
    int FStopPipe[2] = {-1, -1};
    std::mutex FMutex;
    std::vector<std::unique_ptr<TWorker>> FWorkers;
    std::thread FAcceptThread;
};
