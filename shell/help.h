// Help pages by topic number: ProgramFolder() + "help/<topic>.html", shown
// in one help window.
#pragma once

#include <string>

class QWidget;

// The page file of `topic`.
std::string HelpPagePath(int topic);

// Opens (or raises) the help window at `topic`; a topic without a page
// shows the contents page with a note. `modal`: the caller waits until the
// window is closed (help asked for from inside a modal box).
void ShowHelpTopic(int topic, bool modal = false);

// The help window while it exists (tests look at it).
QWidget* HelpWindow();
