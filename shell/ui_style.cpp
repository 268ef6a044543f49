#include "shell/ui_style.h"

#include <QGuiApplication>
#include <QStringList>
#include <QVariant>
#include <QWidget>

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
