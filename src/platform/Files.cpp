#include "Files.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include "SysUtils.h"

namespace {

std::mutex gFolderMutex;
std::string gFolderOverride;
std::atomic<bool> gNameSwapAvailable{true};
std::atomic<TScratchBlocks> gScratchBlocks{TScratchBlocks::Automatic};

std::string ExecutableFolder() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return "./";
    std::string path(buffer.data(), static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// Writes everything, going on after short writes and interrupted calls.
bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens path for reading under a shared lock when one can be had. A writer through a scratch
// rewrites an old file only under an exclusive lock; when that lock is held, the descriptor is
// kept only if it still is the file at path (complete: it is swapped in only once written),
// else path is opened again. -1 when it cannot be opened.
int OpenLockedForReading(const std::string& path, int flags = 0) {
    for (int attempt = 0;; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
        // Files of other kinds, and file systems without locks, are read as they are.
        if (fd < 0 || ::flock(fd, LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK || attempt >= 100)
            return fd;
        struct stat opened {};
        struct stat current {};
        if (::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &current) == 0 && SameFile(opened, current))
            return fd;
        ::close(fd);
    }
}

std::string ScratchName(const std::string& path) {
    return path + ".swap";
}

// Opens the scratch file and takes its exclusive lock without waiting; -1 when it is not a
// plain file of its own (a folder, a link, a second name) or somebody else holds it: another
// writer, or a reader of the time when it was the target.
int OpenScratch(const std::string& scratch, struct stat& opened) {
    // O_NONBLOCK: a FIFO in the scratch's place must not hold the write.
    const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    struct stat current {};
    // The name is looked at again under the lock: a writer that swapped the file away
    // meanwhile made it the target.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
        opened.st_nlink == 1 && ::lstat(scratch.c_str(), &current) == 0 && SameFile(opened, current))
        return fd;
    ::close(fd);
    return -1;
}

// The kernel's name of the block device dev ("vda", "dm-0"); "" when unknown.
std::string BlockDeviceName(dev_t dev) {
    std::ifstream uevent("/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)) +
                         "/uevent");
    std::string line;
    while (std::getline(uevent, line))
        if (line.compare(0, 8, "DEVNAME=") == 0)
            return line.substr(8);
    return std::string();
}

// Whether dev holds an ext4 file system without a journal. Nothing orders its data before its
// metadata, and every block it frees is discarded on the spot when mounted with "discard".
bool Ext4WithoutJournal(dev_t dev) {
    static std::mutex lock;
    static std::map<dev_t, bool> known;
    std::lock_guard<std::mutex> guard(lock);
    const auto found = known.find(dev);
    if (found != known.end())
        return found->second;
    const std::string name = BlockDeviceName(dev);
    bool result = !name.empty() && DirectoryExists("/proc/fs/ext4/" + name);
    // A journal shows up as "<device>-<journal inode>".
    if (DIR* journals = result ? ::opendir("/proc/fs/jbd2") : nullptr) {
        while (const dirent* entry = ::readdir(journals))
            if (std::string(entry->d_name).compare(0, name.size() + 1, name + "-") == 0)
                result = false;
        ::closedir(journals);
    }
    known[dev] = result;
    return result;
}

// Swaps the two names; false with errno set when the file system cannot.
bool SwapNames(const std::string& a, const std::string& b) {
    if (!gNameSwapAvailable) {
        errno = EINVAL;
        return false;
    }
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

} // namespace

std::string ProgramFolder() {
    {
        std::lock_guard<std::mutex> lock(gFolderMutex);
        if (!gFolderOverride.empty())
            return gFolderOverride;
    }
    static const std::string folder = ExecutableFolder();
    return folder;
}

void SetProgramFolderForTesting(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gFolderMutex);
    gFolderOverride = folder;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
    if (path.empty())
        return false;
    std::string current;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string::npos)
            next = path.size();
        current = path.substr(0, next);
        if (!current.empty() && !DirectoryExists(current)) {
            if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
        }
        pos = next + 1;
    }
    return DirectoryExists(path);
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

std::string ReadFileToString(const std::string& path) {
    const int fd = OpenLockedForReading(path);
    if (fd < 0)
        throw EFOpenError(path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw EFOpenError(path);
    }
    // The bytes go straight into the text, sized as the file is; a file that grows meanwhile
    // (or reports no size) is read on through a small buffer.
    std::string data(st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0, '\0');
    size_t got = 0;
    char buffer[4096];
    for (;;) {
        const bool direct = got < data.size();
        const ssize_t n =
            direct ? ::read(fd, data.data() + got, data.size() - got) : ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            throw EFOpenError(path);
        }
        if (n == 0)
            break;
        if (direct) {
            got += static_cast<size_t>(n);
        } else {
            data.append(buffer, static_cast<size_t>(n));
            got = data.size();
        }
    }
    ::close(fd);
    data.resize(got);
    return data;
}

bool FileHoldsBytes(const std::string& path, const std::string& bytes) {
    // O_NONBLOCK: a FIFO put in the file's place must not hold the caller.
    const int fd = OpenLockedForReading(path, O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                static_cast<unsigned long long>(st.st_size) == bytes.size();
    char buffer[16384];
    size_t done = 0;
    // Read to the end: a file that grew since fstat differs.
    while (same) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            same = n == 0 && done == bytes.size();
            break;
        }
        const size_t got = static_cast<size_t>(n);
        same = got <= bytes.size() - done && std::memcmp(buffer, bytes.data() + done, got) == 0;
        done += got;
    }
    ::close(fd);
    return same;
}

void WriteFileAtomically(const std::string& path, const std::string& data, bool durable) {
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw EFCreateError(path);
    // Keep the permissions of the file being replaced; a new file gets the usual 0644.
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    bool ok =
        ::fchmod(fd, mode) == 0 && WriteAll(fd, data.data(), data.size()) && (!durable || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        throw EFCreateError(path);
    }
    if (!durable)
        return;
    // Make the rename itself durable; a failure here no longer risks the file's content.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

void WriteFileThroughScratch(const std::string& path, const std::string& data) {
    const std::string scratch = ScratchName(path);
    struct stat own {};
    const int fd = OpenScratch(scratch, own);
    if (fd < 0) {
        WriteFileAtomically(path, data, false);
        return;
    }
    // The lock ends with the descriptor, after the swap: nobody rewrites the file before then.
    struct TClose {
        int Fd;
        ~TClose() { ::close(Fd); }
    } closer{fd};
    // The permissions of the file replaced (through a link, of the file it names) are kept.
    struct stat target {};
    bool targetExists = ::lstat(path.c_str(), &target) == 0;
    const bool targetIsFile = targetExists && S_ISREG(target.st_mode);
    if (targetExists && S_ISLNK(target.st_mode))
        targetExists = ::stat(path.c_str(), &target) == 0;
    const mode_t mode = targetExists ? (target.st_mode & 07777) : 0644;
    // Emptied first, the file gets new blocks, which a journal in ordered mode commits only after
    // their data and no later than the swap. Without a journal nothing gives that order, and
    // freeing the old blocks costs a discard each: their bytes are overwritten there instead.
    const TScratchBlocks blocks = gScratchBlocks;
    const bool reuse = blocks == TScratchBlocks::Reused ||
                       (blocks == TScratchBlocks::Automatic && Ext4WithoutJournal(own.st_dev));
    bool ok = (reuse ? WriteAll(fd, data.data(), data.size()) &&
                           ::ftruncate(fd, static_cast<off_t>(data.size())) == 0
                     : ::ftruncate(fd, 0) == 0 && WriteAll(fd, data.data(), data.size())) &&
              ((own.st_mode & 07777) == mode || ::fchmod(fd, mode) == 0);
    if (ok) {
        // New blocks are allocated only at write-back; started now (without waiting for the
        // disk), they join the journal before the swap, which then never shows an empty file.
        // Blocks written over in place need no allocation, and without a journal nothing orders
        // the swap after the data anyway.
        if (!reuse)
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        // A missing target, a link or a file system without the swap take a plain rename.
        ok = (targetIsFile && SwapNames(scratch, path)) || ::rename(scratch.c_str(), path.c_str()) == 0;
    }
    if (!ok)
        throw EFCreateError(path);
}

bool DeleteFileAndScratch(const std::string& path) {
    DeleteFile(ScratchName(path));
    return DeleteFile(path);
}

void SetNameSwapAvailableForTesting(bool available) {
    gNameSwapAvailable = available;
}

void SetScratchBlocksForTesting(TScratchBlocks blocks) {
    gScratchBlocks = blocks;
}
