#pragma once

#include <string>

// A fresh random (version 4) GUID as 36 characters: groups of 8, 4, 4, 4 and 12 upper-case hex
// digits joined by "-", without braces. Never "root".
std::string NewGuidText();
