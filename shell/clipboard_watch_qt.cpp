#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QObject>

#include "base/debug_log.h"
#include "shell/clipboard_watch.h"
#include "shell/ui_style.h"

namespace {

class TQtClipboardWatch : public TClipboardWatch {
 public:
  TQtClipboardWatch() {
    connection_ = QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged,
                                   [this] { Changed(); });
  }
  ~TQtClipboardWatch() override { QObject::disconnect(connection_); }

 private:
  void Changed() {
    if (!OnChange || !OnChange()) return;
    // Read at once: by the time a queued request runs, the clipboard may
    // hold something else.
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard->mimeData(QClipboard::Clipboard);
    if (data && data->hasFormat(kPasswordHintType) &&
        IsSecretHint(data->data(kPasswordHintType).toStdString())) {
      DebugLog(kSecretNotRead);
      if (OnText) OnText({});
      return;
    }
    const std::string text = clipboard->text(QClipboard::Clipboard).toStdString();
    if (OnText) OnText(text);
  }

  QMetaObject::Connection connection_;
};

}  // namespace

const char kPasswordHintType[] = "x-kde-passwordManagerHint";

bool IsSecretHint(const std::string& value) { return value == "secret"; }

std::unique_ptr<TClipboardWatch> MakeQtClipboardWatch() {
  return std::make_unique<TQtClipboardWatch>();
}

std::unique_ptr<TClipboardWatch> MakeClipboardWatch() {
  if (OnWayland()) {
    if (auto watch = MakeWaylandClipboardWatch()) return watch;
    DebugLog("No data-control protocol: copies are seen only while a Tolvane window has the focus");
  }
  return MakeQtClipboardWatch();
}
