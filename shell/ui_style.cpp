#include "shell/ui_style.h"

#include "platform/file_layout.h"
#include "platform/files.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QStringList>
#include <QStyle>
#include <QVariant>
#include <QWidget>

#include <algorithm>

QFont FormFont(int pointSize, bool bold) {
  QFont font;
  // Arial's metrics: fontconfig maps the name to whichever compatible face
  // is installed (Liberation Sans, Nimbus Sans).
  font.setFamilies({"Arial", "Liberation Sans", "Nimbus Sans", "Helvetica"});
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

QString GroupBoxStyle() {
  // Captions sit on the frame line, so that controls placed a line below the
  // caption are inside the frame.
  return "QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 6px; }"
         "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
         " left: 7px; top: 0px; padding: 0px 2px; }";
}

void SetHelpTopic(QWidget* control, int topic) { control->setProperty("helpTopic", topic); }

int HelpTopicOf(const QWidget* control) {
  return control ? control->property("helpTopic").toInt() : 0;
}

int HelpTopicAt(const QWidget* control) {
  for (const QWidget* w = control; w; w = w->parentWidget()) {
    if (int topic = HelpTopicOf(w)) return topic;
  }
  return 0;
}

bool OnWayland() { return QGuiApplication::platformName().startsWith("wayland"); }
namespace {

// Space kept between a grown control and what follows it.
constexpr int kGap = 4;

QList<QWidget*> PlacedChildren(QWidget* parent) {
  QList<QWidget*> out;
  for (QWidget* c : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!c->isWindow() && !c->isHidden()) out.push_back(c);
  }
  return out;
}

// Makes `delta` pixels of room at x = `at`: children beyond it move right,
// children across it grow.
void InsertColumn(QWidget* parent, int at, int delta) {
  for (QWidget* c : PlacedChildren(parent)) {
    if (c->x() >= at) {
      c->move(c->x() + delta, c->y());
    } else if (c->x() + c->width() >= at) {
      c->resize(c->width() + delta, c->height());
    }
  }
}

// Free pixels right of `c` before a sibling on the same rows or the edge.
int RoomRight(QWidget* parent, const QWidget* c) {
  // Inside a frame, text keeps the margin the controls keep on its left.
  int limit = parent->width() - (qobject_cast<QGroupBox*>(parent) ? 8 : kGap);
  const int right = c->x() + c->width();
  for (const QWidget* s : PlacedChildren(parent)) {
    const bool rowsMeet = s->y() < c->y() + c->height() && c->y() < s->y() + s->height();
    if (s != c && rowsMeet && s->x() >= right) limit = std::min(limit, s->x() - kGap);
  }
  return std::max(0, limit - right);
}

// Fits the children of `parent`; returns how much wider it must become.
int FitChildren(QWidget* parent) {
  int grown = 0;
  for (QWidget* c : PlacedChildren(parent)) {
    if (c->layout() != nullptr) continue;  // a layout sizes its own children
    const int inner = FitChildren(c);
    const int need = std::max(CaptionWidth(c) - c->width(), inner);
    if (need <= 0) continue;
    const int room = RoomRight(parent, c);
    if (need > room) {
      InsertColumn(parent, c->x() + c->width(), need - room);  // c grows with it
      grown += need - room;
    }
    c->resize(c->width() + std::min(need, room), c->height());
  }
  return grown;
}

}  // namespace

int CaptionWidth(const QWidget* control) {
  if (const auto* push = qobject_cast<const QPushButton*>(control)) {
    // Not sizeHint: styles give every button a minimum width of their own.
    const QStyle* style = push->style();
    return push->fontMetrics().horizontalAdvance(QString(push->text()).remove('&')) +
           style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push) +
           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, push);
  }
  if (qobject_cast<const QCheckBox*>(control) || qobject_cast<const QRadioButton*>(control)) {
    return control->sizeHint().width();
  }
  if (const auto* label = qobject_cast<const QLabel*>(control)) {
    if (label->wordWrap() || label->text().isEmpty()) return 0;
    return label->sizeHint().width();
  }
  return 0;
}

// Hidden widgets get their resize events only when shown; containers that
// place their children on resize must have done so before they are measured.
void SendPendingResizes(QWidget* parent) {
  for (QWidget* c : parent->findChildren<QWidget*>()) {
    if (!c->testAttribute(Qt::WA_PendingResizeEvent)) continue;
    c->setAttribute(Qt::WA_PendingResizeEvent, false);
    QResizeEvent event(c->size(), QSize());
    QCoreApplication::sendEvent(c, &event);
  }
}

void FitCaptions(QWidget* window) {
  SendPendingResizes(window);
  const int grown = FitChildren(window);
  if (grown > 0) window->setFixedSize(window->width() + grown, window->height());
}

std::string IconPath(const std::string& name) {
  return DataFilePath("icons/tolvane_" + name + ".png");
}

QIcon LoadIcon(const std::string& name, int fallback) {
  QIcon icon;
  for (const char* size : {"", "_64"}) {
    const std::string path = IconPath(name + size);
    if (FileExists(path)) icon.addFile(QString::fromStdString(path));
  }
  // Without the pictures beside the program the tray still needs an icon.
  if (icon.isNull()) {
    icon = QApplication::style()->standardIcon(static_cast<QStyle::StandardPixmap>(fallback));
  }
  return icon;
}
