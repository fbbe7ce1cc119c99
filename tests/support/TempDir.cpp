#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/DataFolder.h"
#include "platform/Files.h"

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tovel-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    FPath = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only folders made by a test must not keep their contents alive.
    for (auto it = std::filesystem::recursive_directory_iterator(FPath, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FPath, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

ScopedDataFolder::ScopedDataFolder(const std::string& folder) {
    SetDataFolderForTesting(folder);
}

ScopedDataFolder::~ScopedDataFolder() {
    SetDataFolderForTesting("");
}

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name.c_str())) {
        FHadValue = true;
        FOldValue = old;
    }
    if (value)
        ::setenv(name.c_str(), value, 1);
    else
        ::unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (FHadValue)
        ::setenv(FName.c_str(), FOldValue.c_str(), 1);
    else
        ::unsetenv(FName.c_str());
}

std::string CorpusFolder() {
    const std::string folder = std::string(TOVEL_CORPUS_DIR) + "/";
    return DirectoryExists(folder) ? folder : std::string();
}
