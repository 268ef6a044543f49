// wrap-pack.exe and a launcher it packed, run as Windows programs.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "setup/process.h"
#include "test_util.h"

using wrap::Bytes;

namespace {

std::string Program(const std::string& name) { return std::string(WRAP_BIN_DIR) + "/" + name; }

int RunProgram(const std::vector<std::string>& args) {
  wrap::Child child;
  if (child.Start(args[0], args) != 0) return -100;
  return child.Wait();
}

class WrapExeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(product_);
    std::filesystem::create_directory(tmp_);
    wraptest::WriteFile(product_ + "/DATA.BIN", data_);
  }
  // Packs the product folder with SETUP.EXE holding setup.
  void Pack(const Bytes& setup) {
    wraptest::WriteFile(product_ + "/SETUP.EXE", setup);
    ASSERT_EQ(RunProgram({Program("wrap-pack.exe"), "--title", "Setup - Ravelin", "--question",
                          "Install Ravelin?", product_, packed_}),
              0);
  }
  std::string Record() {
    const Bytes r = wraptest::ReadFile(record_);
    return std::string(r.begin(), r.end());
  }

  TempFolder root_;
  std::string product_ = root_ / "product";
  std::string tmp_ = root_ / "tmp";
  std::string record_ = root_ / "record";
  std::string packed_ = root_ / "RAVELIN.EXE";
  Bytes data_ = wraptest::Mixed(120000, 31);
  EnvGuard recordName_{"WRAP_TEST_RECORD", record_};
  // GetTempPathW reads TMP first.
  EnvGuard temp_{"TMP", tmp_};
};

}  // namespace

TEST_F(WrapExeTest, RunsSetupWithItsArgumentsAndRemovesTheFolderWhenSetupFails) {
  Pack(wraptest::ReadFile(WRAP_FAKE_SETUP));
  // The fake SETUP.EXE exits with 3: the launcher still cleans up.
  const std::vector<std::string> extra = {"two words", "quote\"d", "trailing\\", ""};
  std::vector<std::string> args = {packed_, "--accept", "--"};
  args.insert(args.end(), extra.begin(), extra.end());
  EXPECT_EQ(RunProgram(args), 0);
  const std::string record = Record();
  EXPECT_NE(record.find("_INST0\nargs=4\narg=two words\narg=quote\"d\narg=trailing\\\narg=\n"
                        "DATA.BIN\nSETUP.EXE\n"),
            std::string::npos)
      << record;
  EXPECT_EQ(wraptest::ReadFile(record_ + ".data"), data_);
  EXPECT_EQ(EntryCount(tmp_), 0);
}

TEST_F(WrapExeTest, ASetupThatCannotStartFailsAndLeavesNothing) {
  Pack(Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'e', 'x', 'e'});
  EXPECT_EQ(RunProgram({packed_, "--accept"}), 1);
  EXPECT_FALSE(std::filesystem::exists(record_));
  EXPECT_EQ(EntryCount(tmp_), 0);
}

// The setup program and what it started end with a launcher that is killed.
TEST_F(WrapExeTest, KillingTheLauncherEndsTheSetupProgram) {
  Pack(wraptest::ReadFile(WRAP_FAKE_SETUP));
  EnvGuard hang("WRAP_TEST_HANG", "1");
  std::wstring line =
      std::filesystem::u8path(wrap::QuoteArguments({packed_, "--accept"})).wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION launcher{};
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &launcher));
  ::CloseHandle(launcher.hThread);
  DWORD pid = 0;
  for (int i = 0; i < 400 && pid == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pid = static_cast<DWORD>(std::strtoul(Record().c_str(), nullptr, 10));
  }
  ASSERT_NE(pid, 0u) << "SETUP.EXE did not start";
  HANDLE setup = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(::WaitForSingleObject(setup, 200), static_cast<DWORD>(WAIT_TIMEOUT));
  ::TerminateProcess(launcher.hProcess, 9);
  ::WaitForSingleObject(launcher.hProcess, 10000);
  const DWORD ended = ::WaitForSingleObject(setup, 10000);
  EXPECT_EQ(ended, static_cast<DWORD>(WAIT_OBJECT_0));
  if (ended != WAIT_OBJECT_0) ::TerminateProcess(setup, 1);  // left running: not by us
  ::CloseHandle(setup);
  ::CloseHandle(launcher.hProcess);
  // Killed, the launcher could not clean up.
  std::filesystem::remove_all(tmp_);
}

// Arguments arrive as UTF-8 whatever the code page, and paths reach the
// file system whole; both programs declare UTF-8 as their code page.
TEST_F(WrapExeTest, UnicodeArgumentsAndTheUtf8Manifest) {
  Pack(wraptest::ReadFile(WRAP_FAKE_SETUP));
  const std::string target = root_ / "\xC3\xBCn\xC3\xAF-\xE7\x9B\xAE\xE6\xA8\x99";
  EXPECT_EQ(RunProgram({packed_, "--target", target}), 0);
  // Opened by its wide name: a narrow one would go through the test's own
  // code page.
  std::ifstream in(std::filesystem::u8path(target + "/DATA.BIN"), std::ios::binary);
  const Bytes unpacked{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(unpacked, data_);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(target + "/SETUP.EXE")));

  for (const char* name : {"wrap.exe", "wrap-pack.exe"}) {
    const std::wstring path = std::filesystem::u8path(Program(name)).wstring();
    HMODULE image = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr) << name;
    HRSRC found = ::FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << name;
    const char* text = static_cast<const char*>(::LockResource(::LoadResource(image, found)));
    const std::string manifest(text, ::SizeofResource(image, found));
    EXPECT_NE(manifest.find("<activeCodePage"), std::string::npos) << name;
    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos) << name;
    ::FreeLibrary(image);
  }
}
