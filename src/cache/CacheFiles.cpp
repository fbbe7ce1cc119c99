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

} // namespace

std::string CacheFileName(const std::string& feedId) {
    const std::string folder = DataFolder() + "cache";
    // A folder that cannot be made shows up later as the failure to create the file. The documents
    // tell what the user reads, so the folder and its files are the user's alone.
    if (!DirectoryExists(folder))
        ForceDirectories(folder, 0700);
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
    // One left by an earlier version may still be open to others.
    if (FileHoldsBytes(path, text)) {
        RestrictToOwner(path);
        return std::string();
    }
    return WriteTemporaryFile(path, text, false, faOwnerOnly);
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
