// A file in mime.types format as a table: what the look-ups of mime_types.h
// share.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

// Lower-case extension (no dot) -> type; empty when the file cannot be read.
using TMimeTable = std::unordered_map<std::string, std::string>;
TMimeTable LoadMimeTable(const std::string& file);

// The type for `extension` (leading dot optional, any case); "" when none.
std::string LookUpMimeTable(const TMimeTable& table, std::string_view extension);
