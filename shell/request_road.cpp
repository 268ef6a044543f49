#include "shell/request_road.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>

#include "base/helpers.h"
#include "platform/folders.h"
#include "shell/clipboard_watch.h"
#include "shell/dialogs.h"
#include "shell/mail_address_dlg.h"
#include "shell/main_window.h"
#include "shell/outbox_road.h"
#include "shell/progress.h"
#include "shell/radio_group.h"
#include "shell/shell_state.h"
#include "shell/single_instance.h"

namespace {

// Owned by the main window, never a static with a destructor of its own:
// exit handlers (Qt's on a broken X connection) must find nothing to free.
TRequestRoad* g_road = nullptr;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The dispatcher's slash rule, so that a handed-over address matches the
// outcome reported for it.
std::string WithSlashes(std::string url) {
  if (TRequestDispatcher::CountChar('/', url) < 3) url += "/";
  return url;
}

}  // namespace

TRequestRoad::TRequestRoad(TfrmProps& main)
    : QObject(&main),
      main_(main),
      stack_(
          *this,
          [this] {
            const TFormValues v = main_.Values();
            TDispatchSettings s;
            s.Email = v.Email;
            s.Smtp = v.Smtp;
            s.CheckHistory = v.CheckHistory;
            s.Confirm = v.Confirm;
            s.KeepFailed = v.KeepFailed;
            return s;
          },
          [this] { return main_.Servers.Choice(); }) {
  stack_.Sender.Settings = [this] { return main_.SmtpSettings(); };
  stack_.Sender.AskPassword = [this](const std::string& prompt) { return AskPassword(prompt); };
  stack_.Dispatcher.ShareBusyFlag(RequestBusy);
  stack_.Dispatcher.OnDispatched = [this](const std::string& url, TRequestDispatcher::TOutcome o) {
    Answer(url, o);
  };

  mnuShowDetail =
      main_.AddMenuAction("&Show Detail", "mnuShowDetail", this, [this] { mnuShowDetailClick(); });
  mnuDeletefromHistory = main_.AddMenuAction("&Delete from History", "mnuDeletefromHistory", this,
                                             [this] { mnuDeletefromHistoryClick(); });
  mnuRequestAgain = main_.AddMenuAction("Request &Again", "mnuRequestAgain", this,
                                        [this] { mnuRequestAgainClick(); });

  outbox_road_ = std::make_unique<TOutboxRoad>(main_, stack_.Dispatcher, stack_.Outbox,
                                               [this] { ShowHistory(); });

  if (main_.ControlsMade()) AttachControls();
  connect(&main_, &TfrmProps::controlsCreated, this, [this] { AttachControls(); });
}

void TRequestRoad::AttachControls() {
  main_.lstHistory->viewport()->installEventFilter(this);
  main_.GroupBox2->installEventFilter(this);
  ShowHistory();
}

TRequestRoad::~TRequestRoad() {
  LeaveClipboard();
  // A command line still waiting hears that the program went.
  for (auto& w : waiting_) w.reply({kRequestFailed, "Tolvane ended before the request was sent"});
}

void TRequestRoad::LoadHistory() {
  // First, so that no request is ever kept over an outbox not yet read.
  try {
    stack_.Outbox.Load();
  } catch (const std::exception& e) {
    ShowError("Outbox", e.what());
  }
  stack_.History.Load();
  ShowHistory();
  // Only the one instance that holds the lock serves the command line.
  if (TPreviousInstance* previous = PreviousInstance(); previous && previous->HoldsLock()) {
    channel_ = std::make_unique<TRequestServer>(
        RequestSocketPath(previous->ProgramName()),
        [this](const std::string& url, TRequestServer::TReply reply) {
          if (!SettingsComplete) {
            reply(SettingsIncompleteAnswer());
            return;
          }
          waiting_.push_back({WithSlashes(url), std::move(reply)});
          stack_.Dispatcher.DispatchRequest(url, true);
        },
        [this](const std::string&, TRequestServer::TReply reply) {
          outbox_road_->Flush([reply](int left) {
            if (left == 0)
              reply({kRequestSent, "nothing waits"});
            else
              reply({kRequestKept, std::to_string(left) + " still waiting"});
          });
        });
  }
}

void TRequestRoad::SaveHistory() {
  Checkpoint = 90010;
  try {
    stack_.History.Save();
  } catch (const std::exception& e) {
    DebugLog(std::string("History: ") + e.what());
  }
}

void TRequestRoad::JoinClipboard() {
  if (clipboard_) return;
  clipboard_ = MakeClipboardWatch();
  clipboard_->OnChange = [this] { return ClipboardChanged(); };
  clipboard_->OnText = [this](const std::string& text) {
    Guarded(&main_, [&] { stack_.Dispatcher.ClipboardChanged(text, true, true); });
  };
}

void TRequestRoad::LeaveClipboard() { clipboard_.reset(); }

bool TRequestRoad::ClipboardChanged() {
  // Decided at the change: by the time the text is read, the settings may
  // have changed.
  const bool enabled = main_.Values().Enabled != 1;
  if (SettingsComplete && enabled) return true;
  Guarded(&main_, [&] { stack_.Dispatcher.ClipboardChanged({}, SettingsComplete, enabled); });
  return false;
}

void TRequestRoad::Answer(const std::string& url, TRequestDispatcher::TOutcome outcome) {
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    if (it->url != url) continue;
    const TRequestServer::TReply reply = std::move(it->reply);
    waiting_.erase(it);
    reply(AnswerFor(outcome, url, stack_.Dispatcher.LastError()));
    return;
  }
}

// History list and menu.

void TRequestRoad::ShowHistory() {
  QListWidget* list = main_.lstHistory;
  if (!list) return;  // filled when the window's controls are made
  list->clear();
  for (const std::string& line : stack_.History.Items()) list->addItem(Q(line));
  list->scrollToTop();
  outbox_road_->ShowKept();
}

// Kept requests stand above the history: a row below them is an entry.
int TRequestRoad::SelectedEntry() const {
  if (!main_.lstHistory) return -1;
  const auto selected = main_.lstHistory->selectedItems();
  if (selected.isEmpty()) return -1;
  const int row = main_.lstHistory->row(selected.front()) - outbox_road_->KeptRows();
  return row < 0 ? -1 : row;
}

void TRequestRoad::lstHistoryMouseDown(QPoint position) {
  QListWidget* list = main_.lstHistory;
  QListWidgetItem* item = list->itemAt(position);
  auto_popup_ = item != nullptr;
  if (item) {
    list->setCurrentItem(item);
    item->setSelected(true);
  } else {
    list->clearSelection();
    list->setCurrentRow(-1);
  }
}

bool TRequestRoad::eventFilter(QObject* watched, QEvent* event) {
  if (main_.lstHistory && watched == main_.lstHistory->viewport()) {
    if (event->type() == QEvent::MouseButtonPress) {
      lstHistoryMouseDown(static_cast<QMouseEvent*>(event)->position().toPoint());
      if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) return true;
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
      if (auto_popup_) {
        main_.PopupMenu1->popup(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
      }
      return true;
    }
  } else if (watched == main_.GroupBox2 && event->type() == QEvent::ContextMenu) {
    if (auto_popup_) {
      main_.PopupMenu1->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
    }
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void TRequestRoad::mnuShowDetailClick() {
  const int index = SelectedEntry();
  if (index < 0 || index >= stack_.History.Count()) return;
  QString text = Q(THistory::DetailText(stack_.History.Items()[index]));
  text.replace("\r\n", "\n");
  QMessageBox box(QMessageBox::NoIcon, "Tolvane", text, QMessageBox::Ok, &main_);
  box.exec();
}

void TRequestRoad::mnuDeletefromHistoryClick() {
  const int index = SelectedEntry();
  if (index < 0) return;
  stack_.History.Delete(index);
  ShowHistory();
}

void TRequestRoad::mnuRequestAgainClick() {
  const int index = SelectedEntry();
  if (index < 0) return;
  stack_.Dispatcher.RequestAgain(index);
}

// What the dispatcher shows.

TRequestUi::TAnswer TRequestRoad::Confirm(const std::string& question) {
  const bool wasVisible = main_.isVisible();
  main_.hide();
  // The address is shown as copied: its "&" are no accelerators.
  const auto answer = TopmostMessageDlg(EscapeAccelerators(question), TMsgDlgType::mtConfirmation,
                                        QMessageBox::Yes | QMessageBox::No, 0, &main_);
  if (wasVisible) main_.show();
  // A stop closed the box: the request must not go out.
  if (answer == QMessageBox::No || StopRequested) return TAnswer::No;
  if (answer == QMessageBox::Yes) return TAnswer::Yes;
  return TAnswer::Closed;
}

// Once per run: the answer is remembered until Tolvane ends.
std::optional<std::string> TRequestRoad::AskPassword(const std::string& prompt) {
  QInputDialog box(&main_);
  box.setObjectName("PasswordBox");
  box.setWindowTitle("Tolvane");
  box.setLabelText(Q(prompt + " (to keep it, type it in the Password field)"));
  box.setTextEchoMode(QLineEdit::Password);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  if (box.exec() != QDialog::Accepted || box.textValue().isEmpty()) return std::nullopt;
  return box.textValue().toStdString();
}

void TRequestRoad::OpenProgress(const std::string& label) {
  TfrmProgress* progress = CreateProgressWindow();
  progress->Label1->setText(Q(label));
  progress->show();
}

void TRequestRoad::SetProgress(int position) {
  if (TfrmProgress* progress = frmProgress()) progress->ProgressBar1->setValue(position);
}

void TRequestRoad::CloseProgress() { FreeProgressWindow(); }

void TRequestRoad::SetStatus(const std::string& status) { ::SetStatus(status); }

std::string TRequestRoad::StatusLine() const { return ::StatusLine(); }

void TRequestRoad::ShowBriefNotice(const std::string& text) { ::ShowBriefNotice(text); }

void TRequestRoad::Beep() { QApplication::beep(); }

void TRequestRoad::ProcessMessages() { QCoreApplication::processEvents(); }

void TRequestRoad::HistoryChanged() { ShowHistory(); }

void TRequestRoad::SelectHistoryEntry(int index) {
  QListWidget* list = main_.lstHistory;
  if (index < 0 || !list) return;
  index += outbox_road_->KeptRows();
  if (index >= list->count()) return;
  list->setCurrentRow(index);
  list->scrollToItem(list->item(index), QAbstractItemView::PositionAtTop);
}

void TRequestRoad::UnhandledException(const std::exception& e) { AppException(&main_, e.what()); }

bool TRequestRoad::Stopping() const { return StopRequested; }

TRequestRoad* RequestRoad() { return g_road; }

void InstallRequestRoad() {
  InstallMailAddressEditHook();
  TShellHooks& hooks = ShellHooks();
  hooks.LoadHistory = [](TfrmProps& main) {
    g_road = new TRequestRoad(main);  // a child of the main window
    g_road->LoadHistory();
  };
  hooks.JoinClipboard = [](TfrmProps&) {
    if (g_road) g_road->JoinClipboard();
  };
  hooks.SaveHistory = [](TfrmProps&) {
    if (g_road) g_road->SaveHistory();
  };
  // The clipboard is left whether or not the history could be saved; the
  // client and its protocol log go with it.
  hooks.LeaveClipboard = [](TfrmProps&) {
    const std::unique_ptr<TRequestRoad> road(std::exchange(g_road, nullptr));
  };
}
