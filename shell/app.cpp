#include "shell/app.h"

#include <unistd.h>

#include <QIcon>
#include <QProxyStyle>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/datetime.h"
#include "shell/dialogs.h"
#include "shell/helpers/debug_log.h"
#include "shell/helpers/text_helpers.h"
#include "shell/main_window.h"
#include "shell/single_instance.h"
#include "shell/tips.h"
#include "shell/ui_style.h"

namespace {

std::string ProgramPath(const char* argv0) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
  return argv0 ? argv0 : "tolvane";
}

}  // namespace

namespace {

// Buttons of message boxes read better without the theme's pictures.
class TStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 0;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setStyle(new TStyle);  // the application takes ownership
  setFont(FormFont());
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    AppException(receiver, e.what());
  } catch (...) {
    AppException(receiver, "Unknown error");
  }
  return false;
}

int RunTrayProgram(int argc, char** argv) {
  // Taken before anything else, and held until the process ends.
  TPreviousInstance previous(ProgramPath(argc > 0 ? argv[0] : nullptr));
  SetPreviousInstance(&previous);

  TApplication app(argc, argv);
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  ProgramFolder();
  DebugLog("Started Tolvane");

  QApplication::setApplicationName("Tolvane");
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QString::fromStdString(IconPath("bright"))));
  InstallErrorBox();

  int code = 0;
  {
    TfrmProps main(&previous);
    if (main.EndThisProcess()) {
      // Another instance runs and was asked to come up; nothing is saved.
      std::_Exit(0);
    }
    previous.Listen([&main] { main.ShowCentred(); });
    // Made hidden at start: it steps the tip forward once.
    TfrmTips hiddenTips;
    code = QApplication::exec();
    previous.StopListening();
  }
  SetErrorBox({});
  SetPreviousInstance(nullptr);
  return code;
}
