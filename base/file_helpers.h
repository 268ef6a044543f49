// Whole-file read and write, and trimming a file to its tail.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// All bytes of the file; empty when it does not exist. A file that exists
// but cannot be read raises EFileError.
std::string ReadFileString(const std::string& path);

// The lines of the file (SplitLines), nullopt when it does not exist. A file
// that exists but cannot be read sets `failed` and raises EFileError; one
// that was read clears it.
std::optional<std::vector<std::string>> ReadFileLines(const std::string& path, bool& failed);

// Creates or replaces the file with `text`, unchanged. The old content is
// replaced atomically (a temporary file beside it, then a rename), so a
// crash or a full disk never leaves half a file. Never raises: a failure goes
// to ShowError with where "WriteFileString-" + step + ": " + path, the step
// being 0 before the file was named, 1 before it was created, 2 before the
// text was written and flushed, 3 before it was closed.
void WriteFileString(const std::string& path, const std::string& text);

// Keeps the last maxLen + 1 bytes of a file longer than maxLen; leaves a
// shorter or missing file alone. Failures raise.
void TrimFileToSize(const std::string& path, std::size_t maxLen);

// TrimFileToSize, then drops everything up to and including the first line
// feed unless that is the last byte, and writes the file back (creating an
// empty one when missing). Failures go to ShowError with where
// "TrimFileToSizeCosmetic: " + path.
void TrimFileToSizeCosmetic(const std::string& path, std::size_t maxLen);
