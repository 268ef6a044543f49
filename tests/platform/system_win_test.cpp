// The Windows twins that talk to the system: the instance mutex and its
// pipe, the Run key and the registry's file types, in Wine's registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/autostart.h"
#include "platform/instance_lock.h"
#include "platform/mime_types.h"
#include "tests/platform/temp_folder.h"

namespace {

using State = InstanceLock::State;

TEST(InstanceLockWin, ASecondHolderIsRefusedUntilTheFirstCloses) {
  TempFolder dir;
  const std::string path = dir / "tolvane.lock";
  {
    InstanceLock first(path);
    ASSERT_EQ(first.GetState(), State::Held) << first.Error();
    // Another spelling of the same path on this system is the same lock.
    std::string other = path;
    for (char& c : other) c = c == '/' ? '\\' : static_cast<char>(std::toupper(c));
    EXPECT_EQ(InstanceLock(other).GetState(), State::HeldByOther);
    EXPECT_EQ(InstanceLock(dir / "other.lock").GetState(), State::Held);
    first.Release();
    InstanceLock again(path);
    EXPECT_EQ(again.GetState(), State::Held);
    EXPECT_EQ(InstanceLock(path).GetState(), State::HeldByOther);
  }
  EXPECT_EQ(InstanceLock(path).GetState(), State::Held);
  const InstanceLock none("");
  EXPECT_EQ(none.GetState(), State::Failed);
  EXPECT_FALSE(none.Error().empty());
}

TEST(InstanceLockWin, AnotherProcessIsRefusedToo) {
  // No file is made, so the folder need not exist; a fixed path, as the
  // child process runs this test again from its start.
  const std::string path = "C:/no/such/folder/tolvane-probe.lock";
  InstanceLock held(path);
  EXPECT_EXIT(std::exit(InstanceLock(path).GetState() == State::HeldByOther ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(held.GetState(), State::Held);
}

TEST(InstanceLockWin, ThePipesPeerIsThisUser) {
  TempFolder dir;
  const std::string name = InstancePipeName(dir / "tolvane");
  EXPECT_EQ(name.rfind("\\\\.\\pipe\\Tolvane-", 0), 0u) << name;
  EXPECT_EQ(InstancePipeName(""), "");
  const std::wstring wide(name.begin(), name.end());
  HANDLE server =
      CreateNamedPipeW(wide.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                       PIPE_TYPE_BYTE | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  HANDLE client = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(PeerIsSameUser(server));
  EXPECT_TRUE(PeerIsSameUser(client));
  // A handle that is no pipe has no peer to trust.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(PeerIsSameUser(event));
  CloseHandle(event);
  CloseHandle(client);
  CloseHandle(server);
}

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring RegistryText(HKEY root, const wchar_t* key, const wchar_t* value) {
  wchar_t text[1024];
  DWORD size = sizeof text;
  if (RegGetValueW(root, key, value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return L"<none>";
  }
  return text;
}

TEST(AutostartWin, TheRunValueRoundTrips) {
  const std::string appId = "org.tolvane.TolvaneTest";
  DisableAutostart(appId);
  EXPECT_FALSE(AutostartEnabled(appId));
  EnableAutostart(appId, "C:/Programme/T\xC3\xB6lvane Test/tolvane.exe");
  EXPECT_TRUE(AutostartEnabled(appId));
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kRunKey, L"TolvaneTest"),
            L"\"C:\\Programme\\T\u00F6lvane Test\\tolvane.exe\" /s");
  DisableAutostart(appId);
  EXPECT_FALSE(AutostartEnabled(appId));
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kRunKey, L"TolvaneTest"), L"<none>");
  EXPECT_NO_THROW(DisableAutostart(appId));
}

TEST(MimeTypesWin, TheUsersClassesAreRead) {
  constexpr wchar_t kKey[] = L"Software\\Classes\\.tolvanetest";
  const auto put = [](const wchar_t* key, const wchar_t* type) {
    const auto bytes = static_cast<DWORD>((wcslen(type) + 1) * sizeof(wchar_t));
    return RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Content Type", REG_SZ, type, bytes);
  };
  ASSERT_EQ(put(kKey, L"application/x-tolvane-test"), ERROR_SUCCESS);
  ASSERT_EQ(put(L"Software\\Classes\\.tolvanetest\\sub", L"text/x-deeper"), ERROR_SUCCESS);
  EXPECT_EQ(MimeTypeOfExtension(".TolvaneTest"), "application/x-tolvane-test");
  EXPECT_EQ(MimeTypeOfExtension("tolvanetest"), "application/x-tolvane-test");
  // An extension cannot reach into a key below.
  EXPECT_EQ(MimeTypeOfExtension("tolvanetest\\sub"), "");
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
  EXPECT_EQ(MimeTypeOfExtension("tolvanetest"), "");
  EXPECT_EQ(MimeTypeOfExtension("."), "");
  // The machine's own types, as Windows and Wine register them.
  EXPECT_EQ(MimeTypeOfExtension("txt"), "text/plain");
}

}  // namespace
