#include "platform/DataFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/Files.h"

#ifndef TOVEL_SHARE_DIR
#define TOVEL_SHARE_DIR "/usr/local/share/tovelrss/"
#endif

namespace {

std::mutex gOverrideMutex;
std::string gOverride;

std::string Override() {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    return gOverride;
}

} // namespace

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (found && found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return std::string();
}

std::string ChooseDataFolder(const std::string& programFolder, const char* xdgDataHome,
                             const std::string& home) {
    if (FileExists(programFolder + "feeds.data") || FileExists(programFolder + "tovelrss.portable"))
        return programFolder;
    // Relative values of XDG_DATA_HOME are to be ignored, as the base-directory rules say.
    std::string base;
    if (xdgDataHome && xdgDataHome[0] == '/')
        base = xdgDataHome;
    else if (!home.empty())
        base = home + (home.back() == '/' ? "" : "/") + ".local/share";
    else
        throw ENoHomeFolder();
    if (base.back() != '/')
        base += '/';
    return base + "tovelrss/";
}

std::string DataFolder() {
    const std::string forced = Override();
    if (!forced.empty())
        return forced;
    static const std::string folder = [] {
        std::string chosen = ChooseDataFolder(ProgramFolder(), std::getenv("XDG_DATA_HOME"), HomeFolder());
        // The feeds a user reads are nobody else's business.
        if (!DirectoryExists(chosen))
            ForceDirectories(chosen, 0700);
        return chosen;
    }();
    return folder;
}

std::string TemplateFolder() {
    const std::string forced = Override();
    if (!forced.empty())
        return forced + "template/";
    static const std::string folder = [] {
        const std::string beside = ProgramFolder() + "template/";
        return DirectoryExists(beside) ? beside : std::string(TOVEL_SHARE_DIR "template/");
    }();
    return folder;
}

void SetDataFolderForTesting(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    gOverride = folder;
}
