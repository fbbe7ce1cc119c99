#pragma once

#include <string>

// Where the program keeps its files. This is the one place that decides; everything else asks
// here and never looks at the program's own folder.

// The folder that holds "feeds.data", "cache/" and "gen.html", with its trailing "/". It is the
// program's own folder when a "feeds.data" or the marker "tovelrss.portable" lies there (a
// portable copy, or a build tree), else $XDG_DATA_HOME/tovelrss/ (~/.local/share/tovelrss/ when
// the variable is unset or not absolute), which is created when missing. Decided at the first
// call.
std::string DataFolder();

// The folder of the page templates, with its trailing "/": "template/" beside the program when
// that folder exists, else the install's share folder.
std::string TemplateFolder();

// The rule of DataFolder for a program folder (ending in "/") and the two variables (nullptr:
// unset); creates nothing.
std::string ChooseDataFolder(const std::string& programFolder, const char* xdgDataHome, const char* home);

// Tests: the data folder becomes folder and the template folder folder + "template/"; an empty
// folder restores the real ones. The folder must end with "/".
void SetDataFolderForTesting(const std::string& folder);
