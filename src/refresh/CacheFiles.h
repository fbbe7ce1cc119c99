#pragma once

#include <string>

// The per-feed cache files beside the program and the splitting of a feed address into the
// host, path and port of a plain HTTP exchange.

// DataFolder() + "cache/" + feedId + ".xml", creating the cache folder (and its parents)
// when missing; a folder that cannot be created is not reported here. Bytes of feedId other
// than ASCII letters, digits, "-" and "_" are written as "%XX" (upper-case hex), so that no
// id names a file outside the cache folder; GUID ids stay as they are.
std::string CacheFileName(const std::string& feedId);

// Replaces the file at path with exactly the bytes of text (an empty text makes an empty file)
// through the atomic write: readers never see half a document and a failure keeps the old file.
// A cached document can always be downloaded again, so nothing waits for the disk. A regular file
// that already holds exactly these bytes is left untouched. Raises EFCreateError "Cannot create
// file %s" naming path.
void SaveStringToFile(const std::string& text, const std::string& path);

// The first half of SaveStringToFile, for the refresh worker: "" when the file at path already
// holds exactly the bytes of text, else a temporary file beside path holding them, which
// CommitCacheFile then renames into place (or the caller deletes). Raises as SaveStringToFile.
std::string PrepareCacheFile(const std::string& text, const std::string& path);
// The second half: renames temporary over path; on failure the temporary file is gone, the old
// file stays and EFCreateError "Cannot create file %s" names path.
void CommitCacheFile(const std::string& temporary, const std::string& path);

// Deletes the cache file of feedId (for a feed deleted or given another address) together with
// a "<file>.swap" left beside it by an earlier build; true when the cache file existed and was
// deleted.
bool DeleteCacheFile(const std::string& feedId);

// Deletes the temporary files ("<file>.tmp-XXXXXX") that a download left in the cache folder
// when the program ended before it could rename them into place; the number deleted. Only for a
// moment when no refresh of this data folder runs.
int DeleteCacheTemporaries();

// A copy of text with every "\" replaced by "/".
std::string ForwardSlashes(const std::string& text);

// The host of a URL: backslashes count as slashes, everything up to the first "://" is dropped
// (any scheme, or none), then everything from the first "/" and then from the first ":".
// "http://h:88/feeds" gives "h"; may be "".
std::string ExtractURLHost(const std::string& url);

// The request path, always beginning with "/": from the first "/" after the scheme and host
// (query and fragment kept), cut at its first ":"; "/" when there is none.
// "http://h/a:b" gives "/a".
std::string ExtractURLPath(const std::string& url);

// The port: the text after the first ":" following the scheme, up to the next "/", read as an
// integer; 80 when there is no ":" or the text is empty or not an integer
// ("http://h/x:81" gives 81, "https://h/" gives 80). The value is not range-checked.
int ExtractURLPort(const std::string& url);
