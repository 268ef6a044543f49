// The version label's text from the program's own VERSIONINFO resource,
// read back from the file at run time.
#pragma once

#include <string>

struct HINSTANCE__;

// The value of `key` in the string block `langCharset` of `file`'s version
// resource, or one of the three failure texts of the version label: no
// resource, no such block or key, an empty value.
std::string FileVersionValue(const std::string& file, const std::string& langCharset,
                             const std::string& key);

// VersionPrefix() and the FileVersion of `module`'s file, block "080904E4".
std::string ProgramVersionText(HINSTANCE__* module);
