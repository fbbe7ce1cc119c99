#pragma once

#include <netinet/in.h>

#include <atomic>
#include <string>

#include "platform/SysUtils.h"

// Every failure the socket layer detects: "Unable to create socket", "A connection could not be
// established", "Select error", "The name \"host\" can not be resolved", and the exchange bound
// "The server did not answer in time".
class EBaseSocketError : public Exception {
public:
    using Exception::Exception;
};

// A blocking IPv4 TCP client socket: one connection at a time, no buffering of its own.
// Used by one thread at a time.
class TBaseSocket {
public:
    // Handle -1, Timeout 0; opens nothing.
    TBaseSocket() = default;
    // Closes a connection still open, so no descriptor outlives the object.
    ~TBaseSocket();
    TBaseSocket(const TBaseSocket&) = delete;
    TBaseSocket& operator=(const TBaseSocket&) = delete;

    // The open socket; -1 when none is open (an open handle may be unconnected after a failed
    // Connect, and is then closed by the next Connect or Disconnect).
    int Handle = -1;
    // Milliseconds a Connect may take when positive; 0 or less leaves it to the system.
    int Timeout = 0;
    // A flag another thread may raise to give up (the owning client's abort): a Connect or a
    // SendText waiting on the network looks at it at least every 100 ms, and before it starts.
    const std::atomic<bool>* AbortFlag = nullptr;

    // How SendText ended.
    enum TSendResult { srSent, srFailed, srTimedOut, srAborted };

    // The IPv4 address of host (dotted digits are never looked up by name; anything else,
    // 255.255.255.255 included, is resolved through getaddrinfo, IPv4 only) with the low 16 bits
    // of port. Raises "The name \"host\" can not be resolved".
    sockaddr_in ResolveAddress(const std::string& host, int port);
    // Closes any open handle, then opens a new TCP socket and connects it within Timeout.
    // Raises "Unable to create socket", the resolve error, or "A connection could not be
    // established" (refused, unreachable, not made within a positive Timeout, or given up
    // through AbortFlag).
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
