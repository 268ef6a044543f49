#include "platform/file_lock.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/errors.h"
#include "tests/platform/temp_folder.h"

namespace {

// Takes the lock at `path`, says so in `path`.held and keeps it until killed.
[[noreturn]] void HoldUntilKilled(const std::string& path) {
  try {
    TFileLock lock(path);
    PutFile(path + ".held", "yes");
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  } catch (...) {
    std::_Exit(1);  // never on into the tests
  }
}

#ifdef _WIN32
constexpr char kHolderVariable[] = "TOLVANE_TEST_LOCK_HOLDER";

// The holder is this program started again with the lock's path in its
// environment: it holds the lock before any test runs.
[[maybe_unused]] const bool g_holder = [] {
  if (const char* path = std::getenv(kHolderVariable)) HoldUntilKilled(path);
  return false;
}();

class THolder {
 public:
  explicit THolder(const std::string& path) {
    EnvGuard env(kHolderVariable, path);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (!CreateProcessW(self, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
      std::abort();
  }
  void Kill() {
    TerminateProcess(pi_.hProcess, 9);
    WaitForSingleObject(pi_.hProcess, INFINITE);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
  }

 private:
  PROCESS_INFORMATION pi_{};
};
#else
class THolder {
 public:
  explicit THolder(const std::string& path) {
    pid_ = fork();
    if (pid_ == 0) HoldUntilKilled(path);
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};
#endif

bool WaitFor(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Another process's hold is tried, never waited on without asking; the
// system drops it when that process dies; holds within one process nest.
TEST(FileLock, AnotherProcessHoldsItUntilItDies) {
  TempFolder dir;
  const std::string path = dir / "Outbox.Lock";
  THolder holder(path);
  ASSERT_TRUE(WaitFor(path + ".held"));

  int tries = 0;
  try {
    TFileLock lock(path, [&tries] { return ++tries < 3; });
    FAIL() << "took a lock another process holds";
  } catch (const EFileError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot lock \"" + path + "\""), std::string::npos);
  }
  EXPECT_EQ(tries, 3);

  holder.Kill();
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  TFileLock lock(path, [give_up] { return std::chrono::steady_clock::now() < give_up; });
  EXPECT_NO_THROW(TFileLock nested(path, [] { return false; }));
}

}  // namespace
