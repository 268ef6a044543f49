#include "shell/help.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <memory>
#include <utility>

#include "base/debug_log.h"
#include "platform/file_layout.h"
#include "platform/files.h"

namespace {

class THelpWindow : public QDialog {
 public:
  THelpWindow() : QDialog(nullptr, Qt::Window) {
    setObjectName("frmHelp");
    setWindowTitle("Tolvane Help");
    resize(560, 460);
    auto* layout = new QVBoxLayout(this);
    browser = new QTextBrowser(this);
    browser->setObjectName("browser");
    browser->setOpenExternalLinks(false);
    layout->addWidget(browser);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* contents = buttons->addButton("C&ontents", QDialogButtonBox::ActionRole);
    QPushButton* back = buttons->addButton("&Back", QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton("&Close", QDialogButtonBox::RejectRole);
    connect(contents, &QPushButton::clicked, this, [this] { Open("index.html"); });
    connect(back, &QPushButton::clicked, browser, &QTextBrowser::backward);
    connect(browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    back->setEnabled(false);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    layout->addWidget(buttons);
  }

  void Open(const std::string& page) {
    browser->setSearchPaths({QString::fromStdString(DataFilePath("help/"))});
    browser->setSource(QUrl(QString::fromStdString(page)));
  }

  QTextBrowser* browser;
};

// Not a static with a destructor: exit handlers (Qt's, when the X
// connection breaks) must find no widget to free.
THelpWindow* g_window = nullptr;

// Widgets must go before the application object does.
void FreeHelpWindow() { const std::unique_ptr<THelpWindow> gone(std::exchange(g_window, nullptr)); }

}  // namespace

std::string HelpPagePath(int topic) {
  return DataFilePath("help/" + std::to_string(topic) + ".html");
}

void ShowHelpTopic(int topic, bool modal) {
  if (!g_window) {
    g_window = std::make_unique<THelpWindow>().release();
    qAddPostRoutine(FreeHelpWindow);
  }
  THelpWindow* window = g_window;
  if (FileExists(HelpPagePath(topic))) {
    window->Open(std::to_string(topic) + ".html");
  } else {
    window->Open("index.html");
    window->browser->append(
        QString("<p><i>There is no help page for topic %1.</i></p>").arg(topic));
  }
  if (modal) {
    window->exec();
    return;
  }
  window->show();
  window->raise();
  window->activateWindow();
}

QWidget* HelpWindow() { return g_window; }
