#include "platform/mime_table.h"
#include "platform/mime_types.h"

std::string MimeTypeOfExtension(std::string_view extension) {
  static const TMimeTable table = LoadMimeTable("/etc/mime.types");
  return LookUpMimeTable(table, extension);
}
