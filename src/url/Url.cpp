#include "url/Url.h"

#include <algorithm>
#include <string_view>

#include "platform/SysUtils.h"

namespace {
// The URL with "\" as "/" and without anything up to and including the first "://".
std::string StripScheme(const std::string& url) {
    std::string text = ForwardSlashes(url);
    const size_t pos = text.find("://");
    if (pos != std::string::npos)
        text.erase(0, pos + 3);
    return text;
}

// Removes everything from the first ch to the end.
void CutAt(std::string& text, char ch) {
    const size_t pos = text.find(ch);
    if (pos != std::string::npos)
        text.erase(pos);
}

// The position of the "]" that closes a bracketed literal ("[::1]") at the start of text; npos
// when text does not start with one. A literal holds no "/", so one before "]" ends the host.
size_t BracketedHostEnd(const std::string& text) {
    if (text.empty() || text[0] != '[')
        return std::string::npos;
    const size_t close = text.find(']');
    if (close == std::string::npos || text.find('/') < close)
        return std::string::npos;
    return close;
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

std::string ForwardSlashes(const std::string& text) {
    std::string copy = text;
    for (char& c : copy)
        if (c == '\\')
            c = '/';
    return copy;
}

bool IsSecureURL(const std::string& url) {
    const std::string text = ForwardSlashes(url);
    const size_t pos = text.find("://");
    return pos == 5 && LowerCaseAscii(text.substr(0, 5)) == "https";
}

std::string ExtractURLHost(const std::string& url) {
    std::string text = StripScheme(url);
    const size_t close = BracketedHostEnd(text);
    if (close != std::string::npos)
        return text.substr(1, close - 1);
    CutAt(text, '/');
    CutAt(text, ':');
    return text;
}

std::string ExtractURLPath(const std::string& url) {
    const std::string text = StripScheme(url);
    const size_t slash = text.find('/');
    std::string path = slash == std::string::npos ? "/" : text.substr(slash);
    CutAt(path, ':');
    return path;
}

int ExtractURLPort(const std::string& url) {
    const int standard = IsSecureURL(url) ? 443 : 80;
    std::string text = StripScheme(url);
    // The colons inside a bracketed literal are not the port's.
    const size_t close = BracketedHostEnd(text);
    if (close != std::string::npos)
        text.erase(0, close + 1);
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return standard;
    text.erase(0, colon + 1);
    CutAt(text, '/');
    int port = standard;
    return TryStrToInt(text, port) ? port : standard;
}

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

// First cuts of the shared functions; the address type replaces them.
std::string DisplayURL(std::string_view address) {
    std::string text;
    static const char kHex[] = "0123456789ABCDEF";
    for (const char c : address) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127) {
            text += '%';
            text += kHex[b >> 4];
            text += kHex[b & 15];
        } else {
            text += c;
        }
    }
    const size_t start = text.find("://");
    if (start == std::string::npos)
        return text;
    const size_t end = std::min(text.find_first_of("/?#", start + 3), text.size());
    const size_t at = text.rfind('@', end);
    if (at == std::string::npos || at < start + 3)
        return text;
    const size_t colon = text.find(':', start + 3);
    if (colon == std::string::npos || colon > at)
        return text;
    return text.substr(0, colon + 1) + "***" + text.substr(at);
}

std::string URLScheme(std::string_view address) {
    const std::string_view text = TrimView(address);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::string();
    for (size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
            return std::string();
    }
    return LowerCaseAscii(std::string(text.substr(0, colon)));
}
