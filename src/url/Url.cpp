#include "url/Url.h"

#include <algorithm>
#include <string_view>

#include <arpa/inet.h>

#include "platform/SysUtils.h"

namespace {
// A copy of text with every "\" as "/": browsers read both alike in http addresses.
std::string ForwardSlashes(const std::string& text) {
    std::string copy = text;
    std::replace(copy.begin(), copy.end(), '\\', '/');
    return copy;
}

// The parts of a URI reference; each optional part with a flag, since "http://h?" and
// "http://h" are different references.
struct TUriParts {
    std::string Scheme, Authority, Path, Query, Fragment;
    bool HasScheme = false, HasAuthority = false, HasQuery = false, HasFragment = false;
};

bool IsSchemeChar(char c, bool first) {
    const bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return alpha || (!first && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
}

TUriParts SplitUri(const std::string& text) {
    TUriParts parts;
    size_t pos = 0;
    const size_t colon = text.find_first_of(":/?#");
    if (colon != std::string::npos && colon > 0 && text[colon] == ':' && IsSchemeChar(text[0], true)) {
        bool valid = true;
        for (size_t i = 1; i < colon && valid; ++i)
            valid = IsSchemeChar(text[i], false);
        if (valid) {
            parts.HasScheme = true;
            parts.Scheme = text.substr(0, colon);
            pos = colon + 1;
        }
    }
    if (text.compare(pos, 2, "//") == 0) {
        const size_t end = std::min(text.find_first_of("/?#", pos + 2), text.size());
        parts.HasAuthority = true;
        parts.Authority = text.substr(pos + 2, end - pos - 2);
        pos = end;
    }
    const size_t pathEnd = std::min(text.find_first_of("?#", pos), text.size());
    parts.Path = text.substr(pos, pathEnd - pos);
    pos = pathEnd;
    if (pos < text.size() && text[pos] == '?') {
        const size_t end = std::min(text.find('#', pos), text.size());
        parts.HasQuery = true;
        parts.Query = text.substr(pos + 1, end - pos - 1);
        pos = end;
    }
    if (pos < text.size()) {
        parts.HasFragment = true;
        parts.Fragment = text.substr(pos + 1);
    }
    return parts;
}

// Removes "." and ".." segments as RFC 3986 does: ".." above the top stays at the top.
std::string RemoveDotSegments(std::string input) {
    std::string output;
    while (!input.empty()) {
        if (input.compare(0, 3, "../") == 0) {
            input.erase(0, 3);
        } else if (input.compare(0, 2, "./") == 0) {
            input.erase(0, 2);
        } else if (input.compare(0, 3, "/./") == 0) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.compare(0, 4, "/../") == 0 || input == "/..") {
            input = input.size() == 3 ? "/" : input.substr(3);
            const size_t last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            const size_t next = input.find('/', 1);
            const size_t length = next == std::string::npos ? input.size() : next;
            output.append(input, 0, length);
            input.erase(0, length);
        }
    }
    return output;
}

std::string JoinUri(const TUriParts& parts) {
    std::string text;
    if (parts.HasScheme)
        text += parts.Scheme + ":";
    if (parts.HasAuthority)
        text += "//" + parts.Authority;
    text += parts.Path;
    if (parts.HasQuery)
        text += "?" + parts.Query;
    if (parts.HasFragment)
        text += "#" + parts.Fragment;
    return text;
}

} // namespace

std::string ResolveURL(const std::string& base, const std::string& reference) {
    const TUriParts b = SplitUri(ForwardSlashes(base));
    const TUriParts r = SplitUri(Trim(reference));
    TUriParts t;
    if (r.HasScheme) {
        t = r;
        t.Path = RemoveDotSegments(r.Path);
        return JoinUri(t);
    }
    t.HasScheme = b.HasScheme;
    t.Scheme = b.Scheme;
    if (r.HasAuthority) {
        t.HasAuthority = true;
        t.Authority = r.Authority;
        t.Path = RemoveDotSegments(r.Path);
        t.HasQuery = r.HasQuery;
        t.Query = r.Query;
    } else {
        t.HasAuthority = b.HasAuthority;
        t.Authority = b.Authority;
        if (r.Path.empty()) {
            t.Path = b.Path;
            t.HasQuery = r.HasQuery || b.HasQuery;
            t.Query = r.HasQuery ? r.Query : b.Query;
        } else {
            if (r.Path[0] == '/') {
                t.Path = RemoveDotSegments(r.Path);
            } else if (b.HasAuthority && b.Path.empty()) {
                t.Path = RemoveDotSegments("/" + r.Path);
            } else {
                const size_t slash = b.Path.rfind('/');
                const std::string folder = slash == std::string::npos ? "" : b.Path.substr(0, slash + 1);
                t.Path = RemoveDotSegments(folder + r.Path);
            }
            t.HasQuery = r.HasQuery;
            t.Query = r.Query;
        }
    }
    t.HasFragment = r.HasFragment;
    t.Fragment = r.Fragment;
    return JoinUri(t);
}

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool IsControl(unsigned char b) {
    return b < 32 || b == 127;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

void AppendEscaped(std::string& out, unsigned char b) {
    out += '%';
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 15];
}

// Path, query and fragment: a space, a quote, "<", ">" and every byte from 0x80 on are written
// as %XX, as browsers send them; an existing "%XX" (or a lone "%") is left alone, so encoding
// twice changes nothing. None of these can then end an attribute or a request line.
std::string EncodeRequestPart(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b == ' ' || b == '"' || b == '<' || b == '>' || b >= 0x80 || IsControl(b))
            AppendEscaped(out, b);
        else
            out += c;
    }
    return out;
}

// User names and passwords: everything but RFC 3986's unreserved and sub-delimiter characters
// is escaped, so that neither ":" nor "@" of a decoded value can move the host.
std::string EncodeUserInfo(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        const bool subDelim = std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
        if (unreserved || subDelim)
            out += c;
        else
            AppendEscaped(out, b);
    }
    return out;
}

// "%XX" becomes its byte; a "%" without two hex digits stays as it is.
std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2])) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

int DefaultPort(const std::string& scheme) {
    return scheme == "https" ? 443 : 80;
}

// A host name may hold letters, digits and most punctuation (and bytes of international names),
// but none of the characters that end or split an authority, nor those that would break out of
// an HTML attribute or a header.
bool IsHostNameChar(unsigned char b) {
    return b > 32 && b != 127 &&
           std::string_view("\"#%'/:<>?@[\\]^`{|}").find(static_cast<char>(b)) == std::string_view::npos;
}

// "1".."65535" in digits only; an empty text gives the scheme's own port.
bool ParsePort(std::string_view text, int standard, int& port) {
    if (text.empty()) {
        port = standard;
        return true;
    }
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > 65535)
            return false;
    }
    if (value == 0)
        return false;
    port = static_cast<int>(value);
    return true;
}

// host[:port] of an authority, the credentials already taken off.
bool ParseHostAndPort(std::string_view text, TUrl& url) {
    const int standard = DefaultPort(url.Scheme);
    std::string_view portText;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos)
            return false;
        const std::string literal = LowerCaseAscii(std::string(text.substr(1, close - 1)));
        in6_addr address;
        if (literal.find_first_not_of("0123456789abcdef:.") != std::string::npos ||
            inet_pton(AF_INET6, literal.c_str(), &address) != 1)
            return false;
        url.Host = literal;
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return false;
            portText = rest.substr(1);
        }
    } else {
        const size_t colon = text.find(':');
        const std::string_view host = text.substr(0, colon);
        for (const char c : host)
            if (!IsHostNameChar(static_cast<unsigned char>(c)))
                return false;
        url.Host = LowerCaseAscii(std::string(host));
        if (colon != std::string_view::npos)
            portText = text.substr(colon + 1);
    }
    return !url.Host.empty() && ParsePort(portText, standard, url.Port);
}

// The scheme of text as RFC 3986 reads it ("" when there is none) and the rest after its ":".
std::string_view SchemeOf(std::string_view text, std::string_view& rest) {
    const size_t colon = text.find_first_of(":/?#");
    if (colon == std::string_view::npos || colon == 0 || text[colon] != ':' || !IsSchemeChar(text[0], true))
        return std::string_view();
    for (size_t i = 1; i < colon; ++i)
        if (!IsSchemeChar(text[i], false))
            return std::string_view();
    rest = text.substr(colon + 1);
    return text.substr(0, colon);
}

// Whether "name:rest" is a host and a port written without a scheme ("example.com:8080/rss",
// "localhost:8080") rather than a scheme of its own: only a dotted name or "localhost" counts, so
// "javascript:1" stays a javascript address.
bool IsHostWithPort(std::string_view name, std::string_view rest) {
    if (name.find('.') == std::string_view::npos && !SameTextAscii(name, "localhost"))
        return false;
    const size_t end = std::min(rest.find_first_of("/?#"), rest.size());
    return end > 0 && rest.substr(0, end).find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

std::string TUrl::HostHeader() const {
    std::string header = Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
    if (Port != DefaultPort(Scheme))
        header += ":" + std::to_string(Port);
    return header;
}

std::string TUrl::Text() const {
    std::string text = Scheme + "://";
    if (HasCredentials()) {
        text += EncodeUserInfo(User);
        if (!Password.empty())
            text += ":" + EncodeUserInfo(Password);
        text += "@";
    }
    text += HostHeader();
    text += PathAndQuery;
    if (!Fragment.empty())
        text += "#" + Fragment;
    return text;
}

std::optional<TUrl> ParseURL(std::string_view text) {
    text = TrimView(text);
    for (const char c : text)
        if (IsControl(static_cast<unsigned char>(c)))
            return std::nullopt;
    // Backslashes count as slashes up to the query, as browsers read http addresses.
    std::string copy(text);
    const size_t requestEnd = std::min(copy.find_first_of("?#"), copy.size());
    std::replace(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(requestEnd), '\\', '/');

    TUrl url;
    std::string_view rest;
    std::string scheme = LowerCaseAscii(std::string(SchemeOf(copy, rest)));
    bool schemeless = false;
    if (scheme == "feed") {
        // "feed://h/x" stands for "http://h/x"; "feed:https://h/x" for what follows "feed:".
        std::string_view inner;
        const std::string innerScheme = LowerCaseAscii(std::string(SchemeOf(rest, inner)));
        if (innerScheme == "http" || innerScheme == "https") {
            scheme = innerScheme;
            rest = inner;
        } else if (rest.substr(0, 2) == "//") {
            scheme = "http";
        } else {
            return std::nullopt;
        }
    } else if (scheme.empty() || (scheme != "http" && scheme != "https" && IsHostWithPort(scheme, rest))) {
        // No scheme at all ("example.com/rss", "localhost:8080/rss"): read as http.
        scheme = "http";
        schemeless = true;
        rest = copy;
        if (rest.substr(0, 2) == "//")
            rest.remove_prefix(2);
    } else if (scheme != "http" && scheme != "https") {
        return std::nullopt;
    }
    url.Scheme = scheme;
    url.Port = DefaultPort(scheme);

    // "http:/h", "http:///h" and "http:h" name the host h, as in a browser.
    if (!schemeless)
        while (!rest.empty() && rest[0] == '/')
            rest.remove_prefix(1);

    const size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, authorityEnd);
    rest.remove_prefix(authorityEnd);
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const size_t colon = userInfo.find(':');
        url.User = PercentDecode(userInfo.substr(0, colon));
        if (colon != std::string_view::npos)
            url.Password = PercentDecode(userInfo.substr(colon + 1));
        authority.remove_prefix(at + 1);
    }
    if (!ParseHostAndPort(authority, url))
        return std::nullopt;

    const size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        url.Fragment = EncodeRequestPart(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    const size_t question = rest.find('?');
    std::string path = RemoveDotSegments(std::string(rest.substr(0, question)));
    if (path.empty())
        path = "/";
    url.PathAndQuery = EncodeRequestPart(path);
    if (question != std::string_view::npos)
        url.PathAndQuery += EncodeRequestPart(rest.substr(question));
    return url;
}

TUrl ParseFeedURL(std::string_view text) {
    std::optional<TUrl> url = ParseURL(text);
    if (!url)
        throw EURLError("Invalid feed address: " + DisplayURL(text));
    if (url->HasCredentials() && !url->Secure())
        throw EURLError("The address holds a password but is not secure");
    return *url;
}

std::string DisplayURL(std::string_view address) {
    std::string text;
    text.reserve(address.size());
    for (const char c : address) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (IsControl(b))
            AppendEscaped(text, b);
        else
            text += c;
    }
    // The credentials stand between the first "//" and the last "@" of the authority; slashes
    // may be written as backslashes.
    const std::string slashed = ForwardSlashes(text);
    const size_t start = slashed.find("//");
    if (start == std::string::npos)
        return text;
    const size_t end = std::min(slashed.find_first_of("/?#", start + 2), slashed.size());
    const size_t at = slashed.rfind('@', end);
    if (at == std::string::npos || at < start + 2)
        return text;
    const size_t colon = slashed.find(':', start + 2);
    if (colon == std::string::npos || colon > at)
        return text;
    return text.substr(0, colon + 1) + "***" + text.substr(at);
}

std::string URLScheme(std::string_view address) {
    std::string_view rest;
    return LowerCaseAscii(std::string(SchemeOf(TrimView(address), rest)));
}
