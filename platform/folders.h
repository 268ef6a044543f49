// Where Tolvane's files live.
#pragma once

#include <string>

// Folder of the running executable (from /proc/self/exe) with a trailing "/".
std::string ExecutableFolder();

// The folder part of `path` up to and including its last "/"; the whole path
// when it holds no "/".
std::string FolderOfPath(const std::string& path);

// $XDG_CONFIG_HOME/tolvane/ (default ~/.config/tolvane/), trailing "/".
std::string ConfigFolder();

// $XDG_STATE_HOME/tolvane/ (default ~/.local/state/tolvane/), trailing "/":
// what an installed Tolvane writes.
std::string StateFolder();

// Creates `folder` and its missing parents with `mode`; an existing folder
// is left as it is. False when the folder is not there afterwards.
bool MakeFolders(const std::string& folder, unsigned mode);

// $XDG_CONFIG_HOME/autostart/ (default ~/.config/autostart/), trailing "/".
std::string AutostartFolder();

// ConfigFolder() + "TOLVANE.INI": the settings file.
std::string SettingsFilePath();

// $TMPDIR (else /tmp) with a trailing "/".
std::string TempFolder();
