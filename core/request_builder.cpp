#include "core/request_builder.h"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "base/debug_log.h"
#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "mail/idna.h"
#include "platform/ascii.h"
#include "platform/errors.h"
#include "platform/file_layout.h"

namespace {

bool StartsWith(const std::string& lowered, const char* scheme) {
  return lowered.rfind(scheme, 0) == 0;
}

// At most 255 bytes, never ending inside a UTF-8 sequence.
std::string Cut255(std::string s) {
  if (s.size() <= 255) return s;
  std::size_t cut = 255;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  s.resize(cut);
  return s;
}

void AppendPercentEncoded(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 128) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

// Where the host of "scheme://user@host:port/..." begins and ends; an
// address without "//" has none (begin == end).
std::pair<std::size_t, std::size_t> HostRange(std::string_view url) {
  const std::size_t slashes = url.find("://");
  if (slashes == std::string_view::npos) return {0, 0};
  const std::size_t start = slashes + 3;
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::size_t at = url.substr(start, end - start).rfind('@');
  const std::size_t host = at == std::string_view::npos ? start : start + at + 1;
  const std::string_view hostPort = url.substr(host, end - host);
  const std::size_t colon = hostPort.rfind(':');
  const bool port =
      colon != std::string_view::npos && hostPort.find(']', colon) == std::string_view::npos;
  return {host, port ? host + colon : end};
}

// An address copied with non-ASCII characters (an IRI) becomes a URI that
// every server takes on an ASCII request line: the host in its IDNA form
// (a percent-encoded host resolves nowhere), every other byte from 128 as
// %XX of its UTF-8.
std::string PercentEncodeIri(const std::string& iri) {
  const auto [begin, end] = HostRange(iri);
  const std::string_view whole(iri);
  std::string out;
  AppendPercentEncoded(whole.substr(0, begin), out);
  if (const auto host = DomainToAscii(whole.substr(begin, end - begin)))
    out += *host;
  else
    AppendPercentEncoded(whole.substr(begin, end - begin), out);
  AppendPercentEncoded(whole.substr(end), out);
  return out;
}

// One "cd" line per folder name, for services that take no paths.
std::string CdLines(const std::string& cd, const std::string& folder) {
  std::string lines;
  std::size_t from = 0;
  while (from < folder.size()) {
    const std::size_t slash = std::min(folder.find('/', from), folder.size());
    if (slash > from) lines += cd + " " + folder.substr(from, slash - from) + "\r\n";
    from = slash + 1;
  }
  return lines;
}

std::string FtpScript(const std::string& url, const std::string& server) {
  const std::size_t hostStart = 6;  // after "ftp://"
  const std::size_t hostEnd = url.find('/', hostStart);
  std::string host, folder, file;
  if (hostEnd == std::string::npos) {
    host = url.substr(hostStart);
  } else {
    host = url.substr(hostStart, hostEnd - hostStart);
    const std::size_t last = url.rfind('/');
    file = url.substr(last + 1);
    folder = url.substr(hostEnd, last - hostEnd);
  }
  const TProfileText list = ReadServerList();
  const auto word = [&](const char* key) { return list.Read(server, key); };
  const std::string crlf = "\r\n";
  // A service that serves one site only may want the bare word.
  std::string script = word("open");
  script += (ProfileBool(list, server, "OpenHost", true) ? " " + host : std::string()) + crlf;
  // A word given empty means the service has no such command: no line at all.
  for (const char* key : {"binary", "uuencode"}) {
    if (!list.HasKey(server, key) || !word(key).empty()) script += word(key) + crlf;
  }
  if (!folder.empty()) {
    script += ProfileBool(list, server, "CdEach", false) ? CdLines(word("cd"), folder)
                                                         : word("cd") + " " + folder + crlf;
  }
  script += (file.empty() ? word("ls") : "get " + file) + crlf;
  script += "quit" + crlf;
  return script;
}

bool EndsInLineBreak(const std::string& text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

// `text` followed by `line` on a line of its own.
std::string AppendLine(const std::string& text, const std::string& line) {
  if (text.empty()) return line;
  return EndsInLineBreak(text) ? text + line : text + "\r\n" + line;
}

std::string WithEndLine(const std::string& body, const std::string& end) {
  return end.empty() ? body : AppendLine(body, end);
}

// A block of more than one line: a batch sets such blocks apart by an empty line.
bool IsMultiLine(const std::string& body) {
  std::string text = body;
  while (EndsInLineBreak(text)) text.pop_back();
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

std::string ReplaceAt(const std::string& replacement, const std::string& text, std::size_t position,
                      std::size_t length) {
  position = std::min(position, text.size());
  length = std::min(length, text.size() - position);
  return text.substr(0, position) + replacement + text.substr(position + length);
}

std::string ReplaceFirst(const std::string& marker, const std::string& text,
                         const std::string& replacement) {
  if (marker.empty()) return text;
  const auto at = text.find(marker);
  if (at == std::string::npos) return text;
  return ReplaceAt(replacement, text, at, marker.size());
}

std::string ReplaceAll(const std::string& marker, const std::string& text,
                       const std::string& replacement) {
  if (marker.empty()) return text;
  std::string out;
  std::size_t from = 0;
  for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, from)) {
    out.append(text, from, at - from);
    out += replacement;
    from = at + marker.size();
  }
  out.append(text, from, std::string::npos);
  return out;
}

std::string RequestExtension(const std::string& url) {
  const std::string path = url.substr(0, url.find_first_of("?#"));
  const std::string extension = UrlExtension(path);
  // A point in the host or a folder name: the file itself has no extension.
  return extension.find('/') == std::string::npos ? extension : std::string();
}

bool IsBinaryUrl(const std::string& url) {
  const std::string extension = RequestExtension(url);
  if (extension.empty()) return false;
  const std::string list = "\n" + ReadFileString(DataFilePath("nbinary.ext")) + "\n" +
                           ReadFileString(DataFilePath("unbinary.txt"));
  return list.find("\n" + AsciiLower(extension)) == std::string::npos;
}

bool IsRequestUrl(const std::string& url) {
  const std::string lowered = AsciiLower(url.substr(0, 9));
  return StartsWith(lowered, "http://") || StartsWith(lowered, "https://") ||
         StartsWith(lowered, "gopher://") || StartsWith(lowered, "news:") ||
         StartsWith(lowered, "ftp://");
}

std::string NotARequestText(const std::string& url) {
  return "not a request: " + url +
         " does not begin with http://, https://, gopher://, news: or ftp://";
}

std::string TemplateText(const std::string& name) {
  // Server lists pass between users: a name must never reach the settings,
  // history, outbox or logs, or their text (login and password command
  // included) would go out in the request.
  constexpr std::size_t kMaxTemplateBytes = 64 * 1024;
  const std::string base = AsciiLower(name.substr(name.rfind('/') + 1));
  const std::string ext = base.substr(std::min(base.rfind('.'), base.size()));
  if (name.empty() || name.front() == '/' || name.find("..") != std::string::npos ||
      (ext != ".tpl" && ext != ".txt") || base == "debuglog.txt") {
    throw EFileError("Template file \"" + name +
                     "\" is not a template (a .tpl or .txt file in the program's data folders)");
  }
  const std::string path = DataFilePath(name);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};  // missing: an empty body line
  // A pipe or device would block or never end.
  if (!S_ISREG(st.st_mode)) {
    throw EFileError("Template file \"" + path + "\" is not a regular file");
  }
  std::string text;
  if (static_cast<std::size_t>(st.st_size) <= kMaxTemplateBytes) text = ReadFileString(path);
  if (static_cast<std::size_t>(st.st_size) > kMaxTemplateBytes || text.size() > kMaxTemplateBytes) {
    throw EFileError("Template file \"" + path + "\" is larger than 64 KiB");
  }
  return text;
}

std::string PutUrlIntoTemplate(const std::string& text, const std::string& url) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == TemplateMarker) {
      out += url;
    } else if (text.compare(i, 2, kUtf8TemplateMarker) == 0) {
      out += url;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool BuildRequestBlock(const std::string& url, const TServerChoice& servers, RequestMail& request) {
  request = RequestMail{};
  const std::string lowered = AsciiLower(url.substr(0, 9));
  if (StartsWith(lowered, "ftp://")) {
    request.Recipient = servers.FtpServer;
    DebugLog("To: " + request.Recipient);
    request.Subject = Cut255(PutUrlIntoTemplate(ServerValue(request.Recipient, "Subject"), url));
    request.Body = FtpScript(url, request.Recipient);
    DebugLog("Body: " + request.Body);
    return true;
  }
  const bool secure = StartsWith(lowered, "https://");
  const bool web = secure || StartsWith(lowered, "http://");
  if (!web && !StartsWith(lowered, "gopher://") && !StartsWith(lowered, "news:")) return false;

  std::string target = url;
  if (web) target = target.substr(0, target.find('#'));
  const bool binary = IsBinaryUrl(target);
  const std::string& verb = binary ? (secure ? servers.BinaryVerbHttps : servers.BinaryVerb)
                                   : (secure ? servers.PagesVerbHttps : servers.PagesVerb);
  const std::string& templateFile =
      binary ? (secure ? servers.BinaryTemplateFileHttps : servers.BinaryTemplateFile)
             : (secure ? servers.PagesTemplateFileHttps : servers.PagesTemplateFile);
  request.Recipient = binary ? servers.BinaryServer : servers.PagesServer;
  DebugLog("To: " + request.Recipient);
  const std::string sent = PercentEncodeIri(target);
  // A service that reads its command from the subject has the marker there.
  request.Subject = Cut255(PutUrlIntoTemplate(ServerValue(request.Recipient, "Subject"), sent));
  DebugLog("Subject: " + request.Subject);
  // The debug log keeps the address as the user copied it.
  const std::string templateText =
      templateFile.empty() ? verb + std::string(1, TemplateMarker) : TemplateText(templateFile);
  DebugLog("Body: " + PutUrlIntoTemplate(templateText, target));
  request.Body = PutUrlIntoTemplate(templateText, sent);
  return true;
}

bool BuildRequest(const std::string& url, const TServerChoice& servers, RequestMail& request) {
  if (!BuildRequestBlock(url, servers, request)) return false;
  request.Body = WithEndLine(request.Body, ServerValue(request.Recipient, "End"));
  return true;
}

RequestMail JoinRequests(const std::vector<RequestMail>& blocks) {
  if (blocks.empty()) return {};
  RequestMail mail = blocks.front();
  const bool apart = std::any_of(blocks.begin(), blocks.end(),
                                 [](const RequestMail& b) { return IsMultiLine(b.Body); });
  for (std::size_t i = 1; i < blocks.size(); ++i) {
    mail.Body = AppendLine(mail.Body, (apart ? "\r\n" : "") + blocks[i].Body);
  }
  mail.Body = WithEndLine(mail.Body, ServerValue(mail.Recipient, "End"));
  return mail;
}

std::vector<std::size_t> SplitIntoMails(std::size_t count, int maxPerMail) {
  const auto most = static_cast<std::size_t>(std::clamp(maxPerMail, 1, 100));
  std::vector<std::size_t> sizes;
  for (std::size_t left = count; left > 0; left -= std::min(left, most)) {
    sizes.push_back(std::min(left, most));
  }
  return sizes;
}

std::vector<RequestBatch> BuildRequestBatches(const std::vector<std::string>& urls,
                                              const TServerChoice& servers) {
  // Per server, in the order first met: its blocks and their addresses.
  std::vector<std::pair<std::vector<RequestMail>, std::vector<std::string>>> groups;
  for (const std::string& url : urls) {
    RequestMail block;
    if (!BuildRequestBlock(url, servers, block)) continue;
    auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) {
      return g.first.front().Recipient == block.Recipient;
    });
    if (group == groups.end()) {
      groups.emplace_back();
      group = std::prev(groups.end());
    }
    group->first.push_back(std::move(block));
    group->second.push_back(url);
  }
  std::vector<RequestBatch> batches;
  for (const auto& [blocks, addresses] : groups) {
    std::size_t from = 0;
    const int most = ServerOptions(blocks.front().Recipient).MaxPerMail;
    for (std::size_t size : SplitIntoMails(blocks.size(), most)) {
      const auto first = static_cast<std::ptrdiff_t>(from);
      const auto last = static_cast<std::ptrdiff_t>(from + size);
      batches.push_back({JoinRequests({blocks.begin() + first, blocks.begin() + last}),
                         {addresses.begin() + first, addresses.begin() + last}});
      from += size;
    }
  }
  return batches;
}

bool BuildHelpRequest(const std::string& server, RequestMail& request) {
  request = RequestMail{};
  const TServerOptions options = ServerOptions(server);
  if (server.empty() || options.Help.empty()) return false;
  request.Recipient = server;
  if (options.SubjectCommand) {
    request.Subject = Cut255(options.Help);
    request.Body = options.End;
  } else {
    request.Subject = Cut255(ServerValue(server, "Subject"));
    request.Body = WithEndLine(options.Help, options.End);
  }
  DebugLog("Help request to " + server);
  return true;
}

namespace {

// Where the user information of `url` lies: [begin, end) before its "@";
// begin == end when there is none.
std::pair<std::size_t, std::size_t> UserInfo(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return {0, 0};
  const std::size_t begin = scheme + 3;
  const std::size_t authorityEnd = url.find_first_of("/?#", begin);
  const std::size_t at = url.rfind('@', authorityEnd == std::string::npos ? url.size() : authorityEnd);
  if (at == std::string::npos || at < begin) return {begin, begin};
  return {begin, at};
}

}  // namespace

std::optional<std::string> MaskedCredentials(const std::string& url) {
  const auto [begin, end] = UserInfo(url);
  const std::size_t colon = url.find(':', begin);
  if (begin == end || colon == std::string::npos || colon >= end) return std::nullopt;
  return url.substr(0, colon + 1) + "****" + url.substr(end);
}

std::string WithoutCredentials(const std::string& url) {
  const auto [begin, end] = UserInfo(url);
  if (begin == end) return url;
  return url.substr(0, begin) + url.substr(end + 1);
}
