// Names for temporary files that no other writer picks at the same moment.
#pragma once

#include <string>
#include <string_view>

// Eight random lower-case letters and digits.
std::string RandomNameSuffix();

// "<folder>.<name>.<suffix>.tmp" in the folder of `target`, where the folder
// ends at the last of `separators`: a rename from there never crosses a file
// system.
std::string TempNameBeside(const std::string& target, std::string_view separators);
