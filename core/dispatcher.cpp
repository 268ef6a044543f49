#include "core/dispatcher.h"

#include <algorithm>
#include <cctype>

#include "base/helpers.h"
#include "core/request_builder.h"
#include "mail/stamp.h"
#include "platform/ascii.h"
#include "platform/file_layout.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

constexpr const char* kTestMessageFlag = "Test Message.Flg";

// Clears a flag however the scope is left.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
};

// The last `count` characters of a UTF-8 text, never part of a sequence.
std::string LastCharacters(const std::string& text, std::size_t count) {
  std::size_t start = text.size();
  while (start > 0 && count > 0) {
    --start;
    if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) --count;
  }
  return text.substr(start);
}

}  // namespace

TRequestDispatcher::TRequestDispatcher(TmsMessage& message, TRequestSender& sender,
                                       THistory& history, TRequestUi& ui,
                                       std::function<TDispatchSettings()> settings,
                                       std::function<TServerChoice()> servers)
    : message_(message),
      sender_(sender),
      history_(history),
      ui_(ui),
      settings_(std::move(settings)),
      servers_(std::move(servers)) {
  BindEvents();
}

bool TRequestDispatcher::HasAddressShape(const std::string& text) {
  return text.find_first_of("\n\r ") == std::string::npos;
}

int TRequestDispatcher::CountChar(char c, const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

void TRequestDispatcher::ClipboardChanged(const std::string& text, bool settingsComplete,
                                          bool enabled) {
  DebugLog("CB change detected");
  if (!settingsComplete || !enabled) return;
  Run({TJob::Kind::Clipboard, text, true});
}

void TRequestDispatcher::DispatchRequest(const std::string& url, bool checkHistory) {
  Run({TJob::Kind::Request, url, checkHistory});
}

void TRequestDispatcher::RequestAgain(int index) {
  if (index < 0 || index >= history_.Count()) return;
  DispatchRequest(THistory::HistoryUrl(history_.Items()[index]), false);
}

// Requests that arrive while one runs (from inside its waits and boxes) are
// queued and run here, after it, never nested inside it.
void TRequestDispatcher::Run(TJob job) {
  pending_.push_back(std::move(job));
  if (running_) return;
  FlagGuard running(running_);
  while (!pending_.empty()) {
    TJob next = std::move(pending_.front());
    pending_.pop_front();
    if (ui_.Stopping()) {
      std::string url = next.text;
      if (CountChar('/', url) < 3) url += "/";
      StopHere(url);
      continue;
    }
    try {
      RunJob(next);
    } catch (const std::exception& e) {
      // Whoever waits for this request's outcome hears of the failure too.
      last_error_ = e.what();
      std::string url = next.text;
      if (CountChar('/', url) < 3) url += "/";
      Finish(url, TOutcome::Failed);
      ui_.UnhandledException(e);
    }
  }
}

void TRequestDispatcher::FlushOutbox() {
  if (!outbox_) return;
  for (const TOutboxEntry& entry : std::vector<TOutboxEntry>(outbox_->Entries())) {
    if (!TOutbox::Unconfirmed(entry)) QueueKept(entry.Url);
  }
}

void TRequestDispatcher::SendKept(const std::string& url) {
  if (outbox_ && outbox_->Find(url) >= 0) QueueKept(url);
}

void TRequestDispatcher::QueueKept(const std::string& url) {
  for (const TJob& job : pending_) {
    if (job.kind == TJob::Kind::Kept && job.text == url) return;
  }
  Run({TJob::Kind::Kept, url, false});
}

void TRequestDispatcher::RunJob(const TJob& job) {
  if (job.kind == TJob::Kind::Kept) {
    // Discarded while it waited in the queue.
    if (outbox_ && outbox_->Find(job.text) >= 0) Dispatch(job.text, false, true);
    return;
  }
  if (job.kind == TJob::Kind::Request) {
    Dispatch(job.text, job.checkHistory);
    return;
  }
  if (SuperDebug) DebugLog("CB<<<" + job.text + ">>>");
  Dispatch(job.text, true);
  if (!ui_.Stopping()) SendTestMessageOnce();
}

// Nothing goes out once a stop was asked for; the dropped request leaves
// one line in the log.
bool TRequestDispatcher::StopHere(const std::string& url) {
  if (!ui_.Stopping()) return false;
  DebugLog("Request dropped at stop: " + url);
  last_error_ = "Tolvane is stopping; the request was not sent";
  Finish(url, TOutcome::Stopped);
  return true;
}

void TRequestDispatcher::Finish(const std::string& url, TOutcome outcome) {
  last_outcome_ = outcome;
  if (OnDispatched) OnDispatched(url, outcome);
}

bool TRequestDispatcher::PrepareRequest(const std::string& url, bool checkHistory, bool resend) {
  // Shape: a carriage return is refused like a line feed, since it would
  // end the request line early in the mail.
  if (!HasAddressShape(url)) {
    last_error_ = kNoAddressShape;
    Finish(url, TOutcome::Refused);
    return false;
  }
  // A kept request was copied long ago; the fast-duplicate rule is about repeats.
  if (!resend && history_.Count() > 0 && THistory::HistoryUrl(history_.Items()[0]) == url &&
      Clock() - history_.LastRequestTime < FastDuplicateWindow) {
    DebugLog("Fast Duplicate Discarded");
    last_error_ = "Fast Duplicate Discarded";
    Finish(url, TOutcome::Refused);
    return false;
  }
  const TDispatchSettings settings = settings_();
  if (checkHistory && settings.CheckHistory) {
    int index = history_.FindInHistory(url);
    if (index >= 0) {
      ui_.SelectHistoryEntry(index);
      ui_.Beep();
      ui_.ShowBriefNotice("Duplicate Request");
      last_error_ = "Duplicate Request";
      Finish(url, TOutcome::Refused);
      return false;
    }
  }
  RequestMail request;
  bool isRequest = BuildRequest(url, servers_(), request);
  message_.Sender().SetAddress(settings.Email);
  sender_.SetServer(settings.Smtp);
  if (!isRequest) {
    last_error_ = "Not a request";
    Finish(url, TOutcome::NoRequest);
    return false;
  }
  message_.Recipients().Clear();
  message_.CC().Clear();
  message_.BCC().Clear();
  message_.Body().clear();
  message_.Recipients().AddAddress(request.Recipient, "");
  // Every request carries its own subject (an FTP server's may be empty),
  // so none inherits the subject of the mail sent before it.
  message_.SetSubject(request.Subject);
  message_.Body().push_back(request.Body);
  return true;
}

void TRequestDispatcher::Dispatch(std::string url, bool checkHistory, bool resend) {
  FlagGuard busy(*request_busy_);
  last_error_.clear();
  if (CountChar('/', url) < 3) url += "/";
  const std::string extension = AsciiLower(UrlExtension(url));

  if (!PrepareRequest(url, checkHistory, resend) || StopHere(url)) return;

  const int confirm = settings_().Confirm;
  const bool ask = confirm == 0 || (confirm == 1 && (extension == "zip" || extension == "exe"));
  // A kept request was confirmed when it was first copied.
  if (ask && !resend) {
    const TRequestUi::TAnswer answer = ui_.Confirm("Request " + url + " by e-mail?");
    // A stop while the box was open closed it: that is a No.
    if (StopHere(url)) return;
    if (answer == TRequestUi::TAnswer::No) {
      last_error_ = "Declined";
      Finish(url, TOutcome::Declined);
      return;
    }
  }

  mail_sent_ = false;
  try {
    ui_.OpenProgress("..." + LastCharacters(url, 29));
    progress_open_ = true;
    DebugLog("Requesting");
    ui_.SetProgress(12);
    sender_.Connect();
    ui_.SetStatus("Connection Open");
    ui_.SetProgress(25);
    current_request_url_ = url;
    StampDateAndMessageId(message_);
    sender_.Send();
  } catch (const std::exception& e) {
    last_error_ = e.what();
    const bool kept = KeepFailure(url, e, resend);
    if (!kept) {
      // The status alone rarely tells a user what to fix; the error does.
      ShowError("Request Failed",
                "The last successful operation was <" + ui_.StatusLine() + ">\n" + last_error_);
    }
    if (progress_open_) {
      progress_open_ = false;
      ui_.CloseProgress();
    }
    // A failure while closing after the server took the mail still leaves
    // the request sent and recorded.
    if (!mail_sent_) {
      Finish(url, kept ? TOutcome::Kept : TOutcome::Failed);
      return;
    }
  }
  if (outbox_ && outbox_->Remove(url) && OnOutboxChanged) OnOutboxChanged();
  Finish(url, TOutcome::Sent);
  // The way is open again: what waits goes after it.
  if (!resend) FlushOutbox();
}

// Keeps a failed request in the outbox when the failure may pass, or when
// the server may have taken it (then only the user sends it again). A kept
// request that now fails for good leaves the outbox and gets the box.
bool TRequestDispatcher::KeepFailure(const std::string& url, const std::exception& e, bool resend) {
  if (!outbox_ || mail_sent_ || (!resend && !settings_().KeepFailed)) return false;
  const TFailureKind kind = ClassifyFailure(e, sender_.DataSent());
  const bool unconfirmed = kind == TFailureKind::Unconfirmed;
  if (kind == TFailureKind::Permanent) {
    if (resend && outbox_->Remove(url) && OnOutboxChanged) OnOutboxChanged();
    return false;
  }
  const std::string reason = unconfirmed ? TOutbox::kNotConfirmed : e.what();
  const std::string server =
      message_.Recipients().Count() > 0 ? message_.Recipients().Items(0).Address() : "";
  outbox_->Keep(url, server, Clock(), reason);
  last_error_ = reason;
  DebugLog("Request kept: " + reason);
  if (!resend) ui_.ShowBriefNotice("Request kept, will be sent later");
  if (OnOutboxChanged) OnOutboxChanged();
  return true;
}

void TRequestDispatcher::BindEvents() {
  auto step = [this](const char* status, int position) {
    if (quiet_mail_) return;
    if (position >= 0) ui_.SetProgress(position);
    ui_.SetStatus(status);
    ui_.ProcessMessages();
  };
  sender_.OnOpen = [step] { step("Openning", -1); };
  sender_.OnPrepare = [step] { step("Preparing", 40); };
  sender_.OnSending = [step] { step("Sending", 60); };
  sender_.OnProgress = [step](int) { step("Progress", 80); };
  sender_.OnMailSent = [this] {
    if (quiet_mail_) return;
    mail_sent_ = true;
    const std::string server =
        message_.Recipients().Count() > 0 ? message_.Recipients().Items(0).Address() : "";
    history_.AddHistoryEntry(server, current_request_url_, Clock());
    ui_.HistoryChanged();
    ui_.SetStatus("Sent");
    ui_.SetProgress(100);
    ui_.ProcessMessages();
    if (progress_open_) {
      progress_open_ = false;
      ui_.CloseProgress();
    }
  };
  sender_.OnClosing = [step] { step("Closing", -1); };
  sender_.OnClosed = [step] { step("Close", -1); };
}

// The flag lies in the current folder; where that cannot be written (a start
// from "/"), in the settings folder. Both places count.
void TRequestDispatcher::SendTestMessageOnce() {
  const std::string inSettings = ConfigFolder() + kTestMessageFlag;
  if (FileExists(kTestMessageFlag) || FileExists(inSettings)) return;
  std::string body;
  try {
    body = ReadFileString(DataFilePath("Test Message.Txt"));
  } catch (const std::exception&) {
    body.clear();
  }
  if (!SendTestMessage(settings_().Email, "Test Message from your copy of Tolvane", body)) return;
  try {
    ReplaceFileAtomically(kTestMessageFlag, " ");
  } catch (const std::exception&) {
    WriteFileString(inSettings, " ");
  }
}

bool TRequestDispatcher::SendTestMessage(const std::string& recipient, const std::string& subject,
                                         const std::string& body) {
  FlagGuard quiet(quiet_mail_);
  try {
    const TDispatchSettings settings = settings_();
    message_.Recipients().Clear();
    message_.Recipients().AddAddress(recipient, "");
    message_.SetSubject(subject);
    message_.Body().clear();
    message_.Body().push_back(body);
    message_.Attachments().Clear();
    message_.Sender().SetAddress(settings.Email);
    sender_.SetServer(settings.Smtp);
    sender_.Connect();
    StampDateAndMessageId(message_);
    sender_.Send();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}
