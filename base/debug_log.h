// The debug log, the error box and the process-wide step number.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Number of the last checkpoint passed; shown in every error text. Starts at 0.
extern std::int32_t Checkpoint;

// Extra logging (the clipboard text examined). Off at start, never saved.
extern bool SuperDebug;

// Folder with a trailing "/" of everything Tolvane writes (the debug log,
// history, protocol log) and of the flag files it looks for: the program's
// own folder, or the state folder when installed (platform/file_layout.h).
// Data files are read through DataFilePath. SetProgramFolder makes `folder`
// the program folder for both (tests, --compose with another folder).
const std::string& ProgramFolder();
void SetProgramFolder(std::string folder);

// ProgramFolder() + "DebugLog.Txt".
std::string DebugLogPath();

// Appends "<short date> <long time>: <message>" and CR LF to the debug log,
// opening and closing the file for the one line. A failed write is dropped.
void DebugLog(const std::string& message);

// "Error in " + where + "." + Checkpoint + " with " + message.
std::string ErrorText(const std::string& where, const std::string& message);

// Shows one error text to the user (a modal warning box with OK in the
// desktop program). The windows install theirs; tests install a recorder.
using ErrorBox = std::function<void(const std::string& text)>;

// Installs `box` (an empty function restores the default, which writes the
// text and a line end to stderr) and returns the one it replaces.
ErrorBox SetErrorBox(ErrorBox box);

// Writes ErrorText(where, message) to the debug log, then shows it in the
// error box. Never raises; the caller carries on.
void ShowError(const std::string& where, const std::string& message);
