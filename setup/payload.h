// What a bundle carries, read and checked without writing anything: the
// parts' checksums, the file list with each file's expanded name, and the
// name rule.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "setup/bundle.h"
#include "setup/file_list.h"

namespace wrap {

constexpr std::uint16_t kStringTitle = 1;
constexpr std::uint16_t kStringQuestion = 2;
constexpr std::uint16_t kStringFailed = 3;
constexpr std::uint16_t kRawFileTime = 1;
constexpr std::uint16_t kRawFileList = 2;
constexpr std::uint16_t kRawFirstFile = 101;
constexpr std::size_t kTitleMax = 49;
constexpr std::size_t kTextMax = 259;

struct PayloadFile {
  FileRecord record;
  std::string expanded;  // from the compressed file's header
  std::uint32_t size = 0;
  std::uint16_t mode = 0;
};

// How a part is named to the user: "file list", "SETUP.EX_", "string 2".
std::string PartName(const Bundle& bundle, ResourceKey key);

// Throws EWrapError(kInvalidData) naming the first part whose checksum
// does not match.
void CheckParts(const Bundle& bundle);

// The file list, each file's header read and the names checked. Anything
// missing, damaged or against the name rule throws EWrapError(kInvalidData)
// whose detail names it.
std::vector<PayloadFile> ReadPayload(const Bundle& bundle);

// The stored file time; throws EWrapError(kInvalidData) when it is missing
// or not 8 bytes.
std::uint64_t ReadFileTime(const Bundle& bundle);

}  // namespace wrap
