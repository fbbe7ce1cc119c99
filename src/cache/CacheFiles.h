#pragma once

#include <string>

// The per-feed cache files beside the program and the validators kept beside them.

// DataFolder() + "cache/" + feedId + ".xml", creating the cache folder (and its parents)
// when missing; a folder that cannot be created is not reported here. Bytes of feedId other
// than ASCII letters, digits, "-" and "_" are written as "%XX" (upper-case hex), so that no
// id names a file outside the cache folder; GUID ids stay as they are.
std::string CacheFileName(const std::string& feedId);

// Replaces the file at path with exactly the bytes of text (an empty text makes an empty file)
// through the atomic write: readers never see half a document and a failure keeps the old file.
// A cached document can always be downloaded again, so nothing waits for the disk. The file is
// the user's alone (0600). A regular file that already holds exactly these bytes is left as it is,
// only closed to group and others. Raises EFCreateError "Cannot create
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
