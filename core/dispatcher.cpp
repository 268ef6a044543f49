#include "core/dispatcher.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "base/helpers.h"
#include "core/request_builder.h"
#include "mail/stamp.h"
#include "platform/ascii.h"
#include "platform/file_layout.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

constexpr const char* kTestMessageFlag = "Test Message.Flg";

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
  // A NUL or other control byte would cut or change the request line in
  // the mail while the history kept the whole text.
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= ' ' || b == 127;
  });
}

int TRequestDispatcher::CountChar(char c, const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

void TRequestDispatcher::ClipboardChanged(const std::string& text, bool settingsComplete,
                                          bool enabled) {
  DebugLog("CB change detected");
  if (!settingsComplete || !enabled) {
    // A user who forgot the switch, or never finished the settings, would
    // otherwise wonder why copies do nothing.
    const bool off = settingsComplete;
    const std::string why = off ? "Tolvane is switched off" : "Tolvane's settings are incomplete";
    DebugLog("Copy not requested: " + why);
    if (!std::exchange(off ? told_switched_off_ : told_incomplete_, true)) {
      ui_.ShowNotice(why);
    }
    return;
  }
  // A terminal's triple-click or a copied line brings blanks and a line end.
  const auto first = std::find_if(text.begin(), text.end(),
                                  [](char c) { return static_cast<unsigned char>(c) > ' '; });
  const auto last = std::find_if(text.rbegin(), text.rend(), [](char c) {
                      return static_cast<unsigned char>(c) > ' ';
                    }).base();
  TJob job;
  job.kind = TJob::Kind::Clipboard;
  if (first < last) job.text.assign(first, last);
  Run(std::move(job));
}

void TRequestDispatcher::DispatchRequest(const std::string& url, bool checkHistory) {
  TJob job;
  job.text = url;
  job.checkHistory = checkHistory;
  Run(std::move(job));
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
  // The queue, and the outbox a send lets go after it, is one run.
  sender_.BeginRun();
  struct TRunEnd {
    TRequestSender& sender;
    ~TRunEnd() {
      try {
        sender.EndRun();
      } catch (const std::exception& e) {
        DebugLog(std::string("Hang-up: ") + e.what());  // the mail went; the line stays up
      }
    }
  } runEnd{sender_};
  while (!pending_.empty()) {
    TJob next = std::move(pending_.front());
    pending_.pop_front();
    if (ui_.Stopping()) {
      StopHere(RequestAddress(next));
      continue;
    }
    try {
      RunJob(next);
    } catch (const std::exception& e) {
      // Whoever waits for this request's outcome hears of the failure too.
      last_error_ = e.what();
      Finish(RequestAddress(next), TOutcome::Failed);
      ui_.UnhandledException(e);
    }
  }
}

void TRequestDispatcher::FlushOutbox(bool withHeld) {
  if (!outbox_) return;
  try {
    // Another program may have changed the outbox, or died while sending.
    TFileLock lock(outbox_->LockPath(), [this] { return WaitForLock(); });
    outbox_->Recover(history_);
  } catch (const std::exception& e) {
    DebugLog(std::string("Outbox: ") + e.what());
    return;
  }
  std::vector<std::string> urls;
  for (const TOutboxEntry& entry : outbox_->Entries()) {
    if (TOutbox::Waiting(entry) || (withHeld && TOutbox::Held(entry))) urls.push_back(entry.Url);
  }
  std::vector<RequestBatch> batches;
  try {
    batches = BuildRequestBatches(urls, servers_());
  } catch (const std::exception& e) {
    // Each goes alone and meets the failure on its own, with its own report.
    DebugLog(std::string("Batches: ") + e.what());
    for (const std::string& url : urls) batches.push_back({{}, {url}});
  }
  for (const RequestBatch& batch : batches) {
    if (batch.Urls.size() == 1)
      QueueKept(batch.Urls.front(), false, withHeld);
    else
      QueueBatch(batch.Urls, withHeld);
  }
}

void TRequestDispatcher::SendKept(const std::string& url) {
  if (outbox_ && outbox_->Find(url) >= 0) QueueKept(url, true);
}

void TRequestDispatcher::QueueKept(const std::string& url, bool userAsked, bool withHeld) {
  for (const TJob& job : pending_) {
    if (job.kind == TJob::Kind::Kept && job.text == url) return;
  }
  Run({TJob::Kind::Kept, url, false, userAsked, withHeld, {}});
}

bool TRequestDispatcher::WaitForLock() {
  ui_.ProcessMessages();
  return !ui_.Stopping();
}

std::string TRequestDispatcher::RequestAddress(const TJob& job) {
  // A kept address had the rule applied when it was first copied.
  if (job.kind == TJob::Kind::Kept) return job.text;
  std::string url = job.text;
  if (CountChar('/', url) < 3) url += "/";
  return url;
}

void TRequestDispatcher::RunJob(const TJob& job) {
  // A kept one may have been discarded while it waited in the queue.
  if (job.kind == TJob::Kind::Kept && !(outbox_ && outbox_->Find(job.text) >= 0)) return;
  if (job.kind == TJob::Kind::Clipboard && SuperDebug) DebugLog("CB<<<" + job.text + ">>>");
  if (job.kind == TJob::Kind::Batch) {
    DispatchBatch(job);
    return;
  }
  Dispatch(job);
  if (job.kind == TJob::Kind::Clipboard && !ui_.Stopping()) SendTestMessageOnce();
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
  // A placeholder or a missing server would only bring a bounce, or nothing.
  if (!IsUsableServer(request.Recipient)) {
    DebugLog("No usable request server (\"" + request.Recipient + "\") for " + url);
    last_error_ = kNoUsableServer;
    if (!std::exchange(told_no_server_, true)) ui_.ShowServerChoice(last_error_);
    Finish(url, TOutcome::Refused);
    return false;
  }
  SetMail(request);
  return true;
}

void TRequestDispatcher::SetMail(const RequestMail& request) {
  message_.Recipients().Clear();
  message_.CC().Clear();
  message_.BCC().Clear();
  message_.Body().clear();
  message_.Recipients().AddAddress(request.Recipient, "");
  // Every request carries its own subject (an FTP server's may be empty),
  // so none inherits the subject of the mail sent before it.
  message_.SetSubject(request.Subject);
  message_.Body().push_back(request.Body);
}

// A password in the address never leaves without the user's word, whatever
// the confirmation setting; the user may send the address without it.
bool TRequestDispatcher::SettleCredentials(std::string& url, bool& asked) {
  // Text of no address's shape is refused next, without a question.
  const std::optional<std::string> masked =
      HasAddressShape(url) ? MaskedCredentials(url) : std::nullopt;
  if (!masked) return true;
  const TRequestUi::TCredentials answer = ui_.AskAboutCredentials(*masked);
  if (StopHere(*masked)) return false;
  if (answer == TRequestUi::TCredentials::No) {
    last_error_ = "the address holds a password, and sending it was not agreed";
    Finish(url, TOutcome::Declined);
    return false;
  }
  if (answer == TRequestUi::TCredentials::WithoutThem) url = WithoutCredentials(url);
  asked = true;
  return true;
}

void TRequestDispatcher::Dispatch(const TJob& job) {
  FlagGuard busy(request_busy_);
  last_error_.clear();
  std::string url = RequestAddress(job);
  const bool resend = job.kind == TJob::Kind::Kept;
  bool asked = false;
  // A kept request was settled when it was first copied.
  if (!resend && !SettleCredentials(url, asked)) return;
  const std::string extension = AsciiLower(RequestExtension(url));

  if (!PrepareRequest(url, job.checkHistory, resend) || StopHere(url)) return;

  const int confirm = settings_().Confirm;
  const bool ask =
      !asked && (confirm == 0 || (confirm == 1 && (extension == "zip" || extension == "exe")));
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

  if (!resend && outbox_ && settings_().Collect) {
    Hold(url);
    return;
  }

  // Held from the claim to the last state: no other program sends it too.
  std::optional<TFileLock> lock;
  if (outbox_ && !Claim(job, url, lock)) return;

  SendClaimed({url}, "..." + LastCharacters(url, 29), resend);
  lock.reset();
  // The way is open again: what waits goes after it.
  if (!resend && last_outcome_ == TOutcome::Sent) FlushOutbox();
}

// Sends the mail that carries `urls`, claimed already, and reports each
// one's outcome: they stay, or go, together.
void TRequestDispatcher::SendClaimed(const std::vector<std::string>& urls, const std::string& label,
                                     bool resend) {
  mail_sent_ = false;
  try {
    ui_.OpenProgress(label);
    progress_open_ = true;
    DebugLog(urls.size() == 1 ? std::string("Requesting")
                              : "Requesting " + std::to_string(urls.size()) + " together");
    ui_.SetProgress(12);
    sender_.Connect();
    ui_.SetStatus("Connection Open");
    ui_.SetProgress(25);
    current_urls_ = urls;
    StampDateAndMessageId(message_);
    sender_.Send();
  } catch (const std::exception& e) {
    if (progress_open_) {
      progress_open_ = false;
      ui_.CloseProgress();
    }
    if (!mail_sent_) {
      last_error_ = e.what();
      bool kept = false;
      for (const std::string& url : urls) kept = KeepFailure(url, e, resend) || kept;
      // The status alone rarely tells a user what to fix; the error does.
      if (!kept)
        ShowError("Request Failed",
                  "The last successful operation was <" + ui_.StatusLine() + ">\n" + last_error_);
      for (const std::string& url : urls) Finish(url, kept ? TOutcome::Kept : TOutcome::Failed);
      return;
    }
    // The server took the mail; only the goodbye after it failed.
    DebugLog(std::string("After the mail was sent: ") + e.what());
  }
  if (!last_error_.empty()) ShowError("Request Sent", last_error_);
  for (const std::string& url : urls) Finish(url, TOutcome::Sent);
}

// Takes the outbox's lock, finishes what a dead program left, and marks
// the request as being sent. False when it is not to be sent after all.
bool TRequestDispatcher::Claim(const TJob& job, const std::string& url,
                               std::optional<TFileLock>& lock) {
  try {
    lock.emplace(outbox_->LockPath(), [this] { return WaitForLock(); });
    outbox_->Recover(history_);
    if (job.kind == TJob::Kind::Kept) {
      // Sent by another program meanwhile, or now waiting for the user.
      const int i = outbox_->Find(url);
      if (i < 0 || !Claimable(job, outbox_->Entries()[i])) return false;
    }
    outbox_->MarkSending({url}, RequestServer(), Clock());
  } catch (const std::exception& e) {
    if (StopHere(url)) return false;
    // Nothing is sent that could not be recorded first.
    last_error_ = e.what();
    ShowError("Request Failed", last_error_);
    Finish(url, TOutcome::Failed);
    return false;
  }
  return true;
}

std::string TRequestDispatcher::RequestServer() const {
  return message_.Recipients().Count() > 0 ? message_.Recipients().Items(0).Address() : "";
}

// Keeps a failed request in the outbox when the failure may pass, or when
// the server may have taken it (then only the user sends it again). A kept
// request that now fails for good leaves the outbox and gets the box, and
// so does one that cannot be written down.
bool TRequestDispatcher::KeepFailure(const std::string& url, const std::exception& e, bool resend) {
  if (!outbox_) return false;
  const TFailureKind kind = ClassifyFailure(e, sender_.DataSent());
  const bool keep = kind != TFailureKind::Permanent && (resend || settings_().KeepFailed);
  const std::string reason = kind == TFailureKind::Unconfirmed ? TOutbox::kNotConfirmed : e.what();
  try {
    if (!keep) {
      outbox_->Remove(url);
      if (resend && OnOutboxChanged) OnOutboxChanged();
      return false;
    }
    outbox_->Keep(url, RequestServer(), Clock(), reason);
  } catch (const std::exception& disk) {
    last_error_ += std::string("\n") + disk.what();
    return false;
  }
  last_error_ = reason;
  DebugLog("Request kept: " + reason);
  if (!resend) ui_.ShowBriefNotice("Request kept, will be sent later");
  if (OnOutboxChanged) OnOutboxChanged();
  return true;
}

// The server took the request: the outbox says so first, then the history
// has it, then the outbox lets it go. A crash between the steps is finished
// by the next program that sends (TOutbox::Recover).
void TRequestDispatcher::RecordSent() {
  const TDateTime when = Clock();
  const std::string server = RequestServer();
  try {
    if (outbox_) {
      outbox_->MarkSent(current_urls_, [&](const std::string& url) {
        return THistory::EntryLine(server, url, when);
      });
    }
    for (const std::string& url : current_urls_) history_.AddHistoryEntry(server, url, when);
    if (outbox_ && outbox_->RemoveAll(current_urls_) && OnOutboxChanged) OnOutboxChanged();
  } catch (const std::exception& e) {
    last_error_ = std::string("The request was sent, but it could not be recorded: ") + e.what();
    DebugLog(last_error_);
  }
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
  // From here the server may hold the request whatever happens next.
  sender_.OnDataEnd = [this] {
    if (quiet_mail_ || !outbox_) return;
    outbox_->MarkUnconfirmed(current_urls_);
  };
  sender_.OnProgress = [step](int) { step("Progress", 80); };
  sender_.OnMailSent = [this] {
    if (quiet_mail_) return;
    mail_sent_ = true;
    RecordSent();
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

bool TRequestDispatcher::AskServerForHelp(const std::string& server) {
  RequestMail request;
  if (running_ || !IsUsableServer(server) || !BuildHelpRequest(server, request)) return false;
  FlagGuard running(running_);
  DebugLog("Asking " + server + " for its help");
  return SendTestMessage(request.Recipient, request.Subject, request.Body);
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
