#include "setup/payload.h"

#include "setup/szdd.h"
#include "setup/wrap_error.h"

namespace wrap {
namespace {

[[noreturn]] void Missing(const std::string& part) { ThrowInvalidData("Missing part: " + part); }

}  // namespace

std::string PartName(const Bundle& bundle, ResourceKey key) {
  const std::string number = std::to_string(key.id);
  switch (key.type) {
    case ResourceType::String:
      return "string " + number;
    case ResourceType::IconGroup:
      return "icon " + number;
    case ResourceType::RawData:
      break;
  }
  if (key.id == kRawFileTime) return "file time";
  if (key.id == kRawFileList) return "file list";
  try {
    if (auto list = bundle.Load(ResourceType::RawData, kRawFileList)) {
      for (const auto& r : ParseFileList(*list))
        if (r.number == key.id) return r.name;
    }
  } catch (const EWrapError&) {
    // A damaged list names nothing.
  }
  return "file " + number;
}

void CheckParts(const Bundle& bundle) {
  if (auto damaged = bundle.FindDamaged())
    ThrowInvalidData("Damaged part: " + PartName(bundle, *damaged));
}

std::vector<PayloadFile> ReadPayload(const Bundle& bundle) {
  const auto list = bundle.Load(ResourceType::RawData, kRawFileList);
  if (!list) Missing("file list");
  std::vector<FileRecord> records;
  try {
    records = ParseFileList(*list);
  } catch (const EWrapError&) {
    ThrowInvalidData("Damaged part: file list");
  }
  std::vector<PayloadFile> files;
  std::vector<PayloadName> names;
  for (const FileRecord& r : records) {
    const auto size = bundle.Size(ResourceType::RawData, r.number);
    if (!size) Missing(r.name);
    if (r.length > *size) ThrowInvalidData("Damaged part: file list (" + r.name + " too long)");
    auto head = *bundle.LoadHead(ResourceType::RawData, r.number, kSzddHeaderSize);
    head.resize(std::min<std::size_t>(head.size(), r.length));
    const auto header = ReadSzddHeader(head);
    if (!header) ThrowInvalidData(r.name + " is not a compressed file");
    PayloadFile f{r, ExpandedName(r.name, header->lastChar), header->length,
                  bundle.Mode(ResourceType::RawData, r.number)};
    names.push_back({r.name, f.expanded});
    files.push_back(std::move(f));
  }
  const std::string problem = NameProblem(names);
  if (!problem.empty()) ThrowInvalidData(problem);
  return files;
}

std::uint64_t ReadFileTime(const Bundle& bundle) {
  const auto stamp = bundle.Load(ResourceType::RawData, kRawFileTime);
  if (!stamp) Missing("file time");
  if (stamp->size() != 8) ThrowInvalidData("Damaged part: file time");
  return GetLE(*stamp, 0, 8);
}

}  // namespace wrap
