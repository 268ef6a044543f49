// Installed under a prefix that the user cannot write: shipped data read
// from <prefix>/share/tolvane/, the user's copies from the configuration
// folder, and everything written in the state folder.
#include <filesystem>

#include "platform/file_layout.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

#ifndef TOLVANE_DATA_FROM_BIN
#define TOLVANE_DATA_FROM_BIN "../share/tolvane/"
#endif

// <prefix>/share/tolvane/ from <prefix>/bin/.
std::string ShareFolderFor(const std::string& bin) {
  // UTF-8 in and out, with "/" between names on Windows too.
  const std::filesystem::path share =
      (std::filesystem::path(std::u8string(bin.begin(), bin.end())) / TOLVANE_DATA_FROM_BIN)
          .lexically_normal();
  const std::u8string generic = share.generic_u8string();
  std::string folder(generic.begin(), generic.end());
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

class TInstalledLayout final : public TFileLayout {
 public:
  explicit TInstalledLayout(const std::string& prefixBin)
      : share_(ShareFolderFor(prefixBin)), state_(StateFolder()) {
    // Logs and history are the user's own business: 0700, parents too, as
    // the base-directory rules ask for folders they create.
    MakeFolders(state_, 0700);
  }

  const std::string& WriteFolder() const override { return state_; }

  std::string DataFile(const std::string& name) const override {
    const std::string own = UserDataFile(name);
    return FileExists(own) ? own : ShippedDataFile(name);
  }

  std::string UserDataFile(const std::string& name) const override { return ConfigFolder() + name; }

  std::string ShippedDataFile(const std::string& name) const override { return share_ + name; }

 private:
  std::string share_;
  std::string state_;
};

}  // namespace

std::unique_ptr<TFileLayout> MakeInstalledLayout(const std::string& prefixBin) {
  return std::make_unique<TInstalledLayout>(prefixBin);
}
