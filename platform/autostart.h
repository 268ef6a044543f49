// Starting with the desktop session: an entry in the XDG autostart folder;
// on Windows a value under HKCU\Software\Microsoft\Windows\CurrentVersion\Run
// named after the program (the last part of `appId`).
#pragma once

#include <string>

// Whether the entry is there; its existence is the whole state.
bool AutostartEnabled(const std::string& appId);

// Writes the entry that starts `program` with "/s" (no tip of the day) at
// login. Raises EFileError when it cannot be written.
void EnableAutostart(const std::string& appId, const std::string& program);

// Removes the entry; a missing one is fine. Raises EFileError otherwise.
void DisableAutostart(const std::string& appId);

#ifndef _WIN32
// $XDG_CONFIG_HOME/autostart/<appId>.desktop.
std::string AutostartFilePath(const std::string& appId);

// `arg` as one argument of an Exec key: quoted when it holds a character
// the desktop entry rules reserve, and escaped for the key's value.
std::string DesktopExecArgument(const std::string& arg);
#endif
