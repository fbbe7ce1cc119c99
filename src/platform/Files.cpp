#include "Files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "SysUtils.h"

namespace {

std::mutex gFolderMutex;
std::string gFolderOverride;

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

// Opens path for reading; -1 when it cannot be opened.
int OpenForReading(const std::string& path, int flags = 0) {
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

// Creates a new file named base followed by six random letters or digits, for writing, with mode
// less the umask (O_EXCL: never one that exists, nor through a link); -1 when it cannot. base
// receives the name.
int CreateUniqueFile(std::string& base, mode_t mode) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof(kLetters) - 2);
    const size_t length = base.size();
    for (int attempt = 0; attempt < 100; ++attempt) {
        base.resize(length);
        for (int i = 0; i < 6; ++i)
            base += kLetters[pick(random)];
        const int fd = ::open(base.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || (errno != EEXIST && errno != EINTR))
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Flushes the folder holding path, so that a rename in it survives a crash; a failure here no
// longer risks the file's content.
void SyncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
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

bool ForceDirectories(const std::string& path, unsigned mode) {
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
            if (::mkdir(current.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
                return false;
        }
        pos = next + 1;
    }
    return DirectoryExists(path);
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RestrictToOwner(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return (st.st_mode & 077) == 0 || ::chmod(path.c_str(), st.st_mode & 0700) == 0;
}

std::string ReadFileToString(const std::string& path) {
    const int fd = OpenForReading(path);
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
    const int fd = OpenForReading(path, O_NOFOLLOW | O_NONBLOCK);
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

TFileReplacement::TFileReplacement(std::string path, bool durable, TFileAccess access)
    : FPath(std::move(path)), FTemporary(FPath + ".tmp-"), FDurable(durable) {
    // The permissions are right from the start: a private file is never readable by others, not
    // even for the moment before a chmod.
    FHandle = CreateUniqueFile(FTemporary, access == faOwnerOnly ? 0600 : 0666);
    if (FHandle < 0)
        throw EFCreateError(FPath);
    // A file the user has closed to others stays closed when the program writes it anew.
    struct stat old {};
    struct stat made {};
    if (access == faUmask && ::stat(FPath.c_str(), &old) == 0 && ::fstat(FHandle, &made) == 0) {
        const mode_t narrowed = made.st_mode & old.st_mode & 0777;
        if (narrowed != (made.st_mode & 0777) && ::fchmod(FHandle, narrowed) != 0)
            Fail();
    }
    FBuffer.reserve(kBufferSize);
}

TFileReplacement::~TFileReplacement() {
    if (FHandle >= 0)
        ::close(FHandle);
    if (!FTemporary.empty())
        ::unlink(FTemporary.c_str());
}

void TFileReplacement::Write(std::string_view data) {
    if (FHandle < 0)
        throw EFCreateError(FPath);
    if (FBuffer.size() + data.size() <= kBufferSize) {
        FBuffer.append(data.data(), data.size());
        return;
    }
    Flush();
    if (data.size() >= kBufferSize) {
        if (!WriteAll(FHandle, data.data(), data.size()))
            Fail();
    } else {
        FBuffer.append(data.data(), data.size());
    }
}

std::string TFileReplacement::Finish() {
    if (FHandle < 0)
        throw EFCreateError(FPath);
    Flush();
    const bool synced = !FDurable || ::fsync(FHandle) == 0;
    const bool closed = ::close(FHandle) == 0;
    FHandle = -1;
    if (!synced || !closed)
        Fail();
    std::string temporary;
    temporary.swap(FTemporary);
    return temporary;
}

void TFileReplacement::Commit() {
    RenameIntoPlace(Finish(), FPath, FDurable);
}

void TFileReplacement::Flush() {
    if (!FBuffer.empty() && !WriteAll(FHandle, FBuffer.data(), FBuffer.size()))
        Fail();
    FBuffer.clear();
}

void TFileReplacement::Fail() {
    if (FHandle >= 0)
        ::close(FHandle);
    FHandle = -1;
    ::unlink(FTemporary.c_str());
    FTemporary.clear();
    throw EFCreateError(FPath);
}

std::string WriteTemporaryFile(const std::string& path, const std::string& data, bool durable,
                               TFileAccess access) {
    TFileReplacement file(path, durable, access);
    file.Write(data);
    return file.Finish();
}

void RenameIntoPlace(const std::string& temporary, const std::string& path, bool durable) {
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw EFCreateError(path);
    }
    if (durable)
        SyncFolderOf(path);
}

void WriteFileAtomically(const std::string& path, const std::string& data, bool durable, TFileAccess access) {
    RenameIntoPlace(WriteTemporaryFile(path, data, durable, access), path, durable);
}
