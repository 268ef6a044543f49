// The main window's links to the desktop it runs on: starting with the
// session (an XDG autostart entry) and the user's own server list.
#pragma once

class QWidget;
class TfrmProps;

// The one reverse-DNS id of desktop entry, icons, AppStream file and
// autostart entry; also the application's desktop file name.
extern const char kAppId[];

// Adds "Start Tolvane when I log in" (chkAutostart) and "Edit server list"
// (btnEditServers) in a row below the window's other controls and makes the
// window that much taller.
void AddDesktopControls(TfrmProps& form);

// "Start Tolvane when I log in" clicked: writes or removes the autostart
// entry, then shows what is really there.
void chkAutostartClick(TfrmProps& form);

// "Edit server list": the user's own copy of the server list, made from the
// shipped one the first time, opened in the desktop's editor, or in an editor
// window of ours (a child of `parent`) when no program opens it.
void btnEditServersClick(QWidget* parent);
