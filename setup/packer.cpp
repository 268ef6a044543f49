#include "setup/packer.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>
#include <vector>

#include "setup/bundle.h"
#include "setup/file_io.h"
#include "setup/file_list.h"
#include "setup/launcher.h"
#include "setup/szdd.h"
#include "setup/wrap_error.h"

namespace wrap {
namespace {

[[noreturn]] void Refuse(const std::string& why) { throw EWrapError(EINVAL, why); }

std::vector<std::string> FolderFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) throw EWrapError(errno, folder);
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    struct stat st {};
    if (::stat((folder + "/" + name).c_str(), &st) != 0) throw EWrapError(errno, name);
    if (!S_ISREG(st.st_mode)) Refuse(name + " is not a plain file (sub-folders are not carried)");
    if (!IsPlainShortName(name)) Refuse(name + " is not an 8.3 file name");
  }
  return names;
}

// The launcher without any bundle a previous packing appended.
Bytes PlainLauncher(const std::string& path) {
  Bytes image = ReadWholeFile(path);
  try {
    const Bundle old = Bundle::Parse(image);
    image.resize(static_cast<std::size_t>(old.Start()));
  } catch (const EWrapError&) {
    // No bundle: the plain launcher.
  }
  return image;
}

}  // namespace

std::uint64_t ParseFileTime(const std::string& text) {
  long long seconds = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "@%lld%c", &seconds, &tail) == 1) {
    return UnixToFileTime(seconds, 0);
  }
  struct tm tm {};
  int n = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%dZ%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &n) == 6 &&
      n == static_cast<int>(text.size()) && tm.tm_year >= 1601) {
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return UnixToFileTime(static_cast<std::int64_t>(::timegm(&tm)), 0);
  }
  Refuse("file time \"" + text + "\" is neither YYYY-MM-DDTHH:MM:SSZ nor @seconds");
}

void Pack(const PackOptions& o) {
  if (o.title.empty() || o.title.size() > kTitleMax)
    Refuse("the title needs 1 to " + std::to_string(kTitleMax) + " bytes");
  if (o.question.empty() || o.question.size() > kTextMax)
    Refuse("the question needs 1 to " + std::to_string(kTextMax) + " bytes");
  if (o.failed.empty() || o.failed.size() > kTextMax)
    Refuse("the failure text needs 1 to " + std::to_string(kTextMax) + " bytes");

  const std::vector<std::string> names = FolderFiles(o.folder);
  if (std::find(names.begin(), names.end(), "SETUP.EXE") == names.end())
    Refuse(o.folder + " holds no SETUP.EXE");
  if (names.size() > 0xFFFFu - kRawFirstFile) Refuse("too many files");
  const std::set<std::string> present(names.begin(), names.end());
  for (const auto& name : names) {
    // The launcher writes X.TX_ beside the files already expanded.
    const std::string packed = CompressedName(name);
    if (packed != name && present.count(packed))
      Refuse(name + " would be stored as " + packed + ", which is another file's name");
  }

  BundleWriter bundle;
  bundle.AddString(kStringTitle, o.title);
  bundle.AddString(kStringQuestion, o.question);
  bundle.AddString(kStringFailed, o.failed);
  Bytes stamp;
  PutLE(stamp, o.fileTime, 8);
  bundle.Add(ResourceType::RawData, kRawFileTime, stamp);

  std::vector<FileRecord> records;
  auto number = kRawFirstFile;
  for (const auto& name : names) {
    const Bytes data = ReadWholeFile(o.folder + "/" + name);
    const Bytes packed = SzddCompress(data, name.back());
    bundle.Add(ResourceType::RawData, number, packed);
    records.push_back({number, static_cast<std::uint32_t>(packed.size()), CompressedName(name)});
    ++number;
  }
  bundle.Add(ResourceType::RawData, kRawFileList, BuildFileList(records));
  if (!o.icon.empty()) bundle.Add(ResourceType::IconGroup, 1, ReadWholeFile(o.icon));

  Bytes image = PlainLauncher(o.launcher);
  const Bytes tail = bundle.Build();
  image.insert(image.end(), tail.begin(), tail.end());
  // Written beside the target and renamed, so a failure leaves no half
  // launcher under the final name.
  const std::string temp = o.output + ".part";
  try {
    WriteWholeFile(temp, image, 0755);
    ::chmod(temp.c_str(), 0755);
    if (::rename(temp.c_str(), o.output.c_str()) != 0) throw EWrapError(errno, o.output);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
}

}  // namespace wrap
