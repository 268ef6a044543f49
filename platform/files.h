// Whole-file writes that never leave a half-written file behind.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Replaces (or creates) the file at `path` with `text`: writes a temporary
// file beside it, flushes it to disk, then renames it over the old one. An
// existing file keeps its permission bits. Raises EFileError with the
// system's reason on failure; the old file is then untouched. When `step` is
// given it is set to 1 before the file is created, 2 before the text is
// written and flushed, 3 before it is closed and put in place.
void ReplaceFileAtomically(const std::string& path, std::string_view text, int* step = nullptr);

// Appends `text` to the file at `path`, creating it when missing, and
// closes it again. False when it could not be written.
bool AppendToFile(const std::string& path, std::string_view text);

// True when `path` names an existing file system entry.
bool FileExists(const std::string& path);

// All bytes of the file at `path`; nullopt when there is no such file. A file
// that exists but cannot be read (a folder, no permission, an I/O error)
// raises EFileError "Cannot open file "path": reason".
std::optional<std::string> ReadWholeFile(const std::string& path);
