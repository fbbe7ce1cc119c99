#include "net/HTTPClient.h"

#include <algorithm>

#include "net/SocketLibInternal.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kIncorrect = "The server response is incorrect";

long long MillisecondsSince(Clock::time_point start, Clock::time_point now) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
}

// The host as a header or an absolute target writes it: an IPv6 literal in brackets.
std::string HostText(const std::string& host) {
    return IsIPv6Literal(host) ? "[" + host + "]" : host;
}

// Whether text holds a byte a request line or header must never carry: CR and LF would end it
// early, and the rest (0-31, 127) no server reads the same way as the next.
bool HoldsControl(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const unsigned char b = static_cast<unsigned char>(c);
        return b < 32 || b == 127;
    });
}

// text for a message, its control characters as "%XX".
std::string DisplayText(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127) {
            shown += '%';
            shown += kHex[b >> 4];
            shown += kHex[b & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

// Answers that never carry a body, whatever their headers say.
bool HasNoBody(int status) {
    return (status >= 100 && status < 200) || status == 204 || status == 304;
}

} // namespace

// ---- TNameValueList ----

int TNameValueList::IndexOfName(const std::string& name) const {
    for (size_t i = 0; i < FStrings.size(); ++i)
        if (SameTextAscii(FStrings[i].substr(0, FStrings[i].find('=')), name))
            return static_cast<int>(i);
    return -1;
}

std::string TNameValueList::Values(const std::string& name) const {
    const int i = IndexOfName(name);
    if (i < 0)
        return std::string();
    const std::string& entry = FStrings[static_cast<size_t>(i)];
    const size_t eq = entry.find('=');
    return eq == std::string::npos ? std::string() : entry.substr(eq + 1);
}

void TNameValueList::SetValue(const std::string& name, const std::string& value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0)
            FStrings.erase(FStrings.begin() + i);
    } else if (i >= 0) {
        FStrings[static_cast<size_t>(i)] = name + "=" + value;
    } else {
        FStrings.push_back(name + "=" + value);
    }
}

std::string TNameValueList::Names(int index) const {
    const std::string& entry = Strings(index);
    return entry.substr(0, entry.find('='));
}

const std::string& TNameValueList::Strings(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return FStrings[static_cast<size_t>(index)];
}

// ---- THTTPClient ----

THTTPClient::~THTTPClient() {
    FTransport.Stop();
    Socket.Disconnect();
}

void THTTPClient::Connect() {
    if (Timeout > 0)
        Socket.Timeout = Timeout;
    FTransport.Stop();
    if (Secure) {
        Socket.Connect(Host, Port);
        try {
            // A handshake that never ends is bounded even without a connect time-out.
            FTransport.Start(Host, Timeout > 0 ? Timeout : IdleTimeout);
        } catch (...) {
            Socket.Disconnect();
            throw;
        }
    } else if (!ProxyHost.empty()) {
        Socket.Connect(ProxyHost, ProxyPort);
    } else {
        Socket.Connect(Host, Port);
    }
    FSecureConnection = Secure;
    Connected = true;
}

void THTTPClient::Disconnect() {
    if (!Connected)
        return;
    FTransport.Stop();
    Socket.Disconnect();
    Connected = false;
}

bool THTTPClient::CheckConnected() {
    if (!Connected)
        return false;
    // A kept connection of the other kind is of no use.
    if (FSecureConnection != Secure) {
        Disconnect();
        return false;
    }
    if (!FTransport.WaitForData(0))
        return true;
    if (FTransport.DataAvailable() != 0)
        return true;
    Disconnect();
    return false;
}

void THTTPClient::Execute() {
    FExchangeStart = Clock::now();
    FInExchange = true;
    struct TEndExchange {
        THTTPClient& Client;
        ~TEndExchange() {
            Client.FInExchange = false;
            if (!Client.KeepAlive)
                Client.Disconnect();
        }
    };
    TEndExchange end{*this};
    // A request that cannot be sent is refused before any connection is made.
    BuildRequest();
    if (!CheckConnected())
        Connect();
    SendRequest();
    ReceiveResponse();
    ParseResponse();
}

std::string THTTPClient::HostHeader() const {
    std::string header = HostText(Host);
    if (Port != (Secure ? 443 : 80))
        header += ":" + std::to_string(Port);
    return header;
}

void THTTPClient::BuildRequest() {
    Buffer.clear();
    RequestHeaders.SetValue("Connection", KeepAlive ? "Keep-Alive" : "Close");
    if (!UserAgent.empty())
        RequestHeaders.SetValue("User-Agent", UserAgent);
    const auto refuse = [](const std::string& what) {
        throw EHTTPError("The request holds a control character in its " + what);
    };
    if (HoldsControl(Method))
        refuse("method");
    if (HoldsControl(Path))
        refuse("target");
    if (HoldsControl(Host) || HoldsControl(ProxyHost))
        refuse("host");
    for (int i = 0; i < RequestHeaders.Count(); ++i)
        if (HoldsControl(RequestHeaders.Strings(i)))
            refuse("header " + DisplayText(RequestHeaders.Names(i)));
    Buffer = Method + " ";
    if (!ProxyHost.empty() && !Secure) {
        Buffer += "http://" + HostText(Host);
        if (Port != 80)
            Buffer += ":" + std::to_string(Port);
    }
    Buffer += Path + " HTTP/1.1\r\n";
    Buffer += "Host: " + HostHeader() + "\r\n";
    for (int i = 0; i < RequestHeaders.Count(); ++i) {
        const std::string name = RequestHeaders.Names(i);
        Buffer += name + ": " + RequestHeaders.Values(name) + "\r\n";
    }
    if (!PostData.empty())
        Buffer += "Content-Length: " + std::to_string(PostData.size()) + "\r\n";
    Buffer += "\r\n";
    Buffer += PostData;
}

void THTTPClient::SendRequest() {
    // A server that stops reading must not hold the send forever. Any other failed send means
    // the server has gone; what it may have answered before is still read, and a silent close
    // ends as an incorrect response.
    if (FTransport.SendText(Buffer, IdleTimeout) == TBaseSocket::srTimedOut)
        TimedOut();
}

void THTTPClient::TimedOut() {
    FTransport.Stop();
    Socket.Disconnect();
    Connected = false;
    throw EBaseSocketError("The server did not answer in time");
}

void THTTPClient::ReceiveResponse() {
    HeaderLength = 0;
    ContentLength = 0;
    Buffer.clear();
    FChunked = false;
    FChunkedFed = 0;
    FHeaderSearchFrom = 0;
    FDecoder.Reset();
    FCutShort = false;
    FNoBody = false;
    const Clock::time_point start = FInExchange ? FExchangeStart : Clock::now();
    Clock::time_point lastByte = Clock::now();
    bool complete = false;
    for (;;) {
        complete = ResponseComplete();
        if (complete || Aborted)
            break;
        const Clock::time_point now = Clock::now();
        const long long idleLeft = IdleTimeout - MillisecondsSince(lastByte, now);
        const long long totalLeft = ExchangeTimeout - MillisecondsSince(start, now);
        if (idleLeft <= 0 || totalLeft <= 0)
            TimedOut();
        if (!FTransport.WaitForData(static_cast<int>(std::min<long long>({100, idleLeft, totalLeft}))))
            continue;
        // Nothing waiting on a readable socket is the server's close; a failed query is
        // treated alike, since waiting again could never make progress. Over TLS a record
        // without application data (a session ticket) is taken in by the wait and is no close.
        const int n = FTransport.DataAvailable();
        if (n <= 0)
            break;
        const size_t old = Buffer.size();
        Buffer.resize(old + static_cast<size_t>(n));
        const int got = FTransport.ReceiveBuf(&Buffer[old], n);
        Buffer.resize(old + static_cast<size_t>(std::max(got, 0)));
        if (got > 0)
            lastByte = Clock::now();
        if (Buffer.size() > MaxResponseLength) {
            Disconnect();
            Buffer.clear();
            throw EHTTPError("The server response is too large");
        }
    }
    // A body announced by its length or its chunking that the close cut short is no document.
    FCutShort = !complete && !Aborted && HeaderLength > 0 && (FChunked || ContentLength > 0);
}

bool THTTPClient::ResponseComplete() {
    while (HeaderLength == 0) {
        // Only the bytes that arrived since the last pass are searched (with three before them).
        const size_t p = Buffer.find("\r\n\r\n", std::min(FHeaderSearchFrom, Buffer.size()));
        FHeaderSearchFrom = Buffer.size() < 3 ? 0 : Buffer.size() - 3;
        if (p == std::string::npos)
            return false;
        const int status = detail::StatusOfHeaderBlock(Buffer);
        if (status >= 100 && status < 200 && status != 101) {
            // An interim answer ("100 Continue"): the real one follows.
            Buffer.erase(0, p + 4);
            FHeaderSearchFrom = 0;
            continue;
        }
        HeaderLength = static_cast<int>(p + 4);
        FChunked = detail::DeclaresChunked(Buffer.substr(0, p + 2));
        FChunkedFed = static_cast<size_t>(HeaderLength);
        FNoBody = Method == "HEAD" || HasNoBody(status);
    }
    if (FNoBody)
        return true;
    if (FChunked) {
        // The body ends at its last chunk; Content-Length does not apply.
        const bool done = FDecoder.Feed(Buffer.data() + FChunkedFed, Buffer.size() - FChunkedFed);
        FChunkedFed = Buffer.size();
        return done;
    }
    if (ContentLength == 0) {
        const std::string block = UpperCaseAscii(Buffer.substr(0, static_cast<size_t>(HeaderLength)));
        const std::string label = "CONTENT-LENGTH: ";
        const size_t p = block.find(label);
        if (p != std::string::npos) {
            const size_t from = p + label.size();
            const size_t to = block.find("\r\n", from);
            ContentLength = StrToInt(Trim(Buffer.substr(from, to - from)));
        }
    }
    return ContentLength > 0 &&
           Buffer.size() == static_cast<size_t>(HeaderLength) + static_cast<size_t>(ContentLength);
}

void THTTPClient::ParseResponse() {
    const size_t headerLength = static_cast<size_t>(std::max(HeaderLength, 0));
    const std::vector<std::string> lines = detail::SplitLines(Buffer.substr(0, headerLength));
    if (lines.empty())
        throw EHTTPError(kIncorrect);
    ParseStatusLine(lines[0]);
    ResponseHeaders.Clear();
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (Trim(line).empty())
            continue;
        // The character right after the colon is skipped whatever it is.
        const size_t colon = line.find(':');
        const size_t c = colon == std::string::npos ? line.size() : colon + 1;
        const std::string name = Trim(line.substr(0, c - 1));
        const std::string value = c + 1 < line.size() ? line.substr(c + 1) : std::string();
        ResponseHeaders.SetValue(name, value);
    }
    if (FNoBody) {
        Content.clear();
    } else if (FChunked) {
        // Bytes that arrived after the last completeness check, before the close.
        FDecoder.Feed(Buffer.data() + FChunkedFed, Buffer.size() - FChunkedFed);
        FChunkedFed = Buffer.size();
        Content = FDecoder.Body;
    } else {
        Content = Buffer.substr(headerLength);
    }
    Buffer.clear();
    if (FCutShort)
        throw EHTTPError(kIncorrect);
    // What an abort leaves is a piece of the body, kept as it came.
    const std::string coding = ResponseHeaders.Values("Content-Encoding");
    if (!Content.empty() && !coding.empty() && !Aborted)
        Content = detail::DecodeContent(coding, Content, MaxResponseLength);
}

void THTTPClient::ParseStatusLine(const std::string& line) {
    if (line.compare(0, 4, "HTTP") != 0)
        throw EHTTPError(kIncorrect);
    const size_t space = line.find(' ');
    if (space == std::string::npos)
        throw EHTTPError(kIncorrect);
    const std::string rest = line.substr(space + 1);
    const size_t q = rest.find(' ');
    if (q == std::string::npos)
        throw EHTTPError(kIncorrect);
    int code = 0;
    if (!TryStrToInt(Trim(rest.substr(0, q + 1)), code))
        throw EHTTPError(kIncorrect);
    StatusCode = code;
    StatusText = Trim(rest.substr(q));
    if (StatusCode >= 400)
        throw EHTTPError(StatusText);
}
