#include "shell/ui_style.h"

#include <QStringList>
#include <QVariant>
#include <QWidget>

QFont FormFont(int pointSize, bool bold) {
  QFont font;
  font.setFamilies(
      {"MS Sans Serif", "Liberation Sans", "Arial", "Nimbus Sans", "Helvetica", "DejaVu Sans"});
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
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
