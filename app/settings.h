// TOLVANE.INI's general and server keys.
#pragma once

#include <string>

// [General] KeepFailed. A new settings file has it on (and gets it written,
// so that the next read does not take the file for an old one); a file
// written before the setting existed keeps it off until the user ticks it.
bool ReadKeepFailed(const std::string& settingsFile);
