#include "shell/request_view.h"

#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include "base/debug_log.h"
#include "shell/dialogs.h"
#include "shell/progress.h"

TRequestView::TRequestView(QWidget& window) : window_(window) {}

TRequestView::~TRequestView() = default;

TRequestUi::TAnswer TRequestView::Confirm(const std::string& question) {
  const bool wasVisible = window_.isVisible();
  window_.hide();
  const auto answer = TopmostMessageDlg(EscapeAccelerators(question), TMsgDlgType::mtConfirmation,
                                        QMessageBox::Yes | QMessageBox::No, 0, &window_);
  if (wasVisible) window_.show();
  if (answer == QMessageBox::No) return TRequestUi::TAnswer::No;
  if (answer == QMessageBox::Yes) return TRequestUi::TAnswer::Yes;
  return TRequestUi::TAnswer::Closed;
}

TRequestUi::TCredentials TRequestView::AskAboutCredentials(const std::string& masked) {
  QMessageBox box(QMessageBox::Warning, "Tolvane",
                  QString::fromStdString("The address " + masked +
                                         " holds a password. The request server, and everyone "
                                         "on the way, would read it. Send it?"),
                  QMessageBox::NoButton, &window_);
  box.setObjectName("CredentialsBox");
  box.setTextFormat(Qt::PlainText);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  QAbstractButton* without = box.addButton("Send &without the password", QMessageBox::AcceptRole);
  QAbstractButton* with = box.addButton("Send &with it", QMessageBox::DestructiveRole);
  box.addButton("&Don't send", QMessageBox::RejectRole);
  box.setDefaultButton(qobject_cast<QPushButton*>(without));
  box.exec();
  if (box.clickedButton() == without) return TRequestUi::TCredentials::WithoutThem;
  if (box.clickedButton() == with) return TRequestUi::TCredentials::Send;
  return TRequestUi::TCredentials::No;
}

std::optional<std::string> TRequestView::AskPassword(const std::string& prompt) {
  QInputDialog box(&window_);
  box.setObjectName("PasswordBox");
  box.setWindowTitle("Tolvane");
  box.setLabelText(QString::fromStdString(prompt + " (to keep it, type it in the Password field)"));
  box.setTextEchoMode(QLineEdit::Password);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  if (box.exec() != QDialog::Accepted || box.textValue().isEmpty()) return std::nullopt;
  return box.textValue().toStdString();
}

void TRequestView::OpenProgress(const std::string& label) {
  if (!progress_) {
    progress_ = std::make_unique<TfrmProgress>();
    hide_later_ = new QTimer(progress_.get());
    hide_later_->setSingleShot(true);
    hide_later_->setInterval(kLingerMs);
    QObject::connect(hide_later_, &QTimer::timeout, progress_.get(), &QWidget::hide);
  }
  const bool lingering = hide_later_->isActive();
  hide_later_->stop();
  progress_->Label1->setText(QString::fromStdString(label));
  progress_->ProgressBar1->setValue(0);
  if (lingering) return;  // still up, where the last request put it
  progress_->PlaceNearPointer();
  progress_->show();
}

void TRequestView::SetProgress(int position) {
  if (progress_) progress_->ProgressBar1->setValue(position);
}

void TRequestView::CloseProgress() {
  if (progress_ && progress_->isVisible()) hide_later_->start();
}

TfrmProgress* TRequestView::Progress() const {
  const bool open = progress_ && progress_->isVisible() && !hide_later_->isActive();
  return open ? progress_.get() : nullptr;
}

void TRequestView::SetStatus(const std::string& text) {
  status_ = text;
  DebugLog(text);
}

void TRequestView::ShowBriefNotice(const std::string& text) {
  ShowNotice(text);
  SetStatus("Requesting");
}

void TRequestView::ShowNotice(const std::string& text) {
  try {
    TfrmProgress notice;
    notice.ProgressBar1->hide();
    notice.Label1->setGeometry(5, 9, 182, 15);
    notice.Label1->setText(QString::fromStdString(text));
    notice.Timer1->start();
    notice.exec();
  } catch (...) {
    // A notice that cannot be shown is not worth a failure of its caller.
  }
}
