#pragma once

#include <sys/stat.h>

#include <string>

// Sets the process's umask for the rest of the scope (the whole process's: only for tests that run
// no other threads meanwhile).
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : FOld(::umask(mask)) {}
    ~ScopedUmask() { ::umask(FOld); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t FOld;
};

// The permission bits of path (a link followed), or -1 when there is nothing there.
inline int ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}
