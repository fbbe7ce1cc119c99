#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The folder of the running executable, with its trailing "/". Tests may point it elsewhere.
std::string ProgramFolder();
// An empty folder restores the real one. The folder must end with "/".
void SetProgramFolderForTesting(const std::string& folder);

// True for an existing regular file (or a link to one).
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder and its missing parents, each with mode less the umask (folders that exist
// keep theirs); false when it cannot.
bool ForceDirectories(const std::string& path, unsigned mode = 0777);
bool DeleteFile(const std::string& path);
// Takes every permission of group and others off the regular file at path (a link is not
// followed); false when it cannot. For a file written before its kind was kept private.
bool RestrictToOwner(const std::string& path);

// Who may read a file that the program writes.
enum TFileAccess {
    // As any new file of the user's: 0666 less the umask, and never more than the file it replaces
    // allowed (a replacement only ever narrows, never widens).
    faUmask,
    // The user alone: 0600 (less the umask), whatever the file it replaces allowed.
    faOwnerOnly,
};

// The whole file as bytes; raises EFOpenError "Cannot open file %s" when it cannot be read.
std::string ReadFileToString(const std::string& path);

// A new version of the file at path, written in pieces to a temporary file beside it (same
// folder, a name of its own ending in ".tmp-" and six characters, created with the permissions
// that access gives) and put in its place in one step, so that no reader ever sees a half-written
// file. Flushed to disk when durable. Dropped before Commit or Finish, it removes its temporary
// file and the old file stays as it was. Every failure removes the temporary file and raises
// EFCreateError "Cannot create file %s" naming path.
class TFileReplacement {
public:
    explicit TFileReplacement(std::string path, bool durable = true, TFileAccess access = faUmask);
    ~TFileReplacement();
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;

    // Appends data (buffered).
    void Write(std::string_view data);
    // Closes the temporary file and hands its path over: the caller renames it into place later
    // (RenameIntoPlace) or deletes it. Nothing at path changes.
    std::string Finish();
    // Finish, then RenameIntoPlace.
    void Commit();

private:
    static constexpr size_t kBufferSize = 64 * 1024;
    void Flush();
    [[noreturn]] void Fail();

    std::string FPath;
    std::string FTemporary;
    bool FDurable;
    int FHandle = -1;
    std::string FBuffer;
};

// The first half of WriteFileAtomically: writes data to a new temporary file beside path (same
// folder, a name of its own ending in ".tmp-" and six characters), with the permissions that
// access gives, flushed to disk when durable, and returns the temporary file's path. Nothing at path changes.
// On failure the temporary file is removed and EFCreateError "Cannot create file %s" names path.
std::string WriteTemporaryFile(const std::string& path, const std::string& data, bool durable = true,
                               TFileAccess access = faUmask);

// The second half: renames temporary (made by WriteTemporaryFile for path) over path, and with
// durable also flushes the folder so that the rename itself survives a crash. On failure the
// temporary file is removed, path stays as it was and EFCreateError "Cannot create file %s"
// names path.
void RenameIntoPlace(const std::string& temporary, const std::string& path, bool durable = true);

// Replaces the file at path with data so that no reader ever sees a half-written file: both halves
// above, one after the other. On any failure the old file stays as it was and EFCreateError
// names path. Without durable the flush to disk is left to the system: a crash may then lose the
// new content, never leave a torn file.
void WriteFileAtomically(const std::string& path, const std::string& data, bool durable = true,
                         TFileAccess access = faUmask);

// Whether path is a regular file (not a link, never waited for) holding exactly bytes; any
// failure to tell counts as false.
bool FileHoldsBytes(const std::string& path, const std::string& bytes);
