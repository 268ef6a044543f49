// The file list (raw data 2): records of resource number (u16, 0 ends the
// list), compressed length (u32) and a zero-terminated 8.3 name whose last
// letter is "_".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "setup/bytes.h"

namespace wrap {

struct FileRecord {
  std::uint16_t number = 0;
  std::uint32_t length = 0;
  std::string name;
};

// True for a plain 8.3 file name: one to eight characters, optionally a dot
// and one to three more, none of them a path separator, a control character
// or one that DOS names never held. "." and ".." fail.
bool IsPlainShortName(const std::string& name);

// Parses up to the terminating 0. A record cut short, a list without its
// 0, or a name that is not a plain 8.3 name ending in "_" throws
// EWrapError(kInvalidData).
std::vector<FileRecord> ParseFileList(ByteView data);
Bytes BuildFileList(const std::vector<FileRecord>& records);

// The name a file is stored under: its last character becomes "_".
std::string CompressedName(const std::string& name);

struct PayloadName {
  std::string stored;    // as written before expansion, "X.TX_"
  std::string expanded;  // as the compressed file's header makes it
};

// The one rule for a payload's names, applied by the packer before it packs
// and by the launcher before it writes anything: every expanded name is a
// plain 8.3 name that does not end in "_" (it would be stored under its own
// name and never expanded), and no two files expand to one name. Returns
// what is wrong, naming the file, or empty.
std::string NameProblem(const std::vector<PayloadName>& names);

}  // namespace wrap
