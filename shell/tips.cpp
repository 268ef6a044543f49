#include "shell/tips.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <charconv>

#include "app/settings.h"
#include "base/debug_log.h"
#include "base/file_helpers.h"
#include "platform/errors.h"
#include "platform/file_layout.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "shell/dialogs.h"
#include "shell/help.h"
#include "shell/task_icon.h"
#include "shell/ui_style.h"

namespace {

// A whole decimal number, optionally signed, with blanks around it.
int TipTopic(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  const char* first = text.data() + b;
  const char* last = text.data() + e;
  if (first != last && *first == '+') ++first;
  int value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || end != last) {
    throw EError("'" + text + "' is not a valid integer value");
  }
  return value;
}

}  // namespace

std::string TipsFilePath() { return DataFilePath("tips.dat"); }

std::vector<std::string> SplitTipLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

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

namespace {

std::vector<std::string> LoadTips() {
  const std::string path = TipsFilePath();
  if (!FileExists(path)) throw EFileError("Cannot open file \"" + path + "\"");
  return SplitTipLines(ReadFileString(path));
}

void NextTip(TTipState& state, std::size_t count) {
  // A number below 0 (a hand-edited file) starts again at the first tip.
  if (state.Number >= 0 && state.Number < static_cast<int>(count) - 1) {
    ++state.Number;
  } else {
    state.Number = 0;
  }
  state.Save();
}

void CheckTipNumber(const TTipState& state, std::size_t count) {
  if (state.Number < 0 || state.Number >= static_cast<int>(count)) {
    throw EError("List index out of bounds (" + std::to_string(state.Number) + ")");
  }
}

}  // namespace

void TfrmTips::FormCreate() {
  if (state_.Enabled) chkShowTips->setChecked(true);
  tips_ = LoadTips();
  btnNextClick();
}

void TfrmTips::Advance() { NextTip(state_, tips_.size()); }

void TfrmTips::GoBack() {
  const int count = static_cast<int>(tips_.size());
  if (state_.Number > 0 && state_.Number < count) {
    --state_.Number;
  } else {
    state_.Number = count > 0 ? count - 1 : 0;
  }
  state_.Save();
}

void TfrmTips::Display() {
  CheckTipNumber(state_, tips_.size());
  const std::string& line = tips_[static_cast<std::size_t>(state_.Number)];
  const auto comma = line.find(',');
  const std::string number = comma == std::string::npos ? std::string() : line.substr(0, comma);
  const std::string text = comma == std::string::npos ? line : line.substr(comma + 1);
  StaticText1->setText(QString::fromStdString(text));
  help_topic_ = TipTopic(number);
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

void StepTipOfTheDay(TTipState& state) {
  try {
    const std::vector<std::string> tips = LoadTips();
    NextTip(state, tips.size());
    CheckTipNumber(state, tips.size());
  } catch (const std::exception& e) {
    AppExceptionAt("TfrmTips", e.what());
  }
}
