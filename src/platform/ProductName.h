#pragma once

// The program's name, version and site: the window and the about box show them, and the refresh
// names itself to servers with them.
inline constexpr char kProductTitle[] = "Tovel RSS Reader";
inline constexpr char kProductVersion[] = "1.00";
inline constexpr char kProductSiteURL[] = "https://tovelsoft.example/";
