#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "net/HTTPClientInternal.h"
#include "net/SocketLib.h"
#include "net/TLSSocket.h"
#include "platform/SysUtils.h"

// A malformed response ("The server response is incorrect", "The server response is too large"),
// a status of 400 and above (the reason phrase as message), or a request that must not be sent
// ("The request holds a control character in its target").
class EHTTPError : public Exception {
public:
    using Exception::Exception;
};

// An ordered list of "name=value" entries (the name is the text before the first "="), looked
// up by name without regard to ASCII case, first match winning. It never holds an empty value.
class TNameValueList {
public:
    // The value of the first entry named name; "" when there is none.
    std::string Values(const std::string& name) const;
    // Replaces the first entry named name in place, or appends one; an empty value removes the
    // first entry named name instead.
    void SetValue(const std::string& name, const std::string& value);
    // Number of entries.
    int Count() const { return static_cast<int>(FStrings.size()); }
    // The name of entry index (0-based); raises EListError when out of range.
    std::string Names(int index) const;
    // The whole "name=value" text of entry index (0-based); raises EListError when out of range.
    const std::string& Strings(int index) const;
    // Removes every entry.
    void Clear() { FStrings.clear(); }

private:
    int IndexOfName(const std::string& name) const;
    std::vector<std::string> FStrings;
};

// Whether an answer's status says the request succeeded (2xx), so that its body is the document.
inline bool IsSuccessStatus(int status) {
    return status >= 200 && status <= 299;
}

// How a client talks to servers, whatever it asks of them: one value, so that a client can be
// set up whole from another's settings (THTTPClient::Settings).
struct THTTPSettings {
    // Extra request headers; BuildRequest also stores Connection and User-Agent here.
    TNameValueList RequestHeaders;
    // Keep the connection after an exchange and reuse it while the server keeps it open.
    bool KeepAlive = false;
    // Empty = no User-Agent header.
    std::string UserAgent;
    // Proxy port, used only with a ProxyHost.
    int ProxyPort = 3128;
    // Empty = connect to Host directly.
    std::string ProxyHost;
    // Milliseconds handed to the socket for the connect when positive.
    int Timeout = 0;
    // An exchange fails with "The server did not answer in time" (and the connection is closed)
    // when no byte arrives for IdleTimeout ms or the whole exchange takes ExchangeTimeout ms.
    int IdleTimeout = 30000;
    int ExchangeTimeout = 120000;
    // A response longer than this, or a body that decodes to more, fails with "The server
    // response is too large".
    size_t MaxResponseLength = 64 * 1024 * 1024;
};

// One HTTP/1.1 request/response exchange at a time over its own socket, plain or over TLS: GET,
// HEAD or any method text, an optional body, an optional proxy, an optional kept connection. No
// redirects are followed; a chunked body is de-chunked and a gzip or deflate body decoded. No
// Accept-Encoding is sent unless RequestHeaders holds one. One thread at a time, except Aborted,
// which any thread may set.
class THTTPClient : public THTTPSettings {
public:
    // The socket looks at Aborted while it connects and sends.
    THTTPClient() { Socket.AbortFlag = &Aborted; }
    // Closes a connection still open.
    ~THTTPClient();
    THTTPClient(const THTTPClient&) = delete;
    THTTPClient& operator=(const THTTPClient&) = delete;

    // Every setting at once: "client.Settings() = settings" sets the client up as another.
    THTTPSettings& Settings() { return *this; }
    const THTTPSettings& Settings() const { return *this; }

    // Server host name, dotted address or IPv6 literal without brackets ("::1"): the connection
    // target (unless a proxy is set) and the Host header (see HostHeader).
    std::string Host;
    // Server port; named in the Host header when it is not the scheme's own.
    int Port = 80;
    // Connect over TLS to Host:Port, the certificate checked for Host (ETLSError when it fails).
    // A proxy is not used for secure connections.
    bool Secure = false;
    // The connection, owned.
    TBaseSocket Socket;
    // Any thread may set it to end the exchange: a connect or a send gives up and the receive
    // loop ends within one 100 ms pass (what arrived by then stays in Content). It stays set,
    // so every later exchange ends at once, until the owner clears it.
    std::atomic<bool> Aborted{false};
    // Request target sent on the request line, unchanged.
    std::string Path = "/";
    // Sent unchanged; only exactly "HEAD" completes a response at its header block.
    std::string Method = "GET";
    // Headers of the last response; a repeated name keeps the later value.
    TNameValueList ResponseHeaders;
    // Request body; empty means no body and no Content-Length header.
    std::string PostData;
    // Body of the last response: de-chunked, and decoded when its Content-Encoding is gzip,
    // x-gzip or deflate (ResponseHeaders keep the server's headers as they came).
    std::string Content;
    // A connection made by Connect is open.
    bool Connected = false;
    // The request while it is built and sent, then the raw response while it arrives.
    std::string Buffer;
    // Length of the header block including the blank line's CR LF; 0 = not seen yet.
    int HeaderLength = 0;
    // The response's Content-Length; 0 = unknown (read until the close).
    int ContentLength = 0;
    // Status code and trimmed reason phrase of the last response.
    int StatusCode = 0;
    std::string StatusText;

    // Connects to ProxyHost:ProxyPort when a proxy is set, else to Host:Port; with Secure, to
    // Host:Port and then the TLS handshake, within Timeout as well. Socket and TLS errors
    // propagate, leave no connection open and leave Connected unchanged.
    void Connect();
    // The Host header's value: Host (an IPv6 literal in brackets), with ":" and Port when Port is
    // not 443 for a Secure client or 80 for another ("example.org", "[::1]:8080").
    std::string HostHeader() const;
    // Closes the connection when Connected; otherwise nothing.
    void Disconnect();
    // Whether a kept connection is still usable; a connection the server has closed is
    // disconnected and reported false.
    bool CheckConnected();
    // One exchange with the current properties; results in StatusCode, StatusText,
    // ResponseHeaders and Content. Without KeepAlive it always ends disconnected, also when it
    // raises. The request is built before any connection, so a refused one connects nowhere.
    void Execute();

    // The steps of Execute, in order.
    // The request text into Buffer: request line (absolute target through a proxy), Host
    // (HostHeader), RequestHeaders, Content-Length for PostData, blank line, PostData. Raises
    // EHTTPError "The request holds a control character in its " + "method", "target", "host"
    // or "header " + name, leaving Buffer empty, when one of them holds a byte 0-31 or 127: no
    // caller's line break ever reaches the wire. PostData may hold any byte.
    void BuildRequest();
    // Sends Buffer whole; a send that stalls for IdleTimeout raises the time-out error. A send
    // given up through Aborted counts as a failed one: the receive loop then ends at once.
    void SendRequest();
    // Collects the response into Buffer until it is complete, the server closes, Aborted is set
    // or a bound is passed. A close before the Content-Length or the last chunk has arrived
    // makes ParseResponse raise "The server response is incorrect".
    void ReceiveResponse();
    // Whether Buffer holds a whole response: the header block of a HEAD, 1xx, 204 or 304 answer,
    // exactly Content-Length body bytes, or a chunked body up to its last chunk and trailers.
    // An interim 1xx answer (but 101) is dropped from Buffer and the next one awaited. Raises
    // EConvertError for a Content-Length that is not an integer, EHTTPError for malformed
    // chunking.
    bool ResponseComplete();
    // Splits Buffer into status, headers and Content (decoded); raises EHTTPError, also for a
    // body cut short.
    void ParseResponse();
    // Status code and reason from "HTTP... code reason"; raises "The server response is
    // incorrect" (also without a reason phrase) or, for 400 and above, the reason phrase.
    void ParseStatusLine(const std::string& line);

private:
    // Closes the connection and raises "The server did not answer in time".
    [[noreturn]] void TimedOut();
    // The one transport of the exchange: the TLS session when Secure, else the plain socket.
    TTLSSocket FTransport{Socket};
    // The open connection is a secure one.
    bool FSecureConnection = false;
    // The server closed before the announced body was whole.
    bool FCutShort = false;
    // The answer ends with its header block (HEAD, 1xx, 204, 304).
    bool FNoBody = false;
    bool FChunked = false;
    size_t FChunkedFed = 0;
    detail::TChunkedDecoder FDecoder;
    std::chrono::steady_clock::time_point FExchangeStart{};
    bool FInExchange = false;
    // Where the search for the header block's end goes on.
    size_t FHeaderSearchFrom = 0;
};
