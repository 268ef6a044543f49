#include "core/server_list.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <algorithm>

#include "base/debug_log.h"
#include "platform/ascii.h"
#include "platform/errors.h"
#include "platform/file_layout.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

// Far more than any list of request servers; a link to /dev/zero or a huge
// file handed on with a list would otherwise fill the memory.
constexpr std::size_t kMaxServerFileBytes = 1 << 20;

// The server list's text; a link to a regular file is fine. Raises
// EFileError when it is missing, no regular file, or too big.
std::string ReadServerFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    throw EFileError("The server list \"" + path + "\" is not a regular file");
  }
  const std::string tooBig = "The server list \"" + path + "\" is larger than 1 MiB";
  if (static_cast<std::size_t>(st.st_size) > kMaxServerFileBytes) throw EFileError(tooBig);
  auto text = ReadWholeFile(path);
  if (!text) throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(ENOENT));
  if (text->size() > kMaxServerFileBytes) throw EFileError(tooBig);  // it grew meanwhile
  return std::move(*text);
}

// The server list as read now; empty when it cannot be read (Load says why).
TProfileText ServerProfile() {
  try {
    return TProfileText(ReadServerFile(ServerFilePath()));
  } catch (const EFileError&) {
    return TProfileText();
  }
}

// Lines end in CR LF; a lone LF or CR ends one too.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t i = start;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
    lines.push_back(text.substr(start, i - start));
    if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  return lines;
}

void Restore(TServerCombo& combo, const std::string& settingsFile, const char* key) {
  const std::string saved = ReadProfileString(settingsFile, "Servers", key, combo.Text());
  combo.ItemIndex = -1;
  for (std::size_t i = 0; i < combo.Items.size(); ++i) {
    if (combo.Items[i] == saved) combo.ItemIndex = static_cast<int>(i);
  }
  if (combo.ItemIndex < 0 && !combo.Items.empty()) combo.ItemIndex = 0;
}

// The https key's value when the section has the key, else `http`.
std::string HttpsValue(const std::string& section, const char* key, const std::string& http,
                       const char* suffix = "") {
  constexpr char kMissing[] = "\x01";
  const std::string value = ServerProfile().Read(section, key, kMissing);
  return value == kMissing ? http : value + suffix;
}

}  // namespace

std::string TServerCombo::Text() const {
  if (ItemIndex < 0 || static_cast<std::size_t>(ItemIndex) >= Items.size()) return {};
  return Items[static_cast<std::size_t>(ItemIndex)];
}

void TServerCombo::Clear() {
  Items.clear();
  ItemIndex = -1;
}

std::string ServerFilePath() { return DataFilePath("uservers.dat"); }

TProfileText ReadServerList() { return ServerProfile(); }

bool HoldsTemplateMarker(const std::string& text) {
  return text.find(TemplateMarker) != std::string::npos ||
         text.find(kUtf8TemplateMarker) != std::string::npos;
}

TServerOptions ServerOptions(const std::string& section) {
  const TProfileText list = ServerProfile();
  TServerOptions options;
  options.End = list.Read(section, "End");
  options.Help = list.Read(section, "Help");
  options.Reply = list.Read(section, "Reply");
  options.SubjectCommand = HoldsTemplateMarker(list.Read(section, "Subject"));
  // A subject carries one address, so such a service takes one request a mail.
  const std::int32_t most = ProfileInteger(list, section, "MaxPerMail", 1);
  options.MaxPerMail = options.SubjectCommand ? 1 : std::clamp(most, 1, 100);
  return options;
}

bool IsPlaceholderAddress(const std::string& address) {
  std::string domain = AsciiLower(address.substr(address.rfind('@') + 1));
  while (!domain.empty() && (domain.back() == '.' || domain.back() == '>')) domain.pop_back();
  const auto under = [&](const std::string& name) {
    return domain == name || (domain.size() > name.size() && domain.ends_with("." + name));
  };
  return under("example.org") || under("example.com") || under("example.net") || under("example");
}

bool IsUsableServer(const std::string& section) {
  if (section.empty() || IsPlaceholderAddress(section)) return false;
  const std::vector<std::string> names = ServerProfile().SectionNames();
  return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return AsciiLower(name) == AsciiLower(section);
  });
}

std::string ServerValue(const std::string& section, const std::string& key) {
  return ServerProfile().Read(section, key);
}

TServerList::TServerList(std::string settingsFile) : settings_file_(std::move(settingsFile)) {}

void TServerList::Load() {
  cboFTPservers.Clear();
  cboHTTPServersBinary.Clear();
  cboHTTPServersPages.Clear();
  std::string text = ReadServerFile(ServerFilePath());
  // A byte-order mark from an editor is not part of the first line.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  const TProfileText profile(text);
  for (const std::string& line : SplitLines(text)) {
    // A header exactly as written: nothing around the brackets, no "]" inside.
    if (line.empty() || line.front() != '[' || line.find(']') != line.size() - 1) continue;
    const std::string name = line.substr(1, line.size() - 2);
    switch (ProfileTypeNumber(profile.Read(name, "Type"))) {
      case 0:
        cboHTTPServersPages.Items.push_back(name);
        break;
      case 1:
      case 3:
        cboHTTPServersBinary.Items.push_back(name);
        break;
      case 2:
        cboFTPservers.Items.push_back(name);
        break;
      default:
        break;
    }
  }
  Restore(cboFTPservers, settings_file_, "FTP");
  Restore(cboHTTPServersBinary, settings_file_, "HTTPBinary");
  cboHTTPServersBinaryChange();
  Restore(cboHTTPServersPages, settings_file_, "HTTPPages");
  cboHTTPServersPagesChange();
  DebugLog("Loaded Server File");
}

void TServerList::cboHTTPServersBinaryChange() {
  const std::string section = cboHTTPServersBinary.Text();
  BinaryVerb = ServerValue(section, "verbBinaryHttp") + " ";
  BinaryTemplateFile = ServerValue(section, "fileBinaryHttp");
  BinaryVerbHttps = HttpsValue(section, "verbBinaryHttps", BinaryVerb, " ");
  BinaryTemplateFileHttps = HttpsValue(section, "fileBinaryHttps", BinaryTemplateFile);
}

void TServerList::cboHTTPServersPagesChange() {
  const std::string section = cboHTTPServersPages.Text();
  PagesVerb = ServerValue(section, "verbPagesHttp") + " ";
  PagesTemplateFile = ServerValue(section, "filePagesHttp");
  PagesVerbHttps = HttpsValue(section, "verbPagesHttps", PagesVerb, " ");
  PagesTemplateFileHttps = HttpsValue(section, "filePagesHttps", PagesTemplateFile);
}

TServerChoice TServerList::Choice() const {
  const TProfileText list = ServerProfile();
  return {cboHTTPServersPages.Text(),
          cboHTTPServersBinary.Text(),
          cboFTPservers.Text(),
          PagesVerb,
          PagesTemplateFile,
          BinaryVerb,
          BinaryTemplateFile,
          PagesVerbHttps,
          PagesTemplateFileHttps,
          BinaryVerbHttps,
          BinaryTemplateFileHttps,
          list.Read(cboHTTPServersPages.Text(), "Reply"),
          list.Read(cboHTTPServersBinary.Text(), "Reply"),
          list.Read(cboFTPservers.Text(), "Reply")};
}
