#include "DelayingProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// Fills address from a loopback literal (127.0.0.0/8 or ::1); false for anything else, so the
// relay never listens on or connects to another address, and never resolves a name.
bool LoopbackAddress(const std::string& text, int port, sockaddr_storage& address, socklen_t& length) {
    address = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        if ((ntohl(v4->sin_addr.s_addr) >> 24) != 127)
            return false;
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof(sockaddr_in);
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1 && IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

// A connected, non-blocking socket to a loopback address; -1 when it cannot be made or stopFd
// became readable meanwhile.
int ConnectTo(const std::string& host, int port, int stopFd) {
    sockaddr_storage address;
    socklen_t length = 0;
    if (!LoopbackAddress(host, port, address, length))
        return -1;
    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd == -1)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        int error = errno;
        while (error == EINPROGRESS || error == EINTR) {
            pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, POLLOUT, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR)
                break;
            if (fds[0].revents != 0)
                break;
            if (fds[1].revents != 0) {
                socklen_t size = sizeof(error);
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                    break;
                if (error == 0)
                    return fd;
            }
        }
        close(fd);
        return -1;
    }
    return fd;
}

// Relayed pieces go out at once: Nagle's wait would add latency of its own to the delay asked.
void NoDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

// What arrived on fd appended to buffer: the count, 0 at the peer's end, -1 for a failure,
// -2 when nothing is there after all.
ssize_t ReceiveInto(int fd, std::string& buffer) {
    char bytes[65536];
    const ssize_t got = recv(fd, bytes, sizeof(bytes), MSG_DONTWAIT);
    if (got > 0)
        buffer.append(bytes, static_cast<size_t>(got));
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return -2;
    return got;
}

// Sends what fd takes now from the front of buffer; false when the peer has gone.
bool SendFrom(int fd, std::string& buffer) {
    const ssize_t sent = send(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    buffer.erase(0, static_cast<size_t>(sent));
    return true;
}

} // namespace

std::vector<std::string> LoopbackHosts(int count) {
    std::vector<std::string> hosts;
    for (int i = 0; i < count; ++i)
        hosts.push_back("127.0.0." + std::to_string(2 + i));
    return hosts;
}

void DelayingProxy::TCounts::Opened() {
    const int now = ++Open;
    int peak = Peak;
    while (now > peak && !Peak.compare_exchange_weak(peak, now)) {
    }
}

DelayingProxy::DelayingProxy(std::vector<std::string> hosts, std::string targetHost, int targetPort,
                             int delayMs)
    : FTargetHost(std::move(targetHost)), FTargetPort(targetPort), FDelayMs(delayMs) {
    sockaddr_storage address;
    socklen_t length = 0;
    if (!LoopbackAddress(FTargetHost, FTargetPort, address, length))
        FError = "delaying proxy: the target " + FTargetHost + " is not a loopback address";
    for (const std::string& name : hosts) {
        if (!FError.empty())
            break;
        auto host = std::make_unique<THost>();
        if (!LoopbackAddress(name, 0, address, length)) {
            FError = "delaying proxy: " + name + " is not a loopback address";
            break;
        }
        host->ListenFd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (host->ListenFd == -1 ||
            bind(host->ListenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(host->ListenFd, 128) != 0 ||
            getsockname(host->ListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            FError = "delaying proxy: cannot listen on " + name + ": " + std::strerror(errno);
        else
            host->Port =
                ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                                   : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
        FHosts[name] = std::move(host);
    }
    if (FError.empty() && pipe2(FStopPipe, O_CLOEXEC) != 0)
        FError = std::string("delaying proxy: no pipe: ") + std::strerror(errno);
    if (FError.empty())
        FAcceptThread = std::thread([this] { AcceptLoop(); });
}

DelayingProxy::~DelayingProxy() {
    if (FStopPipe[1] != -1) {
        const char stop = 1;
        while (write(FStopPipe[1], &stop, 1) < 0 && errno == EINTR) {
        }
    }
    if (FAcceptThread.joinable())
        FAcceptThread.join();
    ReapWorkers(true);
    for (auto& host : FHosts)
        if (host.second->ListenFd != -1)
            close(host.second->ListenFd);
    for (int fd : FStopPipe)
        if (fd != -1)
            close(fd);
}

int DelayingProxy::Port(const std::string& host) const {
    const auto found = FHosts.find(host);
    return found == FHosts.end() ? 0 : found->second->Port;
}

std::string DelayingProxy::Url(const std::string& host, const std::string& path, bool secure) const {
    return (secure ? "https://" : "http://") + host + ":" + std::to_string(Port(host)) + path;
}

int DelayingProxy::Accepted(const std::string& host) const {
    const auto found = FHosts.find(host);
    return found == FHosts.end() ? 0 : found->second->Counts.Accepted.load();
}

int DelayingProxy::PeakConnections(const std::string& host) const {
    const auto found = FHosts.find(host);
    return found == FHosts.end() ? 0 : found->second->Counts.Peak.load();
}

void DelayingProxy::ResetCounts() {
    for (auto& host : FHosts) {
        host.second->Counts.Accepted = 0;
        host.second->Counts.Peak = 0;
    }
    FAll.Accepted = 0;
    FAll.Peak = 0;
}

void DelayingProxy::AcceptLoop() {
    std::vector<pollfd> fds{{FStopPipe[0], POLLIN, 0}};
    std::vector<THost*> owners{nullptr};
    for (auto& host : FHosts) {
        fds.push_back({host.second->ListenFd, POLLIN, 0});
        owners.push_back(host.second.get());
    }
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        for (size_t i = 1; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0)
                continue;
            int client;
            while ((client = accept4(fds[i].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) != -1) {
                THost& host = *owners[i];
                UncountClosedClients();
                ++host.Counts.Accepted;
                ++FAll.Accepted;
                host.Counts.Opened();
                FAll.Opened();
                auto worker = std::make_unique<TWorker>();
                TWorker* const self = worker.get();
                self->ClientFd = client;
                self->Host = &host;
                const int delayMs = FDelayMs;
                std::lock_guard<std::mutex> lock(FMutex);
                self->Thread = std::thread([this, self, client, delayMs] {
                    Relay(client, delayMs);
                    {
                        std::lock_guard<std::mutex> lock(FMutex);
                        Uncount(*self);
                        close(client);
                        self->ClientFd = -1;
                    }
                    self->Done = true;
                });
                FWorkers.push_back(std::move(worker));
            }
        }
        ReapWorkers(false);
    }
}

void DelayingProxy::Uncount(TWorker& worker) {
    if (!worker.Counted.exchange(false))
        return;
    --worker.Host->Counts.Open;
    --FAll.Open;
}

void DelayingProxy::UncountClosedClients() {
    std::lock_guard<std::mutex> lock(FMutex);
    for (auto& worker : FWorkers) {
        if (worker->ClientFd == -1 || !worker->Counted)
            continue;
        pollfd p{worker->ClientFd, POLLRDHUP, 0};
        if (poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            Uncount(*worker);
    }
}

void DelayingProxy::ReapWorkers(bool all) {
    std::vector<std::unique_ptr<TWorker>> ended;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        for (auto it = FWorkers.begin(); it != FWorkers.end();) {
            if (all || (*it)->Done) {
                ended.push_back(std::move(*it));
                it = FWorkers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& worker : ended)
        worker->Thread.join();
}

void DelayingProxy::Relay(int client, int delayMs) {
    int target = ConnectTo(FTargetHost, FTargetPort, FStopPipe[0]);
    if (target != -1)
        NoDelay(target);
    NoDelay(client);
    std::string toTarget;
    std::string toClient;
    // The target has sent its end (or gone); the end goes on to the client once toClient is out.
    bool targetEnded = false;
    bool endForwarded = false;
    // Request bytes came and no answer byte yet: the answer is held back until answerAt.
    bool awaiting = false;
    Clock::time_point answerAt;
    while (target != -1) {
        const Clock::time_point now = Clock::now();
        const bool holding = awaiting && now < answerAt;
        // Each side is read only when the other side's buffer is empty, so nothing piles up.
        pollfd fds[3] = {{FStopPipe[0], POLLIN, 0}, {client, 0, 0}, {target, 0, 0}};
        if (toTarget.empty())
            fds[1].events |= POLLIN;
        if (!toClient.empty())
            fds[1].events |= POLLOUT;
        if (!targetEnded && !toTarget.empty())
            fds[2].events |= POLLOUT;
        if (!targetEnded && !holding && toClient.empty())
            fds[2].events |= POLLIN;
        for (pollfd& p : fds)
            if (p.events == 0)
                p.fd = -1;
        int timeout = -1;
        if (holding)
            timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(answerAt - now).count());
        if (poll(fds, 3, timeout) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            break;
        // A client that closes or aborts ends the relay at once.
        if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))
            break;
        if (fds[1].revents & POLLIN) {
            const ssize_t got = ReceiveInto(client, toTarget);
            if (got == 0 || got == -1)
                break;
            if (got > 0 && !awaiting && !targetEnded) {
                awaiting = true;
                answerAt = Clock::now() + std::chrono::milliseconds(delayMs);
            }
            if (targetEnded)
                toTarget.clear();
        }
        if ((fds[1].revents & POLLOUT) && !SendFrom(client, toClient))
            break;
        if (fds[2].revents & POLLOUT) {
            if (!SendFrom(target, toTarget))
                targetEnded = true;
        }
        if ((fds[2].events & POLLIN) && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t got = ReceiveInto(target, toClient);
            if (got == 0 || got == -1)
                targetEnded = true;
            else if (got > 0)
                awaiting = false;
        } else if (fds[2].revents & POLLERR) {
            targetEnded = true;
        }
        if (targetEnded) {
            toTarget.clear();
            if (toClient.empty() && !endForwarded) {
                shutdown(client, SHUT_WR);
                endForwarded = true;
            }
        }
    }
    if (target != -1)
        close(target);
}
