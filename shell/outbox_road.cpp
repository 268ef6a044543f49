#include "shell/outbox_road.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QTimer>

#include <algorithm>

#include "shell/main_window.h"

namespace {

// Requests in the outbox of the tray program, for its tool tip.
int g_waiting = 0;

}  // namespace

std::string WithWaitingCount(const std::string& base) {
  if (g_waiting == 0) return base;
  return base + ": " + std::to_string(g_waiting) +
         (g_waiting == 1 ? " request waiting" : " requests waiting");
}

TOutboxRoad::TOutboxRoad(TfrmProps& main, TRequestDispatcher& dispatcher, TOutbox& outbox,
                         std::function<void()> showHistory)
    : main_(main),
      dispatcher_(dispatcher),
      outbox_(outbox),
      show_history_(std::move(showHistory)),
      scheduler_(dispatcher, outbox,
                 [this](const std::function<void()>& round) { Guarded(&main_, round); }) {
  mnuSendNow = main_.AddMenuAction("Send &Now", "mnuSendNow", this, [this] { mnuSendNowClick(); });
  mnuDiscard = main_.AddMenuAction("&Discard", "mnuDiscard", this, [this] { mnuDiscardClick(); });
  connect(main_.PopupMenu1, &QMenu::aboutToShow, this, [this] { MenuAboutToShow(); });

  dispatcher_.OnOutboxChanged = [this] { Changed(); };
}

TOutboxRoad::~TOutboxRoad() {
  dispatcher_.OnOutboxChanged = nullptr;
  g_waiting = 0;
}

std::string TOutboxRoad::RowText(const TOutboxEntry& entry) {
  if (TOutbox::Sending(entry)) return entry.Url + " sending";
  std::string text = entry.Url + " waiting";
  if (entry.FirstTry > 0)
    text += " since " + ShortDateText(entry.FirstTry) + " " + LongTimeText(entry.FirstTry);
  if (!entry.Reason.empty()) text += ": " + entry.Reason;
  return text;
}

void TOutboxRoad::ShowKept() {
  QListWidget* list = main_.lstHistory;
  if (!list) return;
  const QColor grey = list->palette().color(QPalette::Disabled, QPalette::Text);
  for (int i = 0; i < outbox_.Count(); ++i) {
    auto* item = new QListWidgetItem(QString::fromStdString(RowText(outbox_.Entries()[i])));
    item->setForeground(grey);
    list->insertItem(i, item);
  }
  list->scrollToTop();
  g_waiting = outbox_.Count();
  main_.UpdateTrayIcon();
  scheduler_.Arm();
}

void TOutboxRoad::Changed() {
  if (show_history_) show_history_();
}

void TOutboxRoad::Flush(std::function<void(int left)> done) {
  dispatcher_.FlushOutbox();
  if (dispatcher_.Idle()) {
    done(outbox_.Count());
    return;
  }
  // Queued behind a request that runs: answer once the queue is empty.
  auto* poll = new QTimer(this);
  connect(poll, &QTimer::timeout, this, [this, poll, done] {
    if (!dispatcher_.Idle()) return;
    poll->stop();
    poll->deleteLater();
    done(outbox_.Count());
  });
  poll->start(200);
}

int TOutboxRoad::SelectedKept() const {
  if (!main_.lstHistory) return -1;
  const auto selected = main_.lstHistory->selectedItems();
  if (selected.isEmpty()) return -1;
  const int row = main_.lstHistory->row(selected.front());
  return row < outbox_.Count() ? row : -1;
}

void TOutboxRoad::MenuAboutToShow() {
  const bool kept = SelectedKept() >= 0;
  for (QAction* action : main_.PopupMenu1->actions()) {
    if (action == main_.mnuHelp) continue;
    const bool ours = action == mnuSendNow || action == mnuDiscard;
    action->setVisible(ours == kept);
  }
}

void TOutboxRoad::mnuSendNowClick() {
  const int index = SelectedKept();
  if (index < 0) return;
  dispatcher_.SendKept(outbox_.Entries()[index].Url);
}

void TOutboxRoad::mnuDiscardClick() {
  const int index = SelectedKept();
  if (index < 0) return;
  outbox_.Remove(outbox_.Entries()[index].Url);
  Changed();
}
