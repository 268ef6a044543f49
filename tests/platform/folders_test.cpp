#include "platform/folders.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/file_layout.h"
#include "tests/platform/temp_folder.h"

namespace {

#ifdef _WIN32
constexpr char kConfigVariable[] = "APPDATA";
constexpr char kStateVariable[] = "LOCALAPPDATA";
const std::string kOwn = "Tolvane";
#else
constexpr char kConfigVariable[] = "XDG_CONFIG_HOME";
constexpr char kStateVariable[] = "XDG_STATE_HOME";
const std::string kOwn = "tolvane";
#endif

TEST(Folders, FolderOfPathKeepsTheSlash) {
  EXPECT_EQ(FolderOfPath("/usr/lib/tolvane/tolvane"), "/usr/lib/tolvane/");
  EXPECT_EQ(FolderOfPath("/tolvane"), "/");
  EXPECT_EQ(FolderOfPath("tolvane"), "tolvane");
  EXPECT_EQ(FolderOfPath("dir/"), "dir/");
#ifdef _WIN32
  EXPECT_EQ(FolderOfPath("C:\\Program Files\\Tolvane\\tolvane.exe"),
            "C:\\Program Files\\Tolvane\\");
#else
  EXPECT_EQ(FolderOfPath("dir\\name"), "dir\\name");
#endif
}

TEST(Folders, ExecutableFolderIsTheTestsOwnFolder) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
#ifdef _WIN32
  EXPECT_EQ(folder.find('\\'), std::string::npos) << folder;
  EXPECT_TRUE(std::filesystem::is_regular_file(folder + "platform_tests.exe")) << folder;
#else
  const auto self = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(folder, self.parent_path().string() + "/");
#endif
}

#ifdef _WIN32
// A user folder from the environment as it is set, or else the known folder
// (never a relative value, which would move with the current folder).
void ExpectFollows(const char* variable, std::string (*folder)()) {
  {
    EnvGuard set(variable, "C:\\x\\conf");
    EXPECT_EQ(folder(), "C:/x/conf/Tolvane/");
  }
  EnvGuard relative(variable, "relative\\ignored");
  const std::string known = folder();
  EXPECT_TRUE(std::filesystem::path(known).is_absolute()) << known;
  EXPECT_EQ(known.find("relative"), std::string::npos) << known;
  EXPECT_TRUE(known.ends_with("/Tolvane/")) << known;
}

TEST(Folders, ConfigAndStateFoldersFollowAppDataAndLocalAppData) {
  ExpectFollows("APPDATA", ConfigFolder);
  ExpectFollows("LOCALAPPDATA", StateFolder);
  EnvGuard roaming("APPDATA", "C:\\roaming");
  EnvGuard local("LOCALAPPDATA", "C:\\local");
  EXPECT_EQ(SettingsFilePath(), "C:/roaming/Tolvane/TOLVANE.INI");
  EXPECT_EQ(StateFolder(), "C:/local/Tolvane/");
}

TEST(Folders, TempFolderFollowsTmp) {
  EnvGuard tmp("TMP", "C:\\some\\tmp");
  EXPECT_EQ(TempFolder(), "C:/some/tmp/");
}
#else

TEST(Folders, ConfigFolderFollowsXdgConfigHome) {
  EnvGuard xdg("XDG_CONFIG_HOME", "/x/conf");
  EnvGuard home("HOME");
  EXPECT_EQ(ConfigFolder(), "/x/conf/tolvane/");
  EXPECT_EQ(SettingsFilePath(), "/x/conf/tolvane/TOLVANE.INI");
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(ConfigFolder(), "/home/someone/.config/tolvane/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ConfigFolder(), "/home/someone/.config/tolvane/");
}

TEST(Folders, StateFolderFollowsXdgStateHome) {
  EnvGuard xdg("XDG_STATE_HOME", "/x/state/");
  EnvGuard home("HOME", "/home/someone");
  EXPECT_EQ(StateFolder(), "/x/state/tolvane/");
  unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(StateFolder(), "/home/someone/.local/state/tolvane/");
}

TEST(Folders, TempFolderFollowsTmpdir) {
  EnvGuard tmp("TMPDIR", "/var/tmp");
  EXPECT_EQ(TempFolder(), "/var/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(TempFolder(), "/tmp/");
}
#endif

#ifndef _WIN32
int ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}
#endif

// An installed tree under a private prefix, with the user's folders beside it.
class InstalledTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir / "usr/bin");
    std::filesystem::create_directories(dir / "usr/share/tolvane");
    std::filesystem::create_directories(dir / ("config/" + kOwn));
    PutFile(dir / "usr/share/tolvane/uservers.dat", "shipped");
    PutFile(dir / "usr/share/tolvane/nbinary.ext", "shipped");
  }

  class TempFolder dir;  // the fixture class, not the function of folders.h
  EnvGuard config_{kConfigVariable, dir / "config"};
  EnvGuard state_{kStateVariable, dir / "state"};
};

TEST_F(InstalledTree, AFolderWithTheServerListIsAProgramFolder) {
  PutFile(dir / "usr/bin/uservers.dat", "beside");
  const auto layout = ChooseFileLayout(dir / "usr/bin/");
  EXPECT_EQ(layout->WriteFolder(), dir / "usr/bin/");
  EXPECT_EQ(layout->DataFile("uservers.dat"), dir / "usr/bin/uservers.dat");
  EXPECT_EQ(layout->UserDataFile("uservers.dat"), dir / "usr/bin/uservers.dat");
  EXPECT_FALSE(std::filesystem::exists(dir / "state"));
}

TEST_F(InstalledTree, ShippedDataUnderThePrefixUsersCopiesWinFileByFile) {
  const auto layout = ChooseFileLayout(dir / "usr/bin/");
  EXPECT_EQ(GetFile(layout->DataFile("uservers.dat")), "shipped");
  EXPECT_EQ(layout->UserDataFile("uservers.dat"), dir / ("config/" + kOwn + "/uservers.dat"));
  PutFile(dir / ("config/" + kOwn + "/uservers.dat"), "mine");
  EXPECT_EQ(GetFile(layout->DataFile("uservers.dat")), "mine");
  EXPECT_EQ(GetFile(layout->DataFile("nbinary.ext")), "shipped");
  EXPECT_EQ(layout->ShippedDataFile("uservers.dat"), dir / "usr/share/tolvane/uservers.dat");
}

TEST_F(InstalledTree, WritesGoToAPrivateStateFolder) {
  const auto layout = ChooseFileLayout(dir / "usr/bin/");
  EXPECT_EQ(layout->WriteFolder(), dir / ("state/" + kOwn + "/"));
#ifdef _WIN32
  // Modes mean nothing there: the folder takes its parent's access list.
  EXPECT_TRUE(std::filesystem::is_directory(dir / "state/Tolvane"));
#else
  EXPECT_EQ(ModeOf(dir / "state/tolvane"), 0700);
  EXPECT_EQ(ModeOf(dir / "state"), 0700);
#endif
}

TEST(Folders, MakeFoldersRefusesAFileInTheWay) {
  class TempFolder dir;  // the fixture class, not the function of folders.h
  PutFile(dir / "file", "x");
  EXPECT_FALSE(MakeFolders(dir / "file/sub/", 0700));
  EXPECT_FALSE(MakeFolders(dir / "file", 0700));
  EXPECT_TRUE(MakeFolders(dir / "a/b/c", 0755));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
}

}  // namespace
