// What the dispatcher's tests share: a user interface that records what it
// is shown, and a program folder with three request servers that is also
// the current folder (where the test message's flag lands).
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/dispatcher.h"
#include "tests/base/program_folder.h"

// Records what the dispatcher shows; answers the confirmation as told.
class RecordingUi : public TRequestUi {
 public:
  TAnswer answer = TAnswer::Yes;
  std::vector<std::string> calls;
  std::function<void()> onSetStatus;
  std::function<void()> onConfirm;
  std::string status;
  int selected = -1;
  bool stopping = false;

  TAnswer Confirm(const std::string& question) override {
    calls.push_back("confirm:" + question);
    if (onConfirm) onConfirm();
    return answer;
  }
  bool Stopping() const override { return stopping; }
  void OpenProgress(const std::string& label) override { calls.push_back("open:" + label); }
  void SetProgress(int position) override { calls.push_back("pos:" + std::to_string(position)); }
  void CloseProgress() override { calls.push_back("close"); }
  void SetStatus(const std::string& s) override {
    status = s;
    DebugLog(s);
    if (onSetStatus) onSetStatus();
  }
  std::string StatusLine() const override { return status; }
  void ShowBriefNotice(const std::string& text) override { calls.push_back("notice:" + text); }
  void ShowNotice(const std::string& text) override { calls.push_back("told:" + text); }
  void ShowServerChoice(const std::string& text) override { calls.push_back("choose:" + text); }
  TCredentials credentials = TCredentials::No;
  TCredentials AskAboutCredentials(const std::string& masked) override {
    calls.push_back("password:" + masked);
    return credentials;
  }
  void Beep() override { calls.push_back("beep"); }
  void SelectHistoryEntry(int index) override { selected = index; }
  void UnhandledException(const std::exception& e) override {
    calls.push_back(std::string("unhandled:") + e.what());
  }
  bool Has(const std::string& call) const {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
};

class DispatchFolderTest : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ProgramFolderTest::SetUp();
    old_cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    PutFile(dir / "uservers.dat",
            "[pages@req.test]\r\nType=0\r\nSubject=page request\r\nverbPagesHttp=GET\r\n"
            "[files@req.test]\r\nType=1\r\nSubject=file request\r\nverbBinaryHttp=SEND\r\n"
            "[ftp@req.test]\r\nType=2\r\nSubject=ftp request\r\n");
    PutFile(dir / "nbinary.ext", "htm\r\nhtml\r\n");
    PutFile(dir / "Test Message.Txt", "Hello from the test.\r\n");
    servers.Load();
    std::filesystem::remove(DebugLogPath());  // the log starts with the test
    settings.Email = "me@home.test";
    settings.Smtp = "smtp.home.test";
  }
  void TearDown() override {
    std::filesystem::current_path(old_cwd);
    ProgramFolderTest::TearDown();
  }

  // Debug log lines without their date and time.
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    std::istringstream text(GetFile(DebugLogPath()));
    for (std::string line; std::getline(text, line);) {
      if (line.ends_with('\r')) line.pop_back();
      const auto colon = line.find(": ");
      lines.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
    }
    return lines;
  }

  std::filesystem::path old_cwd;
  TServerList servers{dir / "TOLVANE.INI"};
  TmsMessage message;
  THistory history{dir / "History.Dat"};
  RecordingUi ui;
  TDispatchSettings settings;
  // The dispatcher's readers of both.
  std::function<TDispatchSettings()> read_settings = [this] { return settings; };
  std::function<TServerChoice()> read_servers = [this] { return servers.Choice(); };
};
