// The file-type registry: /etc/mime.types.
#pragma once

#include <string>
#include <string_view>

// MIME type registered for `extension` (with or without its leading dot,
// matched without regard to case) in /etc/mime.types; "" when none.
std::string MimeTypeOfExtension(std::string_view extension);

// The same over another file in mime.types format; "" when the file cannot
// be read.
std::string MimeTypeOfExtension(std::string_view extension, const std::string& mimeTypesFile);
