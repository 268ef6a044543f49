// A label that shows one value of the program's version record, optionally
// after a prefix.
#pragma once

#include <QLabel>

#include <string>

#include "shell/version_record.h"

enum class TVersionResources {
  vrCompanyName,
  vrFileDescription,
  vrFileVersion,
  vrInternalName,
  vrLegalCopyright,
  vrOriginalFilename,
  vrProductName,
  vrProductVersion,
  vrComments,
};

class TVersionLabel : public QLabel {
  Q_OBJECT

 public:
  static constexpr const char* kDefaultLangCharset = "080904E4";
  static constexpr const char* kDefaultKey = "FileVersion";

  explicit TVersionLabel(QWidget* parent = nullptr);

  TVersionResources VersionResource() const { return resource_; }
  void SetVersionResource(TVersionResources value);

  const std::string& VersionResourceKey() const { return key_; }
  void SetVersionResourceKey(const std::string& value);

  const std::string& InfoPrefix() const { return prefix_; }
  void SetInfoPrefix(const std::string& value);

  bool ShowInfoPrefix() const { return show_prefix_; }
  void SetShowInfoPrefix(bool value);

  // Takes effect at the next rebuild.
  const std::string& LangCharset() const { return lang_charset_; }
  void SetLangCharset(const std::string& value) { lang_charset_ = value; }

  // The text the label shows.
  std::string GetInfo() const;

  // The record looked up; the program's own unless a test gives another.
  // The record must outlive the label.
  void SetRecord(const VersionRecord* record);

  // Sizes the label to its text unless turned off.
  void SetAutoSize(bool value);

 private:
  void Rebuild();

  TVersionResources resource_ = TVersionResources::vrFileVersion;
  std::string key_ = kDefaultKey;
  std::string prefix_ = "File Version:";
  bool show_prefix_ = true;
  std::string lang_charset_ = kDefaultLangCharset;
  const VersionRecord* record_;
  bool auto_size_ = true;
};

// What a label with the default resource shows under `prefix`, without
// making one (a label measures its text, which loads the fonts).
std::string ProgramVersionInfo(const std::string& prefix);
