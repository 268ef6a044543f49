// The Remote Access Service, bound at run time: a system without
// rasapi32.dll (or with an older one) still runs, and only a set dial-up
// entry fails, with the name of what is missing. Windows only.
#pragma once

#include <memory>
#include <string>
#include <vector>

class TRasApi {
 public:
  // Raises EError naming the DLL or the function that cannot be found.
  explicit TRasApi(const std::wstring& dll = L"rasapi32.dll");
  ~TRasApi();
  TRasApi(const TRasApi&) = delete;
  TRasApi& operator=(const TRasApi&) = delete;

  // The phone book's entry names (UTF-8).
  std::vector<std::string> Entries() const;
  // The open connection of `entry`, or nullptr.
  void* FindConnection(const std::string& entry) const;
  // Dials `entry` and returns once it is connected (raises on failure).
  void* Dial(const std::string& entry) const;
  // Hangs up and waits a short while for the line to come down.
  void HangUp(void* connection) const;

 private:
  struct Functions;
  void* module_ = nullptr;
  std::unique_ptr<Functions> f_;
};
