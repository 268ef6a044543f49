// The version label's fixed words, shared by both shells: the prefix before
// the numbers and the three texts a failed look-up shows.
#pragma once

#include <string>

inline constexpr const char* kNoDataAvailable = "< No Data Available >";
inline constexpr const char* kErrorRetrieving = "Error retrieving version info";
inline constexpr const char* kNoVersionInfo = "No Version Info";
inline constexpr const char* kCopyrightLine = "Copyright (C) 2026 the Tolvane developers";

// The version label's text before the version numbers.
std::string VersionPrefix();
