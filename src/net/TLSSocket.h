#pragma once

#include <string>

#include "net/SocketLib.h"
#include "platform/SysUtils.h"

struct ssl_st;
struct ssl_ctx_st;

// A secure connection that failed: "The secure connection to HOST failed: " and the reason, as
// OpenSSL words it ("certificate has expired", "self-signed certificate", "unable to get local
// issuer certificate", "hostname mismatch", a handshake alert), or "the server supports only TLS
// versions older than 1.2". Neither an HTTP nor a socket error, so that it reaches the user as it
// is.
class ETLSError : public Exception {
public:
    using Exception::Exception;
};

// TLS over the connection of a TBaseSocket, with the socket's own wait, available, receive and
// send operations, so that one exchange loop serves both. The certificate is checked against
// the system's CA store (OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply) and
// against the host name (its alternative names only, never the subject's common name), or the IP
// address for an address literal; an invalid one is never accepted. TLS 1.2 is the oldest version
// spoken, whatever the system's configuration allows. One thread at a time.
class TTLSSocket {
public:
    explicit TTLSSocket(TBaseSocket& socket) : FSocket(socket) {}
    // Ends a session still open and releases the context.
    ~TTLSSocket();
    TTLSSocket(const TTLSSocket&) = delete;
    TTLSSocket& operator=(const TTLSSocket&) = delete;

    // Makes the handshake over the socket's open connection, within timeoutMs when positive and
    // looking at the socket's AbortFlag. The verifying context is made at the first Start, so
    // the CA settings of the environment at that time hold for the object's life. Sends the
    // name (SNI) unless host is an address literal. Raises ETLSError (a time-out included), or
    // EBaseSocketError "A connection could not be established" when given up through the flag.
    // The socket's descriptor stays non-blocking while the session lasts.
    void Start(const std::string& host, int timeoutMs);
    // Ends the session: a close_notify when it can go out at once, no wait for the answer. The
    // socket stays open.
    void Stop();
    // Whether a session is open.
    bool Active() const { return FSSL != nullptr; }

    // True when decrypted data waits or the session has ended (or failed) within ms. Records that
    // hold no application data, such as TLS 1.3 session tickets, are taken in while it waits and
    // do not count. Raises "Select error" as the socket does.
    bool WaitForData(int ms);
    // Decrypted bytes held plus bytes waiting on the socket; 0 once the server has ended the
    // session or closed (so a kept connection the server has left is seen as closed); -1 when
    // the socket's query fails.
    int DataAvailable();
    // Up to size decrypted bytes; 0 when none came (a record that holds no application data,
    // such as a TLS 1.3 session ticket, or one not yet whole) or the session has ended. Raises
    // ETLSError for a record that fails its checks.
    int ReceiveBuf(void* buffer, int size);
    // As TBaseSocket::SendText, encrypted.
    TBaseSocket::TSendResult SendText(const std::string& text, int idleMs = 0);

private:
    [[noreturn]] void Fail(const std::string& reason);
    TBaseSocket& FSocket;
    std::string FHost;
    ssl_ctx_st* FContext = nullptr;
    ssl_st* FSSL = nullptr;
    // The server has ended the session (close_notify or a close of the connection).
    bool FEnded = false;
    // Why a record seen while waiting failed its checks; raised by the next ReceiveBuf.
    std::string FBroken;
};
