// From a copied address to a request mail on its way: the filters, the
// confirmation, the send and the history entry. The same dispatcher runs
// under the tray program, the command line and the tests; they differ only
// in the interfaces below.
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/history.h"
#include "core/outbox.h"
#include "core/request_builder.h"
#include "core/server_list.h"
#include "mail/message.h"
#include "platform/datetime.h"
#include "platform/file_lock.h"

// The mail sender (the SMTP client of the main window).
class TRequestSender {
 public:
  virtual ~TRequestSender() = default;
  virtual void SetServer(const std::string& server) = 0;
  // Opens the connection and greets the server unless one is open already.
  virtual void Connect() = 0;
  // Connects, sends the message and closes the connection however it ends.
  virtual void Send() = 0;
  // The end of the message went out during the last Send; with OnMailSent
  // not fired, the server may or may not have taken it.
  virtual bool DataSent() const { return false; }
  // The sends between the two go as one run: a link brought up for the
  // first is taken down after the last.
  virtual void BeginRun() {}
  virtual void EndRun() {}

  // Fired by the sender in this order during Connect and Send.
  std::function<void()> OnOpen;
  std::function<void()> OnPrepare;
  std::function<void()> OnSending;
  // Before the end of the message goes out; raising keeps it back.
  std::function<void()> OnDataEnd;
  std::function<void(int percent)> OnProgress;
  std::function<void()> OnMailSent;
  std::function<void()> OnClosing;
  std::function<void()> OnClosed;
};

// What the dispatcher shows the user.
class TRequestUi {
 public:
  enum class TAnswer { Yes, No, Closed };
  virtual ~TRequestUi() = default;
  // "Request <url> by e-mail?" on top of everything; the main window's
  // visibility is the same afterwards.
  virtual TAnswer Confirm(const std::string& question) = 0;
  virtual void OpenProgress(const std::string& label) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void CloseProgress() = 0;
  // Stores the status line and writes it to the debug log.
  virtual void SetStatus(const std::string& status) = 0;
  virtual std::string StatusLine() const = 0;
  virtual void ShowBriefNotice(const std::string& text) = 0;
  // The same brief notice outside a request: the status line stays.
  virtual void ShowNotice(const std::string& /*text*/) {}
  // The address holds a password (`masked` shows it as "****"): send it
  // with the password, without it, or not at all. Nothing asks: not at all.
  enum class TCredentials { Send, WithoutThem, No };
  virtual TCredentials AskAboutCredentials(const std::string& /*masked*/) {
    return TCredentials::No;
  }
  // No usable request server is chosen: says `text` and opens the window at
  // the server choice.
  virtual void ShowServerChoice(const std::string& /*text*/) {}
  virtual void Beep() {}
  // Lets the windows repaint while the socket works.
  virtual void ProcessMessages() {}
  // The history list changed (scroll it to the top) or an entry was found.
  virtual void HistoryChanged() {}
  virtual void SelectHistoryEntry(int /*index*/) {}
  // A failure that no step handles (an unreadable list or template file):
  // the application's error handler.
  virtual void UnhandledException(const std::exception& e) = 0;
  // The program was asked to stop: an open question counts as No and
  // nothing more is sent.
  virtual bool Stopping() const { return false; }
};

// The settings the dispatcher reads at the moment it needs them.
struct TDispatchSettings {
  std::string Email;          // txtEmail
  std::string Smtp;           // txtSMTP
  bool CheckHistory = false;  // chkCheckHistory
  int Confirm = 2;            // optConfirm: 0 always, 1 zip and exe only, 2 never
  bool KeepFailed = false;    // chkKeepFailed: keep what could not be sent
  bool Collect = false;       // hold new requests to send them together
};

class TRequestDispatcher {
 public:
  // Just under 3 seconds, as a fraction of a day.
  static constexpr double FastDuplicateWindow = 3.472222e-5;

  enum class TOutcome {
    None,       // nothing dispatched yet
    Refused,    // not a URL's shape, or a duplicate
    NoRequest,  // not an address Tolvane requests
    Declined,   // the user answered No
    Sent,       // the mail server accepted the request
    Failed,     // opening the connection or sending failed
    Kept,       // failed for now; waits in the outbox
    Stopped,    // dropped because the program is stopping
  };

  static constexpr char kNoAddressShape[] =
      "not a request: the text holds a blank, a line break or a control character";
  // No blank and no control character (line ends, tab, NUL, DEL): the one
  // shape rule for every road.
  static bool HasAddressShape(const std::string& text);
  static constexpr const char* kNoUsableServer = "Choose a request server in Tolvane's window";

  TRequestDispatcher(TmsMessage& message, TRequestSender& sender, THistory& history, TRequestUi& ui,
                     std::function<TDispatchSettings()> settings,
                     std::function<TServerChoice()> servers);

  // A clipboard change: logs it and, when the settings are complete and
  // Tolvane is enabled, dispatches the text with the blanks and line ends
  // around it taken off, and sends the test message once. Otherwise a log
  // line says why, and a brief notice does too, once per run for each
  // reason. A change that arrives while a request runs is kept and handled
  // after it.
  void ClipboardChanged(const std::string& text, bool settingsComplete, bool enabled);

  // One request; queued when another one is running.
  void DispatchRequest(const std::string& url, bool checkHistory);

  // "Request Again" of history entry `index`.
  void RequestAgain(int index);

  void SendTestMessageOnce();
  // Mails `server` its "Help" line; false when it has none, is no usable
  // server, or the mail could not go. The help text comes back by mail.
  bool AskServerForHelp(const std::string& server);
  bool SendTestMessage(const std::string& recipient, const std::string& subject,
                       const std::string& body);

  static int CountChar(char c, const std::string& text);

  // The outbox that keeps failed requests (none: every failure is shown).
  void UseOutbox(TOutbox* outbox) { outbox_ = outbox; }
  // Sends every kept request again, in the order kept, except those whose
  // delivery is unconfirmed, and with `withHeld` the held ones too; requests
  // for one server share mails as far as the server takes several. SendKept
  // sends one, unconfirmed or not.
  void FlushOutbox(bool withHeld = false);
  void SendKept(const std::string& url);
  // Called whenever the outbox gained, changed or lost an entry.
  std::function<void()> OnOutboxChanged;
  // No dispatch runs and none waits.
  bool Idle() const { return !running_; }

  // A request is being dispatched (the tray's daily housekeeping waits).
  bool RequestBusy() const { return request_busy_; }
  bool QuietMail() const { return quiet_mail_; }

  // How the last dispatch ended, and the error text of a failed one.
  TOutcome LastOutcome() const { return last_outcome_; }
  const std::string& LastError() const { return last_error_; }

  // Called after every dispatch has ended (queued ones included).
  std::function<void(const std::string& url, TOutcome outcome)> OnDispatched;

  // The clock (tests move it).
  std::function<TDateTime()> Clock = Now;

 private:
  // Sets a flag for as long as the scope lasts, however it is left.
  class FlagGuard {
   public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

   private:
    bool& flag_;
  };

  struct TJob {
    enum class Kind { Clipboard, Request, Kept, Batch } kind = Kind::Request;
    std::string text;
    bool checkHistory = true;
    bool userAsked = false;         // a kept request the user chose to send
    bool withHeld = false;          // held requests may go too
    std::vector<std::string> urls;  // a batch's requests, one mail
  };
  void Run(TJob job);
  void RunJob(const TJob& job);
  void Dispatch(const TJob& job);
  static std::string RequestAddress(const TJob& job);
  bool PrepareRequest(const std::string& url, bool checkHistory, bool resend);
  bool Claim(const TJob& job, const std::string& url, std::optional<TFileLock>& lock);
  static bool Claimable(const TJob& job, const TOutboxEntry& entry);
  void SetMail(const RequestMail& request);
  bool SettleCredentials(std::string& url, bool& asked);
  void Hold(const std::string& url);
  void QueueBatch(const std::vector<std::string>& urls, bool withHeld);
  void DispatchBatch(const TJob& job);
  bool ClaimBatch(const TJob& job, std::optional<TFileLock>& lock);
  void SendClaimed(const std::vector<std::string>& urls, const std::string& label, bool resend);
  std::string RequestServer() const;
  bool KeepFailure(const std::string& url, const std::exception& e, bool resend);
  void RecordSent();
  bool WaitForLock();
  void QueueKept(const std::string& url, bool userAsked, bool withHeld = false);
  bool StopHere(const std::string& url);
  void Finish(const std::string& url, TOutcome outcome);
  void BindEvents();

  TmsMessage& message_;
  TRequestSender& sender_;
  THistory& history_;
  TRequestUi& ui_;
  std::function<TDispatchSettings()> settings_;
  std::function<TServerChoice()> servers_;

  bool running_ = false;  // a job (dispatch and test message) is under way
  bool request_busy_ = false;
  bool quiet_mail_ = false;
  bool told_switched_off_ = false;
  bool told_incomplete_ = false;
  bool told_no_server_ = false;
  bool progress_open_ = false;
  bool mail_sent_ = false;
  // The requests the mail on its way carries.
  std::vector<std::string> current_urls_;
  std::deque<TJob> pending_;
  TOutcome last_outcome_ = TOutcome::None;
  std::string last_error_;
  TOutbox* outbox_ = nullptr;
};
