#include "net/SocketLib.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "net/SocketLibInternal.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kConnectFailed = "A connection could not be established";
// The longest a connect or a send waits before it looks at the abort flag again.
constexpr int kAbortCheckMs = 100;

std::mutex gResolverLock;
THostResolver gResolver;

bool Raised(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

// Milliseconds until deadline, at least 0.
long long MillisecondsLeft(Clock::time_point deadline) {
    return std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

// Waits until fd is ready for events, in slices that look at abort: 1 ready, 0 not within ms
// (ms <= 0: no bound), -1 the wait failed or abort was raised.
int WaitReady(int fd, short events, int ms, const std::atomic<bool>* abort) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (Raised(abort))
            return -1;
        long long slice = kAbortCheckMs;
        if (ms > 0) {
            const long long left = MillisecondsLeft(deadline);
            if (left == 0)
                return 0;
            slice = std::min(slice, left);
        }
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, static_cast<int>(slice));
        if (r > 0)
            return 1;
        if (r < 0 && errno != EINTR)
            return -1;
    }
}

// The system's IPv4 address of a name, or the test's resolver when one is installed.
bool LookUp(const std::string& host, in_addr& address) {
    THostResolver resolver;
    {
        std::lock_guard<std::mutex> lock(gResolverLock);
        resolver = gResolver;
    }
    if (resolver)
        return resolver(host, address);
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

} // namespace

void SetHostResolverForTesting(THostResolver resolver) {
    std::lock_guard<std::mutex> lock(gResolverLock);
    gResolver = std::move(resolver);
}

TBaseSocket::~TBaseSocket() {
    Disconnect();
}

sockaddr_in TBaseSocket::ResolveAddress(const std::string& host, int port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    // A text with a zero byte inside is no dotted address and no name either.
    const bool clean = host.find('\0') == std::string::npos;
    address.sin_addr.s_addr = clean ? inet_addr(host.c_str()) : INADDR_NONE;
    if (address.sin_addr.s_addr == INADDR_NONE && (!clean || host.empty() || !LookUp(host, address.sin_addr)))
        throw EBaseSocketError("The name \"" + host + "\" can not be resolved");
    address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    return address;
}

void TBaseSocket::Connect(const std::string& host, int port) {
    Disconnect();
    // Non-blocking while it connects, so that the wait can look at the abort flag.
    Handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (Handle == -1)
        throw EBaseSocketError("Unable to create socket");
    const sockaddr_in address = ResolveAddress(host, port);
    // A port the address cannot hold would wrap round to another one (65616 to 80): refuse it.
    if (port < 1 || port > 65535 || Raised(AbortFlag))
        throw EBaseSocketError(kConnectFailed);
    if (connect(Handle, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        // Interrupted, the connect goes on in the background just as one in progress.
        if (errno != EINPROGRESS && errno != EINTR)
            throw EBaseSocketError(kConnectFailed);
        int error = 0;
        socklen_t length = sizeof(error);
        if (WaitReady(Handle, POLLOUT, Timeout, AbortFlag) != 1 ||
            getsockopt(Handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            throw EBaseSocketError(kConnectFailed);
    }
    // Every later wait is an explicit one; the calls themselves block again.
    const int flags = fcntl(Handle, F_GETFL);
    if (flags == -1 || fcntl(Handle, F_SETFL, flags & ~O_NONBLOCK) == -1)
        throw EBaseSocketError(kConnectFailed);
}

int TBaseSocket::Disconnect() {
    if (Handle == -1)
        return -1;
    shutdown(Handle, SHUT_RDWR);
    // close is not retried after EINTR: on Linux the descriptor is gone either way.
    const int result = close(Handle);
    Handle = -1;
    return result;
}

bool TBaseSocket::WaitForData(int ms) {
    if (Handle == -1)
        throw EBaseSocketError("Select error");
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{Handle, POLLIN, 0};
        const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || (r > 0 && (p.revents & POLLNVAL)))
            throw EBaseSocketError("Select error");
        return r > 0;
    }
}

int TBaseSocket::DataAvailable() {
    int count = 0;
    if (Handle == -1 || ioctl(Handle, FIONREAD, &count) != 0)
        return -1;
    return count;
}

int TBaseSocket::ReceiveBuf(void* buffer, int size) {
    ssize_t r;
    do
        r = recv(Handle, buffer, size < 0 ? 0 : static_cast<size_t>(size), 0);
    while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

int TBaseSocket::SendBuf(const void* buffer, int length) {
    ssize_t r;
    do
        r = send(Handle, buffer, length < 0 ? 0 : static_cast<size_t>(length), MSG_NOSIGNAL);
    while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

TBaseSocket::TSendResult TBaseSocket::SendText(const std::string& text, int idleMs) {
    if (Handle == -1)
        return srFailed;
    size_t sent = 0;
    while (sent < text.size()) {
        // Wait for room first, so that a full buffer never blocks past a check of the flag.
        const int ready = WaitReady(Handle, POLLOUT, idleMs, AbortFlag);
        if (ready == 0)
            return srTimedOut;
        if (ready < 0)
            return Raised(AbortFlag) ? srAborted : srFailed;
        const size_t piece = std::min<size_t>(text.size() - sent, 1 << 30);
        ssize_t r;
        do
            r = send(Handle, text.data() + sent, piece, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (r < 0 && errno == EINTR);
        // Room reported but none taken: wait again.
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (r <= 0)
            return srFailed;
        sent += static_cast<size_t>(r);
    }
    return srSent;
}
