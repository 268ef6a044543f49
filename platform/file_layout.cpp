#include "platform/file_layout.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

std::mutex& LayoutMutex() {
  static std::mutex m;
  return m;
}

std::unique_ptr<TFileLayout>& LayoutSlot() {
  static std::unique_ptr<TFileLayout> layout;
  return layout;
}

}  // namespace

std::unique_ptr<TFileLayout> ChooseFileLayout(const std::string& executableFolder) {
  // Decided by what is there, never by the folder's name or a build switch.
  if (FileExists(executableFolder + "uservers.dat")) {
    return MakeProgramFolderLayout(executableFolder);
  }
  return MakeInstalledLayout(executableFolder);
}

const TFileLayout& FileLayout() {
  std::lock_guard lock(LayoutMutex());
  auto& slot = LayoutSlot();
  if (!slot) slot = ChooseFileLayout(ExecutableFolder());
  return *slot;
}

void SetFileLayout(std::unique_ptr<TFileLayout> layout) {
  std::lock_guard lock(LayoutMutex());
  LayoutSlot() = std::move(layout);
}

std::string MakeUserCopy(const std::string& name) {
  const TFileLayout& layout = FileLayout();
  const std::string own = layout.UserDataFile(name);
  if (FileExists(own)) return own;
  const std::string shipped = layout.ShippedDataFile(name);
  const std::string folder = FolderOfPath(own);
  if (!MakeFolders(folder, 0700)) {
    throw EFileError("Cannot create folder \"" + folder + "\": " + std::strerror(errno));
  }
  ReplaceFileAtomically(own, ReadWholeFile(shipped).value_or(std::string()));
  return own;
}

std::string DataFilePath(const std::string& name) { return FileLayout().DataFile(name); }
