// Fixed texts of the main window that more than one file (or the tests) refer to.
#pragma once

inline constexpr const char* kTamzelVersion = "1.1.1";
inline constexpr const char* kNoFolderSelected = "No folder selected yet.";
