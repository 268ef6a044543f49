// The request channel's pipe on Windows: who may open it, and who may serve
// under its name.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/request_channel.h"
#include "net/event_loop.h"
#include "platform/instance_lock.h"
#include "platform/windows_api.h"
#include "tests/platform/temp_folder.h"

#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

namespace {

std::vector<unsigned char> ThisUsersSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  const bool read = size && GetTokenInformation(token, TokenUser, user.data(), size, &size);
  CloseHandle(token);
  if (!read) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const auto* bytes = static_cast<const unsigned char*>(sid);
  return {bytes, bytes + GetLengthSid(sid)};
}

void Ignore(const std::string&, TRequestServer::TReply) {}

TEST(RequestPipe, OneServerPerName) {
  // Measured: Wine 8 makes a second instance whatever the flags say.
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
    GTEST_SKIP() << "Wine ignores FILE_FLAG_FIRST_PIPE_INSTANCE";
  TempFolder dir;
  const std::string name = InstancePipeName(dir / "channel");
  const TRequestServer server(name, Ignore);
  ASSERT_TRUE(server.Listening());
  // A second server under the name, whoever's, would take clients meant for the first.
  EXPECT_FALSE(TRequestServer(name, Ignore).Listening());
}

TEST(RequestPipe, AdmitsThisUserAlone) {
  TempFolder dir;
  const std::string name = InstancePipeName(dir / "channel");
  TRequestServer server(name, Ignore);
  ASSERT_TRUE(server.Listening());
  server.SetStallTimeout(200);

  HANDLE pipe = CreateFileW(WideText(name).c_str(), READ_CONTROL | GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const std::unique_ptr<void, decltype(&LocalFree)> guard(descriptor, &LocalFree);
  CloseHandle(pipe);
  ASSERT_NE(dacl, nullptr);  // a null DACL would admit everyone
  ASSERT_EQ(dacl->AceCount, 1);
  ACE_HEADER* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
  ASSERT_EQ(ace->AceType, ACCESS_ALLOWED_ACE_TYPE);
  const PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
  std::vector<unsigned char> user = ThisUsersSid();
  ASSERT_FALSE(user.empty());
  EXPECT_TRUE(EqualSid(sid, user.data()));
}

// Runs tolvane.exe with `args`, its folder given, while this thread runs the
// loop; its exit code and what it printed (a console's lines end in CR LF).
std::pair<DWORD, std::string> RunTolvane(const std::string& args, const TempFolder& dir) {
  std::string exe = std::string(TOLVANE_BIN_DIR) + "/tolvane.exe";
  if (exe.front() == '/') exe = "Z:" + exe;  // the build folder, seen from Wine
  for (char& c : exe) c = c == '/' ? '\\' : c;
  std::wstring line = WideText("\"" + exe + "\" " + args);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(WideText(dir / "out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                           &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = out;
  PROCESS_INFORMATION child{};
  const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &child);
  CloseHandle(out);
  if (!started) return {GetLastError(), "not started"};
  CloseHandle(child.hThread);
  for (int i = 0; i < 4000 && WaitForSingleObject(child.hProcess, 5) == WAIT_TIMEOUT; ++i)
    PumpEvents();
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hProcess);
  return {code, GetFile(dir / "out.txt")};
}

// The program's own command line finds a tray program that named the
// channel after its module's path, and ends with the answer's code.
TEST(RequestPipe, TolvaneExeHandsOverAndEndsWithTheAnswersCode) {
  TempFolder dir;
  EnvGuard state("LOCALAPPDATA", dir.path());
  std::vector<std::string> urls;
  const TRequestServer server(
      RequestSocketPath("C:\\Program Files\\Tolvane\\Tolvane.EXE"),
      [&urls](const std::string& url, TRequestServer::TReply reply) {
        urls.push_back(url);
        reply({kRequestKept, "kept: the line is down"});
      },
      [](const std::string&, TRequestServer::TReply reply) {
        reply({kRequestSent, "nothing waits"});
      });
  ASSERT_TRUE(server.Listening());
  EXPECT_EQ(RunTolvane("--request http://host/page", dir),
            std::make_pair(DWORD{kRequestKept}, std::string("kept: the line is down\r\n")));
  EXPECT_EQ(urls, std::vector<std::string>{"http://host/page"});
  EXPECT_EQ(RunTolvane("--flush", dir),
            std::make_pair(DWORD{kRequestSent}, std::string("nothing waits\r\n")));
}

}  // namespace
