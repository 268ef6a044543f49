// The Windows build's mail tests expect of a few extensions the types that
// Debian's /etc/mime.types gives the Linux build. Wine's registry lacks some
// and differs on others (.zip is application/x-zip-compressed there), so
// each test process sets them where the lookup reads first: the user's
// classes.
#ifdef _WIN32
#include <windows.h>

#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace {

class SystemTypes : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::pair<const wchar_t*, std::wstring> types[] = {
        {L".pdf", L"application/pdf"}, {L".zip", L"application/zip"}, {L".eml", L"message/rfc822"}};
    for (const auto& [ext, type] : types) {
      HKEY key = nullptr;
      const std::wstring path = std::wstring(L"Software\\Classes\\") + ext;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr),
                ERROR_SUCCESS);
      RegSetValueExW(key, L"Content Type", 0, REG_SZ, reinterpret_cast<const BYTE*>(type.c_str()),
                     static_cast<DWORD>((type.size() + 1) * sizeof(wchar_t)));
      RegCloseKey(key);
    }
  }
};

[[maybe_unused]] ::testing::Environment* const kSystemTypes =
    ::testing::AddGlobalTestEnvironment(new SystemTypes);

}  // namespace
#endif
