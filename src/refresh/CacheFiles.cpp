#include "CacheFiles.h"

#include <dirent.h>

#include <algorithm>
#include <string_view>

#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace {

bool IsPlainIdByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The id as a file name of the cache folder: an id from a hand-edited feeds file such as
// "../x" must not name a file elsewhere, so every byte outside [A-Za-z0-9_-] becomes "%XX".
std::string EscapeFeedId(const std::string& id) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string name;
    name.reserve(id.size());
    for (const char ch : id) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsPlainIdByte(c)) {
            name += ch;
        } else {
            name += '%';
            name += kHex[c >> 4];
            name += kHex[c & 15];
        }
    }
    return name;
}

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

std::string CacheFileName(const std::string& feedId) {
    const std::string folder = DataFolder() + "cache";
    // A folder that cannot be made shows up later as the failure to create the file.
    if (!DirectoryExists(folder))
        ForceDirectories(folder);
    return folder + "/" + EscapeFeedId(feedId) + ".xml";
}

void SaveStringToFile(const std::string& text, const std::string& path) {
    const std::string temporary = PrepareCacheFile(text, path);
    if (!temporary.empty())
        CommitCacheFile(temporary, path);
}

std::string PrepareCacheFile(const std::string& text, const std::string& path) {
    // Most feeds are unchanged from one refresh to the next: reading the old document costs less
    // than writing a new file.
    if (FileHoldsBytes(path, text))
        return std::string();
    return WriteTemporaryFile(path, text, false);
}

void CommitCacheFile(const std::string& temporary, const std::string& path) {
    RenameIntoPlace(temporary, path, false);
}

bool DeleteCacheFile(const std::string& feedId) {
    const std::string path = CacheFileName(feedId);
    // Earlier builds kept the document before the last one beside it.
    DeleteFile(path + ".swap");
    ForgetValidators(feedId);
    return DeleteFile(path);
}

std::string ETagFileName(const std::string& feedId) {
    std::string path = CacheFileName(feedId);
    path.replace(path.size() - 4, 4, ".etag");
    return path;
}

std::string ReadETag(const std::string& feedId) {
    const std::string path = ETagFileName(feedId);
    if (!FileExists(path))
        return std::string();
    try {
        return ReadFileToString(path);
    } catch (const std::exception&) {
        // Without the tag the request is only less conditional, never wrong.
        return std::string();
    }
}

void WriteETag(const std::string& feedId, const std::string& etag) {
    if (etag.empty()) {
        ForgetValidators(feedId);
        return;
    }
    SaveStringToFile(etag, ETagFileName(feedId));
}

void ForgetValidators(const std::string& feedId) {
    DeleteFile(ETagFileName(feedId));
}

int DeleteCacheTemporaries() {
    const std::string folder = DataFolder() + "cache/";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int deleted = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        const size_t mark = name.rfind(".tmp-");
        if (mark != std::string_view::npos && name.size() - mark == 11 &&
            DeleteFile(folder + std::string(name)))
            ++deleted;
    }
    ::closedir(dir);
    return deleted;
}

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
