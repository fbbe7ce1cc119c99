#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/SysUtils.h"

// Every failure the socket layer detects: "Unable to create socket", "A connection could not be
// established", "Select error", "The name \"host\" can not be resolved", and the exchange bound
// "The server did not answer in time".
class EBaseSocketError : public Exception {
public:
    using Exception::Exception;
};

// One address a connection can be made to: IPv4 or IPv6, with its port.
struct TSocketAddress {
    sockaddr_storage Storage{};
    socklen_t Length = 0;

    // AF_INET or AF_INET6 (AF_UNSPEC when empty).
    int Family() const { return Storage.ss_family; }
    // The address as text without the port: "127.0.0.1", "::1".
    std::string Text() const;
    // The port in host byte order.
    int Port() const;
    // Sets the port from its low 16 bits.
    void SetPort(int port);
    static TSocketAddress IPv4(const in_addr& address, int port);
    static TSocketAddress IPv6(const in6_addr& address, int port);
};

// A blocking TCP client socket, IPv4 or IPv6: one connection at a time, no buffering of its own.
// Used by one thread at a time.
class TBaseSocket {
public:
    // Handle -1, Timeout 0; opens nothing.
    TBaseSocket() = default;
    // Closes a connection still open, so no descriptor outlives the object.
    ~TBaseSocket();
    TBaseSocket(const TBaseSocket&) = delete;
    TBaseSocket& operator=(const TBaseSocket&) = delete;

    // The connected socket; -1 when none is open (a Connect that fails leaves none open).
    int Handle = -1;
    // Milliseconds a Connect may take when positive, shared by all the addresses it tries; 0 or
    // less leaves each attempt to the system.
    int Timeout = 0;
    // A flag another thread may raise to give up (the owning client's abort): a Connect or a
    // SendText waiting on the network looks at it at least every 100 ms, and before it starts.
    const std::atomic<bool>* AbortFlag = nullptr;

    // How SendText ended.
    enum TSendResult { srSent, srFailed, srTimedOut, srAborted };

    // The addresses of host, each with the low 16 bits of port, in the order to try them. Dotted
    // digits (inet_addr's forms) give their IPv4 address and an IPv6 literal without brackets
    // ("::1") its own, neither looked up by name; anything else, 255.255.255.255 included, is
    // resolved through getaddrinfo for both families. Raises "The name \"host\" can not be
    // resolved" (also for "" and a name holding a zero byte).
    std::vector<TSocketAddress> ResolveAddress(const std::string& host, int port);
    // Closes any open handle, then connects to the first address of host that answers: an
    // attempt not connected within 250 ms lets the next address start beside it (a failed one at
    // once), and the first to connect wins. Raises the resolve error, "Unable to create socket"
    // when no socket could be made, or "A connection could not be established" (refused,
    // unreachable, not made within a positive Timeout, or given up through AbortFlag).
    void Connect(const std::string& host, int port);
    // Shuts down both directions and closes; returns the close result. With no handle open it
    // returns -1 and makes no call at all.
    int Disconnect();
    // True when data or the end of the stream can be read within ms milliseconds (0 polls);
    // raises "Select error" when the wait fails, also with no handle open.
    bool WaitForData(int ms);
    // Bytes readable without blocking; -1 when the query fails. Readable with 0 waiting means
    // the peer has closed.
    int DataAvailable();
    // One recv; bytes read, 0 at an orderly close, -1 on error (interrupted calls are retried).
    int ReceiveBuf(void* buffer, int size);
    // One send that never raises SIGPIPE; bytes sent or -1 (interrupted calls are retried).
    int SendBuf(const void* buffer, int length);
    // Sends the whole text, continuing after short sends and waiting while the system's buffer
    // is full: srFailed when the peer has gone, srTimedOut when nothing could be sent for
    // idleMs (when positive), srAborted once AbortFlag is raised (text may be partly sent).
    TSendResult SendText(const std::string& text, int idleMs = 0);
};
