#include "shell/tips.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "base/debug_log.h"
#include "platform/file_layout.h"
#include "shell/dialogs.h"
#include "shell/help.h"
#include "shell/task_icon.h"
#include "shell/ui_style.h"

TfrmTips::TfrmTips(TTipState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      state_(state) {
  setObjectName("frmTips");
  setWindowTitle("Tolvane - Tip of the Day");
  setFont(FormFont());
  setFixedSize(363, 204);

  Image1 = Place(new QLabel(this), "Image1", 8, 8, 32, 32);
  QIcon bulb(QString::fromStdString(IconPath("bright")));
  if (bulb.isNull()) bulb = style()->standardIcon(QStyle::SP_MessageBoxInformation);
  Image1->setPixmap(bulb.pixmap(32, 32));

  Label1 = Place(new QLabel("Did you know?", this), "Label1", 56, 8, 217, 32);
  Label1->setFont(FormFont(12, true));
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  StaticText1 = Place(new QLabel(this), "StaticText1", 8, 48, 265, 129);
  StaticText1->setFont(FormFont(10));
  StaticText1->setAlignment(Qt::AlignCenter);
  StaticText1->setWordWrap(true);
  StaticText1->setTextFormat(Qt::PlainText);
  StaticText1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  StaticText1->setMargin(4);
  StaticText1->setAutoFillBackground(true);
  // A text field's colours, so that a dark theme stays readable.
  StaticText1->setBackgroundRole(QPalette::Base);
  StaticText1->setForegroundRole(QPalette::Text);

  btnOk = Place(new QPushButton("&Ok", this), "btnOk", 288, 16, 65, 25);
  btnNext = Place(new QPushButton("&Next", this), "btnNext", 288, 56, 65, 25);
  btnPrevious = Place(new QPushButton("&Previous", this), "btnPrevious", 288, 96, 65, 25);
  btnHelp = Place(new QPushButton("&Help", this), "btnHelp", 288, 136, 65, 25);
  chkShowTips = Place(new QCheckBox("Show these tips", this), "chkShowTips", 8, 184, 337, 17);
  btnOk->setDefault(true);
  for (QPushButton* b : {btnNext, btnPrevious, btnHelp}) b->setAutoDefault(false);

  connect(btnOk, &QPushButton::clicked, this, [this] { accept(); });
  connect(btnNext, &QPushButton::clicked, this,
          [this] { Guarded(btnNext, [&] { btnNextClick(); }); });
  connect(btnPrevious, &QPushButton::clicked, this,
          [this] { Guarded(btnPrevious, [&] { btnPreviousClick(); }); });
  connect(btnHelp, &QPushButton::clicked, this,
          [this] { Guarded(btnHelp, [&] { btnHelpClick(); }); });
  connect(chkShowTips, &QCheckBox::clicked, this,
          [this] { Guarded(chkShowTips, [&] { chkShowTipsClick(); }); });

  FitCaptions(this);
  // Centred on the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
  }
  btnOk->setFocus(Qt::OtherFocusReason);

  Guarded(this, [this] { FormCreate(); });
}

void TfrmTips::FormCreate() {
  if (state_.Enabled) chkShowTips->setChecked(true);
  tips_ = LoadTips();
  btnNextClick();
}

void TfrmTips::Advance() { NextTip(state_, tips_.size()); }

void TfrmTips::GoBack() { PreviousTip(state_, tips_.size()); }

void TfrmTips::Display() {
  const TTip tip = TipAt(state_, tips_);
  StaticText1->setText(QString::fromStdString(tip.Text));
  help_topic_ = tip.HelpTopic();
  btnHelp->setEnabled(help_topic_ != 0);
}

void TfrmTips::btnNextClick() {
  Advance();
  Display();
}

void TfrmTips::btnPreviousClick() {
  GoBack();
  Display();
}

void TfrmTips::btnHelpClick() {
  ShowHelpTopic(help_topic_);
  accept();
}

void TfrmTips::chkShowTipsClick() {
  state_.Enabled = chkShowTips->isChecked();
  state_.Save();
}

void ShowTipOfTheDay(TTipState& state, TTaskIcon* icon) {
  if (state.Showing) return;
  state.Showing = true;
  // However the window ends, the flag clears and the icon comes back.
  struct Restore {
    TTipState& state;
    TTaskIcon* icon;
    ~Restore() {
      if (icon) icon->SetActive(true);
      state.Showing = false;
    }
  } restore{state, icon};
  TfrmTips tips(state);
  if (icon) icon->SetActive(false);
  tips.exec();
}
