// The setup launcher: asks, unpacks its payload into a fresh private folder
// under the temporary directory, runs SETUP.EXE from it, waits, cleans up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "setup/asking.h"
#include "setup/bundle.h"

namespace wrap {

constexpr std::uint16_t kStringTitle = 1;
constexpr std::uint16_t kStringQuestion = 2;
constexpr std::uint16_t kStringFailed = 3;
constexpr std::uint16_t kRawFileTime = 1;
constexpr std::uint16_t kRawFileList = 2;
constexpr std::uint16_t kRawFirstFile = 101;
constexpr std::size_t kTitleMax = 49;
constexpr std::size_t kTextMax = 259;

// Adds "/" unless the path is empty or already ends in "/" or "\".
std::string AppendBackslash(std::string path);
// $TMPDIR, else /tmp.
std::string TempDirectory();

// FILETIME (100 ns units since 1601-01-01 UTC) and back.
std::uint64_t UnixToFileTime(std::int64_t seconds, long nanoseconds);
void FileTimeToUnix(std::uint64_t fileTime, std::int64_t& seconds, long& nanoseconds);

class Launcher {
 public:
  // bundle may be null when the executable carries none or a damaged one.
  Launcher(const Bundle* bundle, Asker& asker, std::string tempDirectory);

  // The main sequence. Never throws for anything the payload holds.
  void Run();

  // The steps; each shows its own error and returns false on failure.
  bool CreateTempFolder();
  bool UnpackPayload();
  bool RunSetup();
  void RemoveTempFolder();

  // Sets errno to kInvalidData first, so a missing resource reads as such.
  std::optional<Bytes> LoadRawData(std::uint16_t number);
  Answer AskUser(std::uint16_t stringNumber, BoxType type);
  // code -1 takes errno.
  void ShowSystemError(int code, BoxType type = BoxType::OkExclamation);

  const std::string& TempFolder() const { return folder_; }

 private:
  std::string Title() const;
  bool Fail();

  const Bundle* bundle_;
  Asker& asker_;
  std::string tempDirectory_;
  std::string folder_;
};

}  // namespace wrap
