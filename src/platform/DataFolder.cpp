#include "platform/DataFolder.h"

#include <cstdlib>
#include <mutex>

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

std::string ChooseDataFolder(const std::string& programFolder, const char* xdgDataHome, const char* home) {
    if (FileExists(programFolder + "feeds.data") || FileExists(programFolder + "tovelrss.portable"))
        return programFolder;
    // Relative values of XDG_DATA_HOME are to be ignored, as the base-directory rules say.
    std::string base;
    if (xdgDataHome && xdgDataHome[0] == '/')
        base = xdgDataHome;
    else
        base = std::string(home && home[0] ? home : "/tmp") + "/.local/share";
    if (base.back() != '/')
        base += '/';
    return base + "tovelrss/";
}

std::string DataFolder() {
    const std::string forced = Override();
    if (!forced.empty())
        return forced;
    static const std::string folder = [] {
        std::string chosen =
            ChooseDataFolder(ProgramFolder(), std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
        if (!DirectoryExists(chosen))
            ForceDirectories(chosen);
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
