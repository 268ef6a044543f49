#include "shell/history_view.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>

#include "app/history_rows.h"
#include "app/request_stack.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"

THistoryView::THistoryView(TfrmProps& window, TRequestStack& stack)
    : window_(window), stack_(stack) {
  mnuShowDetail = window_.AddMenuAction("&Show Detail", "mnuShowDetail", this,
                                        [this] { mnuShowDetailClick(); });
  mnuDeletefromHistory = window_.AddMenuAction("&Delete from History", "mnuDeletefromHistory", this,
                                               [this] { mnuDeletefromHistoryClick(); });
  mnuRequestAgain = window_.AddMenuAction("Request &Again", "mnuRequestAgain", this,
                                          [this] { mnuRequestAgainClick(); });
  mnuSendNow =
      window_.AddMenuAction("Send &Now", "mnuSendNow", this, [this] { mnuSendNowClick(); });
  mnuDiscard = window_.AddMenuAction("&Discard", "mnuDiscard", this, [this] { mnuDiscardClick(); });
  mnuAskHelp = window_.AddMenuAction("Ask this server for its &help", "mnuAskHelp", this,
                                     [this] { mnuAskHelpClick(); });
  connect(window_.PopupMenu1, &QMenu::aboutToShow, this, [this] { MenuAboutToShow(); });
  if (window_.ControlsMade()) AttachControls();
  connect(&window_, &TfrmProps::controlsCreated, this, [this] { AttachControls(); });
}

void THistoryView::AttachControls() {
  window_.lstHistory->viewport()->installEventFilter(this);
  window_.GroupBox2->installEventFilter(this);
  Show();
}

void THistoryView::Show() {
  if (OnShown) OnShown();  // first: the rows tell when the next round is due
  if (QListWidget* list = window_.lstHistory) {
    list->clear();
    const THistory& history = stack_.History;
    for (int i = 0; i < history.Count(); ++i) {
      auto* item = new QListWidgetItem(QString::fromStdString(history.Items()[i]), list);
      if (const auto bytes = history.Bytes(i)) {
        item->setToolTip(QString::fromStdString(LinkBytesText(*bytes)));
      }
    }
    const QString month =
        QString::fromStdString(ByteCountText(stack_.MonthBytes()) + " over the link this month");
    list->setToolTip(month);
    window_.StaticText1->setToolTip(month);
    ShowKept();
  }
}

void THistoryView::ShowKept() {
  QListWidget* list = window_.lstHistory;
  const TOutbox& outbox = stack_.Outbox;
  const std::string next = NextTry ? NextTry() : std::string();
  // Told apart by their words and a slant, in the text's own colour: grey
  // on white was too faint to read.
  QFont slanted = list->font();
  slanted.setItalic(true);
  for (int i = 0; i < outbox.Count(); ++i) {
    auto* item =
        new QListWidgetItem(QString::fromStdString(KeptRowText(outbox.Entries()[i], next)));
    item->setFont(slanted);
    list->insertItem(i, item);
  }
  list->scrollToTop();
}

int THistoryView::KeptRows() const { return stack_.Outbox.Count(); }

void THistoryView::Select(int index) {
  QListWidget* list = window_.lstHistory;
  if (index < 0 || !list) return;
  index += KeptRows();
  if (index >= list->count()) return;
  list->setCurrentRow(index);
  list->scrollToItem(list->item(index), QAbstractItemView::PositionAtTop);
}

int THistoryView::SelectedEntry() const {
  if (!window_.lstHistory) return -1;
  const auto selected = window_.lstHistory->selectedItems();
  if (selected.isEmpty()) return -1;
  const int row = window_.lstHistory->row(selected.front()) - KeptRows();
  return row < 0 ? -1 : row;
}

int THistoryView::SelectedKept() const {
  if (!window_.lstHistory) return -1;
  const auto selected = window_.lstHistory->selectedItems();
  if (selected.isEmpty()) return -1;
  const int row = window_.lstHistory->row(selected.front());
  return row < KeptRows() ? row : -1;
}

void THistoryView::MouseDown(QPoint position) {
  QListWidget* list = window_.lstHistory;
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

bool THistoryView::eventFilter(QObject* watched, QEvent* event) {
  QMenu* menu = window_.PopupMenu1;
  const bool press = event->type() == QEvent::MouseButtonPress;
  const bool release = event->type() == QEvent::MouseButtonRelease;
  if (window_.lstHistory && watched == window_.lstHistory->viewport() && (press || release)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (press) {
      MouseDown(mouse->position().toPoint());
      return mouse->button() == Qt::RightButton;
    }
    if (mouse->button() == Qt::RightButton) {
      if (auto_popup_) menu->popup(mouse->globalPosition().toPoint());
      return true;
    }
  } else if (watched == window_.GroupBox2 && event->type() == QEvent::ContextMenu) {
    if (auto_popup_) menu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
  }
  return QObject::eventFilter(watched, event);
}

// A kept request's row offers its own two commands, a history entry the rest.
void THistoryView::MenuAboutToShow() {
  const bool kept = SelectedKept() >= 0;
  for (QAction* action : window_.PopupMenu1->actions()) {
    if (action == window_.mnuHelp || action == mnuAskHelp) continue;
    const bool ours = action == mnuSendNow || action == mnuDiscard;
    action->setVisible(ours == kept);
  }
}

void THistoryView::mnuShowDetailClick() {
  const int index = SelectedEntry();
  if (index < 0 || index >= stack_.History.Count()) return;
  QString text = QString::fromStdString(THistory::DetailText(stack_.History.Items()[index]));
  text.replace("\r\n", "\n");
  QMessageBox box(QMessageBox::NoIcon, "Tolvane", text, QMessageBox::Ok, &window_);
  box.exec();
}

void THistoryView::mnuDeletefromHistoryClick() {
  const int index = SelectedEntry();
  if (index < 0) return;
  stack_.History.Delete(index);
  Show();
}

void THistoryView::mnuRequestAgainClick() {
  const int index = SelectedEntry();
  if (index < 0) return;
  stack_.Dispatcher.RequestAgain(index);
}

// A held request goes with every other held one: they travel together.
void THistoryView::mnuSendNowClick() {
  const int index = SelectedKept();
  if (index < 0) return;
  const TOutboxEntry& entry = stack_.Outbox.Entries()[index];
  if (TOutbox::Held(entry))
    stack_.Dispatcher.FlushOutbox(true);
  else
    stack_.Dispatcher.SendKept(entry.Url);
}

void THistoryView::mnuDiscardClick() {
  const int index = SelectedKept();
  if (index < 0) return;
  stack_.Outbox.Remove(stack_.Outbox.Entries()[index].Url);
  Show();
}

// The server of the entry chosen, or the pages server chosen in the window.
void THistoryView::mnuAskHelpClick() {
  std::string server = stack_.Servers.Choice().PagesServer;
  if (const int index = SelectedEntry(); index >= 0 && index < stack_.History.Count()) {
    const std::string named = HistoryLineServer(stack_.History.Items()[index]);
    if (!named.empty()) server = named;
  }
  const bool sent = stack_.Dispatcher.AskServerForHelp(server);
  QMessageBox::information(&window_, "Tolvane",
                           QString::fromStdString(AskHelpOutcome(server, sent)));
}
