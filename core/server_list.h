// The request servers from "uservers.dat" and the user's choice among them.
// A model without widgets: the main window shows the three lists and tells
// the model which item the user picked.
#pragma once

#include <string>
#include <vector>

// One drop-down list of server names (section names of the server list).
struct TServerCombo {
  std::vector<std::string> Items;
  int ItemIndex = -1;  // -1: nothing selected

  // The selected item's text; empty without a selection.
  std::string Text() const;
  void Clear();
};

// What the request builder needs of the current choice.
struct TServerChoice {
  std::string PagesServer;   // text of cboHTTPServersPages
  std::string BinaryServer;  // text of cboHTTPServersBinary
  std::string FtpServer;     // text of cboFTPservers
  std::string PagesVerb;     // verb + " "
  std::string PagesTemplateFile;
  std::string BinaryVerb;  // verb + " "
  std::string BinaryTemplateFile;
  // For https:// addresses: the server's own words, else the ones above.
  std::string PagesVerbHttps;
  std::string PagesTemplateFileHttps;
  std::string BinaryVerbHttps;
  std::string BinaryTemplateFileHttps;
};

// ProgramFolder() + "uservers.dat".
std::string ServerFilePath();

// The value of `key` in section `section` of the server list, read anew from
// the file; empty when the file, section or key is missing, or when the file
// cannot be read.
std::string ServerValue(const std::string& section, const std::string& key);

class TServerList {
 public:
  // `settingsFile` holds the saved choice (section "Servers").
  explicit TServerList(std::string settingsFile);

  // Fills the three lists from the server list in file order, restores the
  // saved choices and loads the web servers' verbs and template files.
  // Raises EFileError when the server list cannot be opened, is no regular
  // file (a link to one is fine) or holds more than 1 MiB; the lists then
  // stay empty.
  void Load();

  // Reload the verb and template file of the selected binary / pages server.
  void cboHTTPServersBinaryChange();
  void cboHTTPServersPagesChange();

  TServerChoice Choice() const;

  TServerCombo cboHTTPServersPages;
  TServerCombo cboHTTPServersBinary;
  TServerCombo cboFTPservers;

  std::string PagesVerb;
  std::string PagesTemplateFile;
  std::string BinaryVerb;
  std::string BinaryTemplateFile;
  std::string PagesVerbHttps;
  std::string PagesTemplateFileHttps;
  std::string BinaryVerbHttps;
  std::string BinaryTemplateFileHttps;

  const std::string& SettingsFile() const { return settings_file_; }

 private:
  std::string settings_file_;
};
