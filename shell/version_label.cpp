#include "shell/version_label.h"

#include <array>
#include <utility>

namespace {

struct Standard {
  const char* key;
  const char* prefix;
};

// In the order of TVersionResources.
constexpr std::array<Standard, 9> kStandard{{
    {"CompanyName", "Company Name:"},
    {"FileDescription", "File Description:"},
    {"FileVersion", "File Version:"},
    {"InternalName", "Internal Name:"},
    {"LegalCopyright", "Legal Copyright:"},
    {"OriginalFilename", "Original Filename:"},
    {"ProductName", "Product Name:"},
    {"ProductVersion", "Product Version:"},
    {"Comments", "Comments:"},
}};

}  // namespace

TVersionLabel::TVersionLabel(QWidget* parent) : QLabel(parent), record_(&ProgramVersionRecord()) {
  setWordWrap(false);
  setTextFormat(Qt::PlainText);
  Rebuild();
}

void TVersionLabel::SetVersionResource(TVersionResources value) {
  if (value == resource_) return;
  resource_ = value;
  const Standard& s = kStandard[static_cast<std::size_t>(value)];
  key_ = s.key;
  prefix_ = s.prefix;
  Rebuild();
}

void TVersionLabel::SetVersionResourceKey(const std::string& value) {
  if (value == key_) return;
  key_ = value;
  prefix_ = value;
  Rebuild();
}

void TVersionLabel::SetInfoPrefix(const std::string& value) {
  if (value == prefix_) return;
  prefix_ = value;
  Rebuild();
}

void TVersionLabel::SetShowInfoPrefix(bool value) {
  if (value == show_prefix_) return;
  show_prefix_ = value;
  Rebuild();
}

void TVersionLabel::SetRecord(const VersionRecord* record) {
  record_ = record;
  Rebuild();
}

void TVersionLabel::SetAutoSize(bool value) {
  auto_size_ = value;
  if (auto_size_) adjustSize();
}

std::string TVersionLabel::GetInfo() const {
  std::string value = VersionLookup(*record_, lang_charset_, key_);
  if (show_prefix_) return prefix_ + " " + value;
  return value;
}

void TVersionLabel::Rebuild() {
  setText(QString::fromStdString(GetInfo()));
  if (auto_size_) adjustSize();
}

std::string ProgramVersionInfo(const std::string& prefix) {
  return prefix + " " +
         VersionLookup(ProgramVersionRecord(), TVersionLabel::kDefaultLangCharset,
                       TVersionLabel::kDefaultKey);
}
