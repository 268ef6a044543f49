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

// ConfigFolder() + "TOLVANE.INI": the settings file.
std::string SettingsFilePath();

// $TMPDIR (else /tmp) with a trailing "/".
std::string TempFolder();
