#pragma once

#include <string>

// A fresh folder under the system's temporary folder, removed with everything in it at the end
// of the scope. Path() ends with "/".
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // Path() + name.
    std::string File(const std::string& name) const { return FPath + name; }
    // Writes bytes to Path() + name and returns that path.
    std::string Write(const std::string& name, const std::string& bytes) const;
    // The bytes of Path() + name ("" when it cannot be read).
    std::string Read(const std::string& name) const;

private:
    std::string FPath;
};

// Points the data folder (and the templates at its "template/") at a folder for the rest of the
// scope.
class ScopedDataFolder {
public:
    explicit ScopedDataFolder(const std::string& folder);
    ~ScopedDataFolder();
    ScopedDataFolder(const ScopedDataFolder&) = delete;
    ScopedDataFolder& operator=(const ScopedDataFolder&) = delete;
};

// Sets (or, with nullptr, unsets) an environment variable for the rest of the scope.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string FName;
    bool FHadValue = false;
    std::string FOldValue;
};

// The public corpus folder (with "/"), or "" when it is absent.
std::string CorpusFolder();
