#include "app/Catalogue.h"

#include <cstdio>
#include <sys/stat.h>

#include "catalogue/FeedListCls.h"
#include "ui/Messages.h"

namespace {

// Anything at all under that name, a dangling link included, must not be renamed over.
bool NameTaken(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

std::string NameOnly(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string DamagedFileName(const std::string& fileName) {
    const std::string first = fileName + ".damaged";
    if (!NameTaken(first))
        return first;
    for (int n = 2;; ++n) {
        const std::string next = first + "." + std::to_string(n);
        if (!NameTaken(next))
            return next;
    }
}

std::unique_ptr<TFeedList> OpenCatalogue(const std::string& fileName) {
    try {
        return std::make_unique<TFeedList>(fileName);
    } catch (const std::exception& e) {
        const std::string aside = DamagedFileName(fileName);
        const std::string question = std::string(e.what()) + "\n\nSet this file aside as \"" +
                                     NameOnly(aside) +
                                     "\" and start with an empty list of feeds?\n\n"
                                     "No leaves the file as it is and ends the program.";
        if (!AskYesNo(question, false))
            return nullptr;
        if (std::rename(fileName.c_str(), aside.c_str()) != 0) {
            ShowMessage("Cannot rename file " + fileName + " to " + aside);
            return nullptr;
        }
    }
    // The file is gone from its place now, so this starts empty; it may still fail if another
    // program put a file there in between, and then the program ends like for any unreadable file.
    try {
        return std::make_unique<TFeedList>(fileName);
    } catch (const std::exception& e) {
        ShowException(e);
        return nullptr;
    }
}

bool SaveCatalogue(TFeedList& feeds) {
    try {
        feeds.Save();
        return true;
    } catch (const std::exception& e) {
        ShowException(e);
        return false;
    }
}
