#include <windows.h>

#include <atomic>

#include "setup/process.h"
#include "setup/wide.h"

namespace wrap {
namespace {

std::atomic<long> caught{0};
std::atomic<HANDLE> runningJob{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  caught = static_cast<long>(event) + 1;
  // Ctrl+C and Ctrl+Break reached the child on the shared console already.
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Close, logoff, shutdown: the launcher ends when this returns. End the
  // child, and give the main thread the moments left to clean up; the
  // process exits when it is done.
  if (HANDLE job = runningJob.load()) ::TerminateJobObject(job, 1);
  ::Sleep(10000);
  return TRUE;
}

}  // namespace

void CatchInterrupts() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

int Interruption() { return static_cast<int>(caught.load()); }

void ClearInterruption() { caught = 0; }

Child::~Child() {
  if (process_) Wait();
}

int Child::Start(const std::string& program, const std::vector<std::string>& args) {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  if (!job) return ErrnoFromWin32(::GetLastError());
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  std::wstring line = Wide(QuoteArguments(args));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // Suspended until it is in the job, so that nothing it starts escapes.
  if (!::CreateProcessW(Wide(program).c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED, nullptr, nullptr, &startup, &info)) {
    const DWORD err = ::GetLastError();
    ::CloseHandle(job);
    return ErrnoFromWin32(err);
  }
  // Should the launcher sit in a job that forbids this, SETUP.EXE still
  // runs, only without ending with it.
  ::AssignProcessToJobObject(job, info.hProcess);
  process_ = info.hProcess;
  job_ = job;
  runningJob = job;
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  return 0;
}

int Child::Wait() {
  ::WaitForSingleObject(process_, INFINITE);
  DWORD code = 0;
  const int result = ::GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
  ::CloseHandle(process_);
  // Closing the job ends whatever SETUP.EXE left running, which would hold
  // files in the folder about to be removed.
  runningJob = nullptr;
  ::CloseHandle(job_);
  process_ = job_ = nullptr;
  return result;
}

}  // namespace wrap
