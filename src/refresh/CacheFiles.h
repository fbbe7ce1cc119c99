#pragma once

#include <string>

// The per-feed cache files beside the program, the validators kept beside them, and the
// splitting and resolving of feed addresses.

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
// its ETag file and a "<file>.swap" left beside it by an earlier build; true when the cache file
// existed and was deleted.
bool DeleteCacheFile(const std::string& feedId);

// DataFolder() + "cache/" + feedId + ".etag" (the id escaped as for CacheFileName): the entity
// tag the server sent with the cached document, kept for the next conditional request.
std::string ETagFileName(const std::string& feedId);
// The stored entity tag of feedId; "" when there is none or it cannot be read.
std::string ReadETag(const std::string& feedId);
// Stores etag for feedId; an empty etag deletes the file instead. Raises EFCreateError "Cannot
// create file %s" when it cannot be written.
void WriteETag(const std::string& feedId, const std::string& etag);
// Forgets what makes a request for feedId conditional beside its catalogue entry: deletes the
// ETag file (a missing one is fine). For a cached document that turned out unusable, so that the
// next check downloads it whole; the caller also sets the entry's LastModifiedDate to 0.
void ForgetValidators(const std::string& feedId);

// Deletes the temporary files ("<file>.tmp-XXXXXX") that a download left in the cache folder
// when the program ended before it could rename them into place; the number deleted. Only for a
// moment when no refresh of this data folder runs.
int DeleteCacheTemporaries();

// A copy of text with every "\" replaced by "/".
std::string ForwardSlashes(const std::string& text);

// Whether the scheme before the first "://" is "https" in any letter case (backslashes count as
// slashes); "" and any other scheme give false.
bool IsSecureURL(const std::string& url);

// The host of a URL: backslashes count as slashes, everything up to the first "://" is dropped
// (any scheme, or none), then everything from the first "/" and then from the first ":".
// "http://h:88/feeds" gives "h"; may be "". A bracketed literal gives what is inside the
// brackets: "http://[::1]:8080/x" gives "::1".
std::string ExtractURLHost(const std::string& url);

// The request path, always beginning with "/": from the first "/" after the scheme and host
// (query and fragment kept), cut at its first ":"; "/" when there is none.
// "http://h/a:b" gives "/a", "http://[::1]:8080/x" gives "/x".
std::string ExtractURLPath(const std::string& url);

// The port: the text after the first ":" following the scheme (after the "]" of a bracketed
// host), up to the next "/", read as an integer; when there is no ":" or the text is empty or
// not an integer, 443 for an https URL (IsSecureURL) and 80 for any other ("http://h/x:81" gives
// 81, "https://h/" gives 443). The value is not range-checked.
int ExtractURLPort(const std::string& url);

// The address that reference names when found in the document at base, as RFC 3986 resolves it:
// a reference with a scheme as it is (dot segments removed), "//host/x" with base's scheme, "/x"
// on base's host, "x" and "../x" against base's folder, "?q" and "#f" on base's path; dot
// segments removed. Backslashes in base count as slashes; surrounding spaces of reference are
// ignored. Never raises; an empty reference gives base without its fragment.
std::string ResolveURL(const std::string& base, const std::string& reference);
