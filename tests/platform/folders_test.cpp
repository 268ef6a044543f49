#include "platform/folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace {

// Restores one environment variable at the end of a test.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v;
  }
  ~EnvGuard() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Folders, FolderOfPathKeepsTheSlash) {
  EXPECT_EQ(FolderOfPath("/usr/lib/tolvane/tolvane"), "/usr/lib/tolvane/");
  EXPECT_EQ(FolderOfPath("/tolvane"), "/");
  EXPECT_EQ(FolderOfPath("tolvane"), "tolvane");
  EXPECT_EQ(FolderOfPath("dir/"), "dir/");
}

TEST(Folders, ExecutableFolderIsTheTestsOwnFolder) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  const auto self = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(folder, self.parent_path().string() + "/");
}

TEST(Folders, ConfigFolderFollowsXdgConfigHome) {
  EnvGuard xdg("XDG_CONFIG_HOME");
  EnvGuard home("HOME");
  setenv("XDG_CONFIG_HOME", "/x/conf", 1);
  EXPECT_EQ(ConfigFolder(), "/x/conf/tolvane/");
  EXPECT_EQ(SettingsFilePath(), "/x/conf/tolvane/TOLVANE.INI");
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(ConfigFolder(), "/home/someone/.config/tolvane/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ConfigFolder(), "/home/someone/.config/tolvane/");
}

TEST(Folders, TempFolderFollowsTmpdir) {
  EnvGuard tmp("TMPDIR");
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(TempFolder(), "/var/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(TempFolder(), "/tmp/");
}

}  // namespace
