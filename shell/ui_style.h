// Look shared by Tolvane's windows, and help topics attached to controls.
#pragma once

#include <QFont>
#include <QIcon>

#include <string>

class QWidget;

// The windows were laid out for a small 8-point sans serif; metric-compatible
// faces come first so that captions fit their fixed places.
QFont FormFont(int pointSize = 8, bool bold = false);

// Widens each control of a hand-placed window whose caption does not fit
// its place with the font really in use. A control with room to its right
// just grows; otherwise what lies to its right moves over, controls across
// that line grow with it, and the window grows by as much. Controls whose
// captions fit keep their places.
void FitCaptions(QWidget* window);

// Width the caption of `control` needs (0: it has none to fit).
int CaptionWidth(const QWidget* control);

// Style sheet for classic group boxes: caption on the frame line.
class QString;
QString GroupBoxStyle();

// Names a control and puts it at its fixed place in its parent.
template <class W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(name);
  widget->setGeometry(left, top, width, height);
  return widget;
}

// The help topic opened by F1 on a control (0: none).
void SetHelpTopic(QWidget* control, int topic);
int HelpTopicOf(const QWidget* control);

// The help topic of the control with the focus, or of its nearest parent
// that has one.
int HelpTopicAt(const QWidget* control);

// True when Qt runs on a native Wayland connection: no pointer placement and
// no keeping windows above other applications there.
bool OnWayland();

// The file of a tray icon picture beside the program.
std::string IconPath(const std::string& name);
// Tolvane's picture `name` in both sizes, or the style's `fallback` when
// the pictures are missing.
QIcon LoadIcon(const std::string& name, int fallback);
