// The request servers from "uservers.dat" and the user's choice among them.
// A model without widgets: the main window shows the three lists and tells
// the model which item the user picked.
#pragma once

#include <string>
#include <vector>

#include "platform/profile.h"

// Where a template file or a server's Subject holds this byte, the URL goes.
constexpr char TemplateMarker = '\xFE';
// The same character in a file saved as UTF-8.
constexpr char kUtf8TemplateMarker[] = "\xC3\xBE";

// True when `text` holds the marker in either form.
bool HoldsTemplateMarker(const std::string& text);

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
  // Where the chosen servers' answers come from ("Reply"; empty when not given),
  // to show beside each server with a hint to let them through a spam filter.
  std::string PagesReply;
  std::string BinaryReply;
  std::string FtpReply;
};

// The optional keys of one server section; a missing key gives what a list
// without it always did.
struct TServerOptions {
  std::string End;              // a closing line after the request lines; empty: none
  int MaxPerMail = 1;           // requests one mail may carry, 1..100
  std::string Help;             // the body line (or subject) that asks for the help text
  std::string Reply;            // the address answers come from
  bool SubjectCommand = false;  // the Subject carries the URL: one request a mail
};

// ProgramFolder() + "uservers.dat".
std::string ServerFilePath();

// The value of `key` in section `section` of the server list, read anew from
// the file; empty when the file, section or key is missing, or when the file
// cannot be read.
std::string ServerValue(const std::string& section, const std::string& key);

// The server list as it stands now, parsed once; empty when it cannot be read.
TProfileText ReadServerList();

// The optional keys of `section`, read anew from the file.
TServerOptions ServerOptions(const std::string& section);

// False for a server that cannot take a request: an empty name, one that is
// no section of the server list, or a documentation placeholder (an address
// at example.org, example.com, example.net or under .example, RFC 2606).
bool IsUsableServer(const std::string& section);

// True for an address (or bare domain) at a domain reserved for examples.
bool IsPlaceholderAddress(const std::string& address);

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
