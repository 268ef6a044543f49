// The request channel's pipe on Windows: who may open it, and who may serve
// under its name.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/request_channel.h"
#include "platform/instance_lock.h"
#include "platform/windows_api.h"
#include "tests/platform/temp_folder.h"

#include <windows.h>
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

}  // namespace
