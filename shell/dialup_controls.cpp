#include "shell/dialup_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include <algorithm>
#include <string>

#include "app/settings.h"
#include "net/nm_client.h"
#include "shell/main_window.h"

namespace {

constexpr int kRowHeight = 30;
constexpr char kNone[] = "(none)";

class TDialupRow : public QObject {
 public:
  TDialupRow(QWidget* window, const QDBusConnection& bus) : QObject(window), nm_(bus) {
    setObjectName("dialupRow");
  }

  QLabel* label = nullptr;
  QComboBox* entries = nullptr;
  QCheckBox* hangUp = nullptr;

  // The profiles as NetworkManager has them now; the row greyed with the
  // reason when it cannot say.
  void Fill(const std::string& chosen) {
    entries->clear();
    entries->addItem(kNone);
    std::string reason;
    if (!nm_.Present()) {
      reason =
          "NetworkManager is not running on the system bus: there is no connection to bring up";
    } else {
      try {
        for (const NmProfile& p : nm_.Profiles()) entries->addItem(QString::fromStdString(p.id));
      } catch (const NmCallError& e) {
        reason = std::string("NetworkManager did not list its connections: ") + e.what();
      }
    }
    if (!chosen.empty() && entries->findText(QString::fromStdString(chosen)) < 0)
      entries->addItem(QString::fromStdString(chosen));
    entries->setCurrentIndex(chosen.empty() ? 0
                                            : entries->findText(QString::fromStdString(chosen)));
    const QString tip = reason.empty()
                            ? QString("Tolvane brings this connection up before it sends")
                            : QString::fromStdString(reason);
    for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(entries),
                       static_cast<QWidget*>(hangUp)}) {
      w->setEnabled(reason.empty());
      w->setToolTip(tip);
    }
  }

 private:
  NmClient nm_;
};

TDialupRow* Row(const TfrmProps& form) {
  return form.findChild<TDialupRow*>("dialupRow", Qt::FindDirectChildrenOnly);
}

}  // namespace

void AddDialupControls(TfrmProps& form, const QDBusConnection& bus) {
  auto* row = new TDialupRow(&form, bus);
  const int top = form.height() + 4;
  row->label = new QLabel("Bring up this connection to send:", &form);
  row->label->setObjectName("lblDialEntry");
  row->entries = new QComboBox(&form);
  row->entries->setObjectName("cboDialEntry");
  row->label->setBuddy(row->entries);
  row->hangUp = new QCheckBox("Hang up after sending", &form);
  row->hangUp->setObjectName("chkHangUp");

  const int labelWidth = row->label->sizeHint().width();
  const int boxWidth = row->hangUp->sizeHint().width();
  row->label->setGeometry(8, top + 4, labelWidth, 17);
  const int comboLeft = 8 + labelWidth + 6;
  const int boxLeft = form.width() - 9 - boxWidth;
  row->entries->setGeometry(comboLeft, top, std::max(80, boxLeft - 8 - comboLeft), 24);
  row->hangUp->setGeometry(boxLeft, top + 3, boxWidth, 17);
  row->hangUp->setChecked(true);
  row->Fill({});
  form.setFixedSize(form.width(), form.height() + kRowHeight);
}

void ShowDialup(TfrmProps& form, const TSettings& settings) {
  TDialupRow* row = Row(form);
  if (!row) return;
  row->Fill(settings.DialEntry);
  row->hangUp->setChecked(settings.HangUp);
}

void ReadDialup(const TfrmProps& form, TSettings& settings) {
  const TDialupRow* row = Row(form);
  if (!row) return;
  settings.DialEntry =
      row->entries->currentIndex() <= 0 ? std::string() : row->entries->currentText().toStdString();
  settings.HangUp = row->hangUp->isChecked();
}
