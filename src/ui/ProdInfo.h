#pragma once

#include <string>

class QSettings;

// What the program says about itself: the window title, the about box, the settings' place.
struct TProductInfo {
    std::string Title;
    std::string Version;
    std::string SiteURL;
    std::string ContactsURL;
    std::string Company;
    std::string LegalNotice;
};

// Filled once at start by FillProductInfo and constant afterwards.
extern TProductInfo ProductInfo;

// Fills ProductInfo; calling it again changes nothing.
void FillProductInfo();

// The user's settings, QSettings("tovelsoft", "Pelmora"); created at the first call and kept for
// the rest of the run. Needs a QCoreApplication only if the caller wants Qt's defaults for it.
QSettings& Settings();
