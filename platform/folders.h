// Where Tolvane's files live. Folders are given with "/" between names on
// Windows too (its API takes both) and always with a trailing "/".
#pragma once

#include <string>

// Folder of the running executable (/proc/self/exe; the module's file name
// on Windows).
std::string ExecutableFolder();

// The folder part of `path` up to and including its last "/" (or "\" on
// Windows); the whole path when it holds no separator.
std::string FolderOfPath(const std::string& path);

// $XDG_CONFIG_HOME/tolvane/ (default ~/.config/tolvane/). Windows: the
// roaming application data folder (%APPDATA% when set) + Tolvane/.
std::string ConfigFolder();

// $XDG_STATE_HOME/tolvane/ (default ~/.local/state/tolvane/): what an
// installed Tolvane writes. Windows: the local application data folder
// (%LOCALAPPDATA% when set) + Tolvane/.
std::string StateFolder();

// Creates `folder` and its missing parents with `mode` (ignored on Windows,
// where a folder takes its parent's access list); an existing folder is
// left as it is. False when the folder is not there afterwards.
bool MakeFolders(const std::string& folder, unsigned mode);

// $XDG_CONFIG_HOME/autostart/ (default ~/.config/autostart/). Windows: the
// user's Startup folder (autostart itself uses the Run key there).
std::string AutostartFolder();

// ConfigFolder() + "TOLVANE.INI": the settings file.
std::string SettingsFilePath();

// $TMPDIR (else /tmp). Windows: GetTempPath (%TMP%, %TEMP%, ...).
std::string TempFolder();
