#pragma once

#include <string>

// The folder of the running executable, with its trailing "/". Tests may point it elsewhere.
std::string ProgramFolder();
// An empty folder restores the real one. The folder must end with "/".
void SetProgramFolderForTesting(const std::string& folder);

// True for an existing regular file (or a link to one).
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder and its missing parents; false when it cannot.
bool ForceDirectories(const std::string& path);
bool DeleteFile(const std::string& path);

// The whole file as bytes; raises EFOpenError "Cannot open file %s" when it cannot be read.
// Holds a shared lock on the file while reading it, so that WriteFileThroughScratch never
// rewrites a file that is still being read.
std::string ReadFileToString(const std::string& path);

// Replaces the file at path with data so that no reader ever sees a half-written file: the bytes
// go to a temporary file in the same folder, which is flushed to disk and renamed over the
// target. On any failure the temporary file is removed, the old file stays as it was and
// EFCreateError "Cannot create file %s" names the target path. Without durable the flush to disk
// is left to the system: a crash may then lose the new content, never leave a torn file.
void WriteFileAtomically(const std::string& path, const std::string& data, bool durable = true);

// Whether path is a regular file (not a link, never waited for) holding exactly bytes, compared
// under the same shared lock as ReadFileToString; any failure to tell counts as false.
bool FileHoldsBytes(const std::string& path, const std::string& bytes);

// Replaces the file at path with data like WriteFileAtomically without durable, but writes into
// a lasting scratch file beside it (path + ".swap") and swaps the two names, so that repeated
// writes reuse two files instead of making and freeing one each time (far cheaper on ext4).
// The scratch is rewritten only while this call holds its exclusive lock and no reader holds it;
// otherwise (a busy or odd scratch, or a file system that cannot swap names) the data goes
// through a temporary file as with WriteFileAtomically. The scratch gets new blocks, so that a
// journal in ordered mode commits the data before the swap and a system crash leaves the old or
// the new content; on ext4 without a journal, which cannot order them, the scratch's own blocks
// are overwritten. On failure the target stays as
// it was (the scratch may keep partial bytes: it is always rewritten whole) and EFCreateError
// "Cannot create file %s" names the target path.
void WriteFileThroughScratch(const std::string& path, const std::string& data);

// Deletes the file at path and the scratch file that WriteFileThroughScratch keeps beside it;
// true when the file itself was deleted.
bool DeleteFileAndScratch(const std::string& path);

// Tests: with false, WriteFileThroughScratch behaves as on a file system that refuses to swap
// names.
void SetNameSwapAvailableForTesting(bool available);

// Which blocks WriteFileThroughScratch writes into: chosen by the file system (Automatic), new
// ones always, or the scratch's own always. For tests.
enum class TScratchBlocks { Automatic, Fresh, Reused };
void SetScratchBlocksForTesting(TScratchBlocks blocks);
