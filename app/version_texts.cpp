#include "app/version_texts.h"

std::string VersionPrefix() { return std::string("Tolvane, ") + kCopyrightLine + ",  Version:"; }
