// A plain editor window of our own for a text file, for desktops where no
// program opens text files.
#pragma once

#include <string>

class QDialog;
class QWidget;

// Shows `path` in a window (deleted when closed) with Save and Close. Save
// replaces the file whole, keeping its line ends and encoding, and then
// shows `savedNote`. An unreadable file raises EFileError.
QDialog* OpenTextEditor(const std::string& path, const std::string& savedNote, QWidget* parent);
