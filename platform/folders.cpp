#include "platform/folders.h"

std::string SettingsFilePath() { return ConfigFolder() + "TOLVANE.INI"; }
