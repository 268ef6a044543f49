// The file-type registry: /etc/mime.types; on Windows the registry's
// "Content Type" of HKEY_CLASSES_ROOT\.<ext> (the user's classes, then the
// machine's).
#pragma once

#include <string>
#include <string_view>

// MIME type registered for `extension` (with or without its leading dot,
// matched without regard to case) in the system's registry; "" when none.
std::string MimeTypeOfExtension(std::string_view extension);

// The same over another file in mime.types format; "" when the file cannot
// be read.
std::string MimeTypeOfExtension(std::string_view extension, const std::string& mimeTypesFile);
