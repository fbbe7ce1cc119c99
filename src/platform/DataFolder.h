#pragma once

#include <string>

#include "platform/SysUtils.h"

// Where the program keeps its files. This is the one place that decides; everything else asks
// here and never looks at the program's own folder.

// No folder can be found for the user's data: "Cannot find a home folder to keep the feeds in".
class ENoHomeFolder : public Exception {
public:
    ENoHomeFolder() : Exception("Cannot find a home folder to keep the feeds in") {}
};

// The folder that holds "feeds.data", "cache/" and "gen.html", with its trailing "/". It is the
// program's own folder when a "feeds.data" or the marker "tovelrss.portable" lies there (a
// portable copy, or a build tree), else $XDG_DATA_HOME/tovelrss/ (HomeFolder() followed by
// ".local/share/tovelrss/" when the variable is unset or not absolute). A folder it makes is
// for the user alone (0700, its missing parents too); one that exists is left as it is. Decided at
// the first call; raises ENoHomeFolder when the user has no home folder to put it in.
std::string DataFolder();

// The folder of the page templates, with its trailing "/": "template/" beside the program when
// that folder exists, else the install's share folder.
std::string TemplateFolder();

// The user's home folder: $HOME when it is an absolute path, else the folder the password
// database gives for the user; "" when neither does. Never a shared folder such as /tmp.
std::string HomeFolder();

// The rule of DataFolder for a program folder (ending in "/"), XDG_DATA_HOME (nullptr: unset) and
// the home folder ("" when there is none); creates nothing. Raises ENoHomeFolder when the rule
// comes to the home folder and there is none.
std::string ChooseDataFolder(const std::string& programFolder, const char* xdgDataHome,
                             const std::string& home);

// Tests: the data folder becomes folder and the template folder folder + "template/"; an empty
// folder restores the real ones. The folder must end with "/".
void SetDataFolderForTesting(const std::string& folder);
