#include "shell/dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QWidget>

#include "base/debug_log.h"
#include "core/request_builder.h"
#include "net/ras.h"
#include "shell/help.h"
#include "shell/ui_style.h"

namespace {

QMessageBox::Icon IconOf(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return QMessageBox::Warning;
    case TMsgDlgType::mtError:
      return QMessageBox::Critical;
    case TMsgDlgType::mtInformation:
      return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QString CaptionOf(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return "Warning";
    case TMsgDlgType::mtError:
      return "Error";
    case TMsgDlgType::mtInformation:
      return "Information";
    case TMsgDlgType::mtConfirmation:
      return "Confirm";
  }
  return "Tolvane";
}

// Keeps a window on top for as long as this lives.
class KeepOnTop {
 public:
  explicit KeepOnTop(QWidget* window) : window_(window) { Set(true); }
  ~KeepOnTop() { Set(false); }
  KeepOnTop(const KeepOnTop&) = delete;
  KeepOnTop& operator=(const KeepOnTop&) = delete;

 private:
  void Set(bool on) {
    if (!window_ || window_->testAttribute(Qt::WA_DontShowOnScreen)) return;
    const bool visible = window_->isVisible();
    // Changing the flags hides a shown window; show it again where it was.
    const QPoint place = window_->pos();
    window_->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible) {
      window_->move(place);
      window_->show();
    }
  }
  QPointer<QWidget> window_;
};

}  // namespace

QString MarkAccelerators(const std::string& text) {
  const QString in = QString::fromStdString(text);
  QString out;
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] == '&' && i + 1 < in.size()) {
      ++i;
      if (in[i] == '&') {
        out += "&amp;";
      } else {
        out += "<u>" + QString(in[i]).toHtmlEscaped() + "</u>";
      }
      continue;
    }
    out += QString(in[i]).toHtmlEscaped();
  }
  return out;
}

std::string EscapeAccelerators(const std::string& text) { return ReplaceAll("&", text, "&&"); }

QMessageBox::StandardButton TopmostMessageDlg(const std::string& text, TMsgDlgType type,
                                              QMessageBox::StandardButtons buttons, int helpTopic,
                                              QWidget* owner) {
  // Wayland keeps no window above other applications: there the box is an
  // ordinary modal box of its owner.
  const bool wayland = OnWayland();
  KeepOnTop on_top(wayland ? nullptr : owner);
  QMessageBox box(IconOf(type), CaptionOf(type), QString::fromStdString(text), buttons,
                  owner && (wayland || owner->isVisible()) ? owner : nullptr);
  box.setObjectName("TopmostMessageDlg");
  box.setWindowFlag(Qt::WindowStaysOnTopHint, !wayland);
  // Plain text would show "&" as it is; the box underlines the marked letter.
  box.setTextFormat(Qt::RichText);
  box.setText(MarkAccelerators(text));
  for (;;) {
    const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
    if (answer != QMessageBox::Help) return answer;
    ShowHelpTopic(helpTopic, true);
  }
}

void InstallErrorBox() {
  SetErrorBox([](const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.setObjectName("ErrorBox");
    box.setTextFormat(Qt::PlainText);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
  });
}

void InstallRasBoxes() {
  SetRasMessageBoxHook([](const std::string& text) {
    TopmostMessageDlg(text, TMsgDlgType::mtError, QMessageBox::Ok, 0, nullptr);
  });
  SetRasErrorHook([](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      AppException(nullptr, e.what());
    }
  });
}

void AppException(const QObject* receiver, const std::string& message) {
  AppExceptionAt(receiver ? receiver->metaObject()->className() : "TApplication", message);
}

void AppExceptionAt(const char* where, const std::string& message) {
  ShowError(where, "UH " + message);
}
