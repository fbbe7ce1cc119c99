#include "net/TLSSocket.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "net/SocketLibInternal.h"

namespace {

using Clock = std::chrono::steady_clock;

// The transport under OpenSSL: send and recv on the socket with MSG_NOSIGNAL and MSG_DONTWAIT,
// so that a server that has gone never raises SIGPIPE (OpenSSL's own socket BIO writes with
// write()) and the socket itself can stay blocking for the plain operations.
struct TBioState {
    int Fd;
    bool Eof;
};

int BioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    const TBioState* state = static_cast<const TBioState*>(BIO_get_data(bio));
    ssize_t r;
    do
        r = send(state->Fd, data, length < 0 ? 0 : static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (r < 0 && errno == EINTR);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(bio);
    return static_cast<int>(r);
}

int BioRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    TBioState* state = static_cast<TBioState*>(BIO_get_data(bio));
    ssize_t r;
    do
        r = recv(state->Fd, data, length < 0 ? 0 : static_cast<size_t>(length), MSG_DONTWAIT);
    while (r < 0 && errno == EINTR);
    if (r == 0)
        state->Eof = true;
    else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(bio);
    return static_cast<int>(r);
}

long BioControl(BIO* bio, int command, long, void*) {
    if (command == BIO_CTRL_FLUSH)
        return 1;
    if (command == BIO_CTRL_EOF)
        return static_cast<const TBioState*>(BIO_get_data(bio))->Eof ? 1 : 0;
    return 0;
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int BioDestroy(BIO* bio) {
    delete static_cast<TBioState*>(BIO_get_data(bio));
    BIO_set_data(bio, nullptr);
    return 1;
}

// One method table for the process, made at its first use and kept to the end.
BIO_METHOD* SocketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tovel socket");
        if (m != nullptr) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioControl);
            BIO_meth_set_create(m, BioCreate);
            BIO_meth_set_destroy(m, BioDestroy);
        }
        return m;
    }();
    return method;
}

// OpenSSL's words for the last error on this thread's queue, or fallback.
std::string ErrorQueueReason(const std::string& fallback) {
    const unsigned long error = ERR_peek_last_error();
    if (error == 0)
        return fallback;
    if (const char* reason = ERR_reason_error_string(error))
        return reason;
    char text[256];
    ERR_error_string_n(error, text, sizeof(text));
    return text;
}

// The canonical text of host when it is an address literal (inet_addr's odd forms such as
// "127.1" included), "" for a name.
std::string AddressLiteral(const std::string& host) {
    if (IsIPv6Literal(host))
        return host;
    const in_addr_t v4 = inet_addr(host.c_str());
    if (host.find('\0') != std::string::npos || v4 == INADDR_NONE)
        return std::string();
    in_addr address{};
    address.s_addr = v4;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
}

// Whether the handshake failed because the server offers no protocol version this side accepts:
// OpenSSL words that in several ways, by which side noticed it first.
bool ProtocolVersionRefused() {
    unsigned long error;
    while ((error = ERR_get_error()) != 0) {
        if (ERR_GET_LIB(error) != ERR_LIB_SSL)
            continue;
        switch (ERR_GET_REASON(error)) {
        case SSL_R_UNSUPPORTED_PROTOCOL:
        case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        case SSL_R_VERSION_TOO_LOW:
            return true;
        default:
            break;
        }
    }
    return false;
}

long long MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : left;
}

} // namespace

TTLSSocket::~TTLSSocket() {
    Stop();
    SSL_CTX_free(FContext);
}

void TTLSSocket::Fail(const std::string& reason) {
    // After a failure no close_notify is due, nor allowed.
    SSL_free(FSSL);
    FSSL = nullptr;
    FEnded = false;
    FBroken.clear();
    ERR_clear_error();
    throw ETLSError("The secure connection to " + FHost + " failed: " + reason);
}

void TTLSSocket::Start(const std::string& host, int timeoutMs) {
    Stop();
    FHost = host;
    ERR_clear_error();
    if (FContext == nullptr) {
        ssl_ctx_st* context = SSL_CTX_new(TLS_client_method());
        if (context == nullptr)
            Fail(ErrorQueueReason("no secure context"));
        if (SSL_CTX_set_default_verify_paths(context) != 1) {
            SSL_CTX_free(context);
            Fail(ErrorQueueReason("the system's certificates cannot be read"));
        }
        // Set here, not left to the system's configuration, which may allow older versions.
        if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) {
            SSL_CTX_free(context);
            Fail(ErrorQueueReason("no secure context"));
        }
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        FContext = context;
    }
    FSSL = SSL_new(FContext);
    BIO* bio = SocketMethod() != nullptr ? BIO_new(SocketMethod()) : nullptr;
    if (FSSL == nullptr || bio == nullptr) {
        BIO_free(bio);
        Fail(ErrorQueueReason("no secure session"));
    }
    BIO_set_data(bio, new TBioState{FSocket.Handle, false});
    SSL_set_bio(FSSL, bio, bio);

    // A name is checked against the certificate's DNS names and sent as SNI (without a final
    // dot); an address literal against its IP names, with no SNI, which may not carry one.
    X509_VERIFY_PARAM* check = SSL_get0_param(FSSL);
    const std::string literal = AddressLiteral(host);
    bool named = false;
    if (!literal.empty()) {
        named = X509_VERIFY_PARAM_set1_ip_asc(check, literal.c_str()) == 1;
    } else {
        std::string name = host;
        if (!name.empty() && name.back() == '.')
            name.pop_back();
        // The subject's common name never stands in for the alternative names.
        X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                                   X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        named = !name.empty() && name.find('\0') == std::string::npos &&
                X509_VERIFY_PARAM_set1_host(check, name.c_str(), name.size()) == 1 &&
                SSL_set_tlsext_host_name(FSSL, name.c_str()) == 1;
    }
    if (!named)
        Fail("the host name cannot be checked");

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ERR_clear_error();
        const int r = SSL_connect(FSSL);
        if (r == 1)
            break;
        const int error = SSL_get_error(FSSL, r);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            const long verified = SSL_get_verify_result(FSSL);
            if (verified != X509_V_OK)
                Fail(X509_verify_cert_error_string(verified));
            const std::string reason =
                ErrorQueueReason(error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN
                                     ? "the server closed the connection during the handshake"
                                     : "the handshake failed");
            if (ProtocolVersionRefused())
                Fail("the server supports only TLS versions older than 1.2");
            Fail(reason);
        }
        const long long left = timeoutMs > 0 ? MillisecondsLeft(deadline) : 0;
        const int ready =
            timeoutMs > 0 && left == 0
                ? 0
                : WaitSocketReady(FSocket.Handle, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                                  static_cast<int>(left), FSocket.AbortFlag);
        if (ready == 0)
            Fail("the server did not complete the handshake in time");
        if (ready < 0) {
            if (FSocket.AbortFlag == nullptr || !FSocket.AbortFlag->load())
                Fail("the connection failed during the handshake");
            SSL_free(FSSL);
            FSSL = nullptr;
            throw EBaseSocketError("A connection could not be established");
        }
    }
    // Many servers close without a close_notify; that is the end of the data, not an error.
    SSL_set_options(FSSL, SSL_OP_IGNORE_UNEXPECTED_EOF);
    FEnded = false;
}

void TTLSSocket::Stop() {
    if (FSSL == nullptr)
        return;
    if (!FEnded && FBroken.empty() && SSL_is_init_finished(FSSL)) {
        ERR_clear_error();
        SSL_shutdown(FSSL);
    }
    SSL_free(FSSL);
    FSSL = nullptr;
    FEnded = false;
    FBroken.clear();
    ERR_clear_error();
}

bool TTLSSocket::WaitForData(int ms) {
    if (FSSL == nullptr)
        return FSocket.WaitForData(ms);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        if (FEnded || !FBroken.empty() || SSL_pending(FSSL) > 0)
            return true;
        if (!FSocket.WaitForData(static_cast<int>(MillisecondsLeft(deadline))))
            return false;
        // Take in what arrived, so that records without application data (session tickets) are
        // used up here and readable means data or the end of the session.
        ERR_clear_error();
        char byte;
        const int r = SSL_peek(FSSL, &byte, 1);
        if (r > 0)
            return true;
        switch (SSL_get_error(FSSL, r)) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            if (MillisecondsLeft(deadline) == 0)
                return false;
            break;
        case SSL_ERROR_ZERO_RETURN:
        case SSL_ERROR_SYSCALL:
            // A close_notify, a close or a reset of the connection.
            FEnded = true;
            ERR_clear_error();
            return true;
        default:
            // Reported by the next ReceiveBuf, where the exchange reads.
            FBroken = ErrorQueueReason("a record could not be read");
            ERR_clear_error();
            return true;
        }
    }
}

int TTLSSocket::DataAvailable() {
    if (FSSL == nullptr)
        return FSocket.DataAvailable();
    if (FEnded)
        return 0;
    if (!FBroken.empty())
        return 1;
    const int held = SSL_pending(FSSL);
    const int waiting = FSocket.DataAvailable();
    if (waiting < 0)
        return held > 0 ? held : -1;
    return held + waiting;
}

int TTLSSocket::ReceiveBuf(void* buffer, int size) {
    if (FSSL == nullptr)
        return FSocket.ReceiveBuf(buffer, size);
    if (FEnded || size <= 0)
        return 0;
    if (!FBroken.empty())
        Fail(FBroken);
    ERR_clear_error();
    const int r = SSL_read(FSSL, buffer, size);
    if (r > 0)
        return r;
    switch (SSL_get_error(FSSL, r)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return 0;
    case SSL_ERROR_ZERO_RETURN:
    case SSL_ERROR_SYSCALL:
        // A close_notify, a close or a reset of the connection.
        FEnded = true;
        ERR_clear_error();
        return 0;
    default:
        Fail(ErrorQueueReason("a record could not be read"));
    }
}

TBaseSocket::TSendResult TTLSSocket::SendText(const std::string& text, int idleMs) {
    if (FSSL == nullptr)
        return FSocket.SendText(text, idleMs);
    const std::atomic<bool>* abort = FSocket.AbortFlag;
    size_t sent = 0;
    while (sent < text.size()) {
        if (abort != nullptr && abort->load())
            return TBaseSocket::srAborted;
        ERR_clear_error();
        const int piece = static_cast<int>(std::min<size_t>(text.size() - sent, 1 << 30));
        const int r = SSL_write(FSSL, text.data() + sent, piece);
        if (r > 0) {
            sent += static_cast<size_t>(r);
            continue;
        }
        const int error = SSL_get_error(FSSL, r);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return TBaseSocket::srFailed;
        }
        const int ready =
            WaitSocketReady(FSocket.Handle, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, idleMs, abort);
        if (ready == 0)
            return TBaseSocket::srTimedOut;
        if (ready < 0)
            return abort != nullptr && abort->load() ? TBaseSocket::srAborted : TBaseSocket::srFailed;
    }
    return TBaseSocket::srSent;
}
