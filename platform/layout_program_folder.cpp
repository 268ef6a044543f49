// Everything in the executable's folder, as on the system the program was
// first written for: data beside the program, and what it writes too.
#include "platform/file_layout.h"

namespace {

class TProgramFolderLayout final : public TFileLayout {
 public:
  explicit TProgramFolderLayout(std::string folder) : folder_(std::move(folder)) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
  }

  const std::string& WriteFolder() const override { return folder_; }
  std::string DataFile(const std::string& name) const override { return folder_ + name; }
  std::string UserDataFile(const std::string& name) const override { return folder_ + name; }
  std::string ShippedDataFile(const std::string& name) const override { return folder_ + name; }

 private:
  std::string folder_;
};

}  // namespace

std::unique_ptr<TFileLayout> MakeProgramFolderLayout(std::string folder) {
  return std::make_unique<TProgramFolderLayout>(std::move(folder));
}
