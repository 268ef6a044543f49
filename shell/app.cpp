#include "shell/app.h"

#include <malloc.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QIcon>
#include <QMessageBox>
#include <QProxyStyle>
#include <QSocketNotifier>

#include <climits>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/settings.h"
#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "platform/datetime.h"
#include "platform/folders.h"
#include "shell/clipboard_watch.h"
#include "shell/desktop_controls.h"
#include "shell/dialogs.h"
#include "shell/mail_address_dlg.h"
#include "shell/single_instance.h"
#include "shell/tips.h"
#include "shell/tray_app.h"
#include "shell/ui_style.h"

namespace {

std::string ProgramPath(const char* argv0) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
  return argv0 ? argv0 : "tolvane";
}

// Without a display Qt would abort with its own platform message.
bool HasDesktop() {
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
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

// A session that ends, or Ctrl+C in a terminal, ends Tolvane the normal way,
// so that the history and the tray icon state are saved as at Unload. A
// signal handler can reach only a plain variable: the pipe's write end.
int stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(stop_pipe[0], &byte, 1);
}

std::unique_ptr<QSocketNotifier> CatchStopSignals(TTrayApp& app) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, stop_pipe) != 0) {
    return nullptr;
  }
  auto notifier = std::make_unique<QSocketNotifier>(stop_pipe[1], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [&app] {
    char byte;
    while (::read(stop_pipe[1], &byte, 1) > 0) {
    }
    app.Stop();
  });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
  return notifier;
}

// Said once per installation: the user may wonder why Tolvane runs through
// XWayland, or why copies go unseen.
void NoticeClipboardPlatformOnce(const std::string& note) {
  if (note.empty() || !TakeClipboardNotice(SettingsFilePath())) return;
  auto* box = new QMessageBox(QMessageBox::Information, "Tolvane",
                              QString::fromStdString(note + "."), QMessageBox::Ok);
  box->setObjectName("ClipboardNotice");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();  // not modal: start-up goes on
}

[[noreturn]] void RefuseToStart(const std::string& text) {
  DebugLog(text);
  std::cerr << "tolvane: " << text << "\n";
  QMessageBox box(QMessageBox::Critical, "Tolvane", QString::fromStdString(text), QMessageBox::Ok);
  box.setObjectName("RefusedStart");
  box.exec();
  std::_Exit(1);
}

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
  if (!HasDesktop()) {
    std::cerr << "tolvane: the tray program needs a desktop session (no display found); "
                 "tolvane --compose URL and tolvane --request URL work without one\n";
    return 2;
  }
  // One thread does nearly all the work: fewer malloc arenas, less memory.
  ::mallopt(M_ARENA_MAX, 2);
  // A tray program draws no OpenGL: the GL libraries stay unloaded.
  if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) {
    qputenv("QT_XCB_GL_INTEGRATION", "none");
  }
  // Taken before anything else, and held until the process ends.
  TPreviousInstance previous(ProgramPath(argc > 0 ? argv[0] : nullptr));

  const std::string clipboardNote = ChooseClipboardPlatform();
  TApplication app(argc, argv);
  SetProgramArguments(argc, argv);
  UseUserTimeLocale();
  ProgramFolder();
  DebugLog("Started Tolvane");
  if (!clipboardNote.empty()) DebugLog(clipboardNote);

  QApplication::setApplicationName("Tolvane");
  QGuiApplication::setDesktopFileName(kAppId);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QString::fromStdString(IconPath("bright"))));
  InstallErrorBox();
  InstallRasBoxes();
  InstallMailAddressEditHook();

  int code = 0;
  {
    TTrayApp tray(&previous, TfrmProps::TControls::OnFirstShow);
    if (tray.EndThisProcess()) {
      // Another instance runs and was asked to come up, or none can be told
      // apart from this one; nothing is saved.
      if (previous.LockFailed()) RefuseToStart(previous.RefusalText());
      std::_Exit(0);
    }
    // Before the first box of the start-up, so that no stop is lost in it.
    const std::unique_ptr<QSocketNotifier> stopSignals = CatchStopSignals(tray);
    tray.Start();
    previous.Listen([&tray] { tray.Window().ShowCentred(); });
    NoticeClipboardPlatformOnce(clipboardNote);
    // The tip steps forward once per start (not over the stored number when
    // the settings were never read).
    if (tray.SettingsLoaded() && !tray.Stopping()) StepTipOfTheDay(tray.Tips());
    // A stop during the start-up's boxes ended only their loops.
    if (!tray.Stopping()) {
      ::malloc_trim(0);  // what the start-up freed goes back to the system
      code = QApplication::exec();
    }
    previous.StopListening();
  }
  SetErrorBox({});
  return code;
}
