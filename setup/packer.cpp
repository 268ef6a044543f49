#include "setup/packer.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "setup/bundle.h"
#include "setup/civil_time.h"
#include "setup/file_io.h"
#include "setup/file_list.h"
#include "setup/folders.h"
#include "setup/launcher.h"
#include "setup/payload.h"
#include "setup/szdd.h"
#include "setup/wrap_error.h"

namespace wrap {
namespace {

[[noreturn]] void Refuse(const std::string& why) { throw EWrapError(EINVAL, why); }

struct ProductFile {
  std::string name;
  std::uint16_t mode;
};

std::vector<ProductFile> FolderFiles(const std::string& folder) {
  std::vector<ProductFile> files;
  std::vector<PayloadName> payload;
  for (const auto& entry : ListFolder(folder)) {
    const std::string& name = entry.name;
    if (!entry.plainFile) Refuse(name + " is not a plain file (sub-folders are not carried)");
    files.push_back({name, entry.mode});
    payload.push_back({CompressedName(name), name});
  }
  // The launcher's own rule: what it would refuse is never packed.
  const std::string problem = NameProblem(payload);
  if (!problem.empty()) Refuse(problem);
  return files;
}

// Copies the launcher without any bundle a previous packing appended.
void CopyPlainLauncher(const std::string& path, int out) {
  std::uint64_t size = 0;
  try {
    size = Bundle::Open(path).Start();
  } catch (const EWrapError& e) {
    if (e.Code() != kInvalidData) throw;
    UniqueFd fd = OpenRead(path);
    size = FileSize(fd.Get(), path);
  }
  UniqueFd in = OpenRead(path);
  Bytes buf(1 << 16);
  for (std::uint64_t done = 0; done < size;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size - done));
    ReadAllAt(in.Get(), done, buf.data(), n);
    WriteAll(out, ByteView(buf.data(), n));
    done += n;
  }
}

}  // namespace

std::uint64_t ParseFileTime(const std::string& text) {
  long long seconds = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "@%lld%c", &seconds, &tail) == 1) {
    return UnixToFileTime(seconds, 0);
  }
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, n = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%dZ%n", &year, &month, &day, &hour, &minute,
                  &second, &n) == 6 &&
      n == static_cast<int>(text.size()) && year >= 1601) {
    // Fields out of range carry over, as with timegm.
    const std::int64_t days = DaysFromCivil(year, month, day);
    return UnixToFileTime(days * 86400 + hour * 3600LL + minute * 60LL + second, 0);
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

  const std::vector<ProductFile> files = FolderFiles(o.folder);
  if (std::none_of(files.begin(), files.end(), [](const auto& f) { return f.name == "SETUP.EXE"; }))
    Refuse(o.folder + " holds no SETUP.EXE");
  if (files.size() > 0xFFFFu - kRawFirstFile) Refuse("too many files");

  // Written beside the target and renamed, so a failure leaves no half
  // launcher under the final name.
  const std::string temp = o.output + ".part";
  try {
    UniqueFd out = CreateFile(temp, 0755);
    CopyPlainLauncher(o.launcher, out.Get());
    BundleWriter bundle([&](ByteView b) { WriteAll(out.Get(), b); });
    bundle.AddString(kStringTitle, o.title);
    bundle.AddString(kStringQuestion, o.question);
    bundle.AddString(kStringFailed, o.failed);
    Bytes stamp;
    PutLE(stamp, o.fileTime, 8);
    bundle.Add(ResourceType::RawData, kRawFileTime, stamp);

    // One file at a time, its compressed bytes straight to the output.
    std::vector<FileRecord> records;
    auto number = kRawFirstFile;
    for (const auto& f : files) {
      const Bytes data = ReadWholeFile(o.folder + "/" + f.name);
      std::uint32_t length = 0;
      bundle.Begin(ResourceType::RawData, number, f.mode);
      SzddCompress(data, f.name.back(), [&](ByteView b) {
        bundle.Write(b);
        length += static_cast<std::uint32_t>(b.size());
      });
      bundle.End();
      records.push_back({number, length, CompressedName(f.name)});
      ++number;
    }
    bundle.Add(ResourceType::RawData, kRawFileList, BuildFileList(records));
    if (!o.icon.empty()) bundle.Add(ResourceType::IconGroup, 1, ReadWholeFile(o.icon));
    bundle.Finish();
    out.Close();
    SetMode(temp, 0755);
    if (const int err = ReplaceWith(temp, o.output)) throw EWrapError(err, o.output);
  } catch (...) {
    RemoveFile(temp);
    throw;
  }
}

}  // namespace wrap
