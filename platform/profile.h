// INI ("profile") files read and written the way the Windows private-profile
// functions do it, so that hand-edited settings and server lists behave as
// their users expect.
//
// Reading: section and key names match without regard to (ASCII) case; the
// first section of a name counts, and within it the first key of a name;
// blanks around names and values are dropped; one pair of enclosing single or
// double quotes is dropped; a value is cut to 1,023 bytes (never inside a
// UTF-8 sequence); a missing file, section or key gives the caller's default.
// Lines may end in CR LF, LF or CR; a UTF-8 byte-order mark is skipped; lines
// that are neither a section header nor "key=value" are ignored.
//
// Writing keeps every other line of the file byte for byte, creates the file
// and its folder when missing, and replaces the file atomically. A refused
// write raises EFileError "Unable to write to " + path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Longest value a read returns, in bytes.
constexpr std::size_t kProfileValueMax = 1023;

// One parsed profile text. Reads answer from memory; useful when many keys of
// one file are read at once and for parsing text that is not on disk.
class TProfileText {
 public:
  TProfileText() = default;
  explicit TProfileText(std::string_view text);

  // The value of `key` in `section`, or `def` when either is missing.
  std::string Read(std::string_view section, std::string_view key, std::string_view def = {}) const;
  bool HasKey(std::string_view section, std::string_view key) const;

  // Section names in file order (each name once, as first spelled).
  std::vector<std::string> SectionNames() const;

  // Sets `key` in `section` (adding either when missing) and returns the new
  // text. Line breaks in `value` are dropped so that a value can never add
  // lines of its own.
  std::string Write(std::string_view section, std::string_view key, std::string_view value);

  // The whole text as it stands after the writes.
  std::string Text() const;

 private:
  struct Line {
    std::string content;  // without its line end
    std::string end;      // "\r\n", "\n", "\r" or "" for a last line without one
  };
  std::string bom_;
  std::vector<Line> lines_;

  struct Place {
    std::size_t header = 0;  // index of the section's header line
    std::size_t end = 0;     // one past the section's last line
  };
  std::optional<Place> FindSection(std::string_view section) const;
  std::optional<std::size_t> FindKey(const Place& place, std::string_view key) const;
};

// GetPrivateProfileString: the value of `key` in `section` of the file at
// `path`, `def` when missing. An unreadable or missing file gives `def`.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def = {});

// The file at `path` parsed once, for reading many keys; empty when it is
// missing or unreadable (every key then gives its default).
TProfileText ReadProfileFile(const std::string& path);

// Settings readings of one parsed text, as ReadProfileInteger and
// ReadProfileBool read a file.
std::int32_t ProfileInteger(const TProfileText& profile, std::string_view section,
                            std::string_view key, std::int32_t def);
bool ProfileBool(const TProfileText& profile, std::string_view section, std::string_view key,
                 bool def);

// Sets several keys in one replacement of the file, so that a reader never
// sees some of them changed and others not; raises as WriteProfileString.
struct TProfileEntry {
  std::string_view section, key;
  std::string value;
};
void WriteProfileEntries(const std::string& path, const std::vector<TProfileEntry>& entries);

// WritePrivateProfileString: sets one key; raises EFileError
// "Unable to write to " + path when the file cannot be replaced.
void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// Server list reading of an integer: decimal (optional sign), or hexadecimal
// after "0x"/"0X"; anything else, the empty text included, is -1.
std::int32_t ProfileTypeNumber(std::string_view text);

// Settings reading of an integer: decimal (optional sign); hexadecimal after
// "$", or after "0x"/"0X" when the text is longer than two characters (up to
// eight hex digits, taken as a 32-bit pattern). Anything else is nullopt.
std::optional<std::int32_t> ProfileSettingsNumber(std::string_view text);

// "Type"-style integer of a key in a file: ProfileTypeNumber of its value.
std::int32_t ReadProfileType(const std::string& path, std::string_view section,
                             std::string_view key);

// Settings integer of a key in a file: `def` when missing or unreadable.
std::int32_t ReadProfileInteger(const std::string& path, std::string_view section,
                                std::string_view key, std::int32_t def);

// Settings boolean: an integer other than 0 is true; `def` when unreadable.
bool ReadProfileBool(const std::string& path, std::string_view section, std::string_view key,
                     bool def);

// Writes an integer in decimal, a boolean as "1" or "0".
void WriteProfileInteger(const std::string& path, std::string_view section, std::string_view key,
                         std::int32_t value);
void WriteProfileBool(const std::string& path, std::string_view section, std::string_view key,
                      bool value);
