#include "app/secrets.h"

#include <windows.h>
#include <wincred.h>

#include <cstring>
#include <system_error>
#include <thread>

#include "platform/errors.h"
#include "platform/windows_api.h"

namespace {

// One generic credential per account, under the name that cmdkey is told.
std::string TargetName(const std::string& host, const std::string& user) {
  return KeyringService(host) + "/" + user;
}

std::string SystemText(DWORD code) {
  return std::system_category().message(static_cast<int>(code));
}

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

class THandle {
 public:
  THandle() = default;
  explicit THandle(HANDLE h) : h_(h) {}
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() { Close(); }
  void Close() {
    if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = nullptr;
  }
  HANDLE get() const { return h_; }
  HANDLE* out() { return &h_; }

 private:
  HANDLE h_ = nullptr;
};

// A pipe whose write end the child inherits; the read end is drained on a
// thread of its own so that neither of the child's outputs fills and stalls it.
struct TChildPipe {
  THandle read, write;
  std::string text;
  std::thread reader;

  explicit TChildPipe(SECURITY_ATTRIBUTES& inherit) {
    if (!CreatePipe(read.out(), write.out(), &inherit, 0))
      throw EError("Unable to start the password command: " + SystemText(GetLastError()));
    SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
  }
  ~TChildPipe() {
    if (reader.joinable()) reader.join();
  }
  void Drain() {
    write.Close();  // the child holds its own copy
    reader = std::thread([this] {
      char buf[4096];
      DWORD n = 0;
      while (ReadFile(read.get(), buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    });
  }
  std::string Take() {
    if (reader.joinable()) reader.join();
    return text;
  }
};

// A job that takes the command's own children down with it.
HANDLE KillingJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

}  // namespace

std::string StorePasswordCommand(const std::string& host, const std::string& user) {
  return "cmdkey /generic:" + TargetName(host, user) + " /user:" + user + " /pass";
}

// The secret is kept as UTF-16, as cmdkey keeps it.
void StorePassword(const std::string& host, const std::string& user, const std::string& password) {
  std::wstring target = WideText(TargetName(host, user));
  std::wstring name = WideText(user);
  std::wstring secret = WideText(password);
  CREDENTIALW cred{};
  cred.Type = CRED_TYPE_GENERIC;
  cred.TargetName = target.data();
  cred.UserName = name.data();
  cred.CredentialBlobSize = static_cast<DWORD>(secret.size() * sizeof(wchar_t));
  cred.CredentialBlob = reinterpret_cast<LPBYTE>(secret.data());
  cred.Persist = CRED_PERSIST_LOCAL_MACHINE;
  if (!CredWriteW(&cred, 0)) {
    throw EError("Unable to store the password in the keyring: " + SystemText(GetLastError()));
  }
}

TKeyringRead ReadStoredPassword(const std::string& host, const std::string& user) {
  TKeyringRead result;
  PCREDENTIALW cred = nullptr;
  if (!CredReadW(WideText(TargetName(host, user)).c_str(), CRED_TYPE_GENERIC, 0, &cred)) {
    const DWORD code = GetLastError();
    if (code != ERROR_NOT_FOUND) result.problem = SystemText(code);
    return result;
  }
  std::wstring secret(cred->CredentialBlobSize / sizeof(wchar_t), L'\0');
  if (!secret.empty()) std::memcpy(secret.data(), cred->CredentialBlob, secret.size() * 2);
  CredFree(cred);
  result.password = Utf8Text(secret);
  return result;
}

std::string RunPasswordCommand(const std::string& command, int timeoutMs) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  TChildPipe out(inherit), err(inherit);
  THandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul.get();
  si.hStdOutput = out.write.get();
  si.hStdError = err.write.get();
  // With /s cmd takes off only the outer quotes we add, so a command that
  // begins with a quoted program path keeps its own.
  std::wstring line = L"cmd.exe /d /s /c \"" + WideText(command) + L"\"";
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
    throw EError("Unable to start the password command: " + SystemText(GetLastError()));
  }
  THandle process(pi.hProcess), thread(pi.hThread), job(KillingJob());
  if (job.get()) AssignProcessToJobObject(job.get(), process.get());
  ResumeThread(thread.get());
  out.Drain();
  err.Drain();
  if (WaitForSingleObject(process.get(), static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT) {
    if (job.get()) TerminateJobObject(job.get(), 1);
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 1000);
    throw EError("The password command did not finish in " + std::to_string(timeoutMs / 1000) +
                 " s");
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  if (code != 0) {
    const std::string why = FirstLine(err.Take());
    throw EError("The password command failed (exit code " + std::to_string(code) + ")" +
                 (why.empty() ? "" : ": " + why));
  }
  const std::string password = FirstLine(out.Take());
  if (password.empty()) throw EError("The password command printed no password");
  return password;
}
