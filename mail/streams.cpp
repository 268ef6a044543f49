#include "mail/streams.h"

#include <algorithm>
#include <cstring>

#include "mail/stream_files.h"
#include "platform/errors.h"

namespace {

constexpr std::size_t kFileBuffer = 64 * 1024;

[[noreturn]] void ReadError() { throw EFileError("Stream read error"); }
[[noreturn]] void WriteError() { throw EFileError("Stream write error"); }

std::int64_t Resolve(std::int64_t offset, TSeekOrigin origin, std::int64_t pos, std::int64_t size) {
  switch (origin) {
    case TSeekOrigin::soBeginning:
      return offset;
    case TSeekOrigin::soCurrent:
      return pos + offset;
    case TSeekOrigin::soEnd:
      return size + offset;
  }
  return pos;
}

}  // namespace

std::size_t FindLineEnd(std::string_view text, std::size_t from) {
  // LF is searched in windows: searching the whole rest would rescan it for
  // every line that ends in a lone CR.
  constexpr std::size_t kWindow = 1024;
  while (from < text.size()) {
    const char* p = text.data() + from;
    const std::size_t w = std::min(kWindow, text.size() - from);
    const void* lf = std::memchr(p, '\n', w);
    const std::size_t n = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - p) : w;
    if (const void* cr = std::memchr(p, '\r', n))
      return from + static_cast<std::size_t>(static_cast<const char*>(cr) - p);
    if (lf) return from + n;
    from += w;
  }
  return text.size();
}

// ---- TStream

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    std::size_t n = Read(p, count);
    if (n == 0) ReadError();
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
  if (count == 0) return;
  if (Write(buffer, count) != count) WriteError();
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<char> buf(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 16)) + 1);
  std::int64_t left = count;
  while (left > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= static_cast<std::int64_t>(n);
  }
  return count;
}

std::string TStream::ReadAll() {
  SetPosition(0);
  std::string out(static_cast<std::size_t>(Size()), '\0');
  if (!out.empty()) ReadBuffer(out.data(), out.size());
  return out;
}

// ---- TMemoryStream

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  if (pos_ >= data_.size()) return 0;
  std::size_t n = std::min(count, data_.size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  const char* p = static_cast<const char*>(buffer);
  if (pos_ == data_.size()) {
    data_.append(p, count);
  } else {
    if (pos_ > data_.size()) data_.resize(pos_, '\0');
    std::size_t overlap = std::min(count, data_.size() - pos_);
    data_.replace(pos_, overlap, p, overlap);
    data_.append(p + overlap, count - overlap);
  }
  pos_ += count;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t target = Resolve(offset, origin, static_cast<std::int64_t>(pos_), Size());
  if (target < 0) throw EFileError("Stream seek error");
  pos_ = static_cast<std::size_t>(target);
  return target;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw EFileError("Stream seek error");
  data_.resize(static_cast<std::size_t>(size), '\0');
  pos_ = std::min(pos_, data_.size());
}

void TMemoryStream::Reserve(std::int64_t size) {
  if (size > 0) data_.reserve(static_cast<std::size_t>(size));
}

void TMemoryStream::Clear() {
  data_.clear();
  pos_ = 0;
}

void TMemoryStream::SetData(std::string data) {
  data_ = std::move(data);
  pos_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) { SetData(source.ReadAll()); }

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, TFileMode::fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& file_name) {
  TFileStream file(file_name, TFileMode::fmCreate);
  file.WriteString(data_);
  file.Flush();
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& file_name, TFileMode mode) {
  const stream_files::THandle file = stream_files::Open(file_name, mode);
  if (file == stream_files::kNone) {
    throw EFileError((mode == TFileMode::fmCreate ? "Cannot create file " : "Cannot open file ") +
                     file_name);
  }
  Adopt(file, file_name);
}

void TFileStream::Adopt(std::intptr_t file, std::string file_name) {
  file_ = file;
  file_name_ = std::move(file_name);
}

TFileStream::~TFileStream() { CloseFile(); }

void TFileStream::CloseFile() {
  if (file_ == stream_files::kNone) return;
  try {
    Flush();
  } catch (...) {
    // Nothing sensible to do with a failed write while freeing.
  }
  stream_files::Close(file_);
  file_ = stream_files::kNone;
}

void TFileStream::Flush() {
  std::size_t done = 0;
  while (done < out_.size()) {
    const std::ptrdiff_t n = stream_files::Write(file_, out_.data() + done, out_.size() - done);
    if (n <= 0) {
      out_.clear();
      WriteError();
    }
    done += static_cast<std::size_t>(n);
  }
  out_.clear();
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  Flush();
  auto* p = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < count) {
    const std::ptrdiff_t n = stream_files::Read(file_, p + total, count - total);
    if (n < 0) ReadError();
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  return total;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  const char* p = static_cast<const char*>(buffer);
  if (out_.size() + count > kFileBuffer) {
    Flush();
    if (count >= kFileBuffer) {
      out_.assign(p, count);
      Flush();
      return count;
    }
  }
  out_.append(p, count);
  return count;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  Flush();
  const std::int64_t r = stream_files::Seek(file_, offset, origin);
  if (r < 0) throw EFileError("Stream seek error");
  return r;
}

std::int64_t TFileStream::Size() {
  Flush();
  const std::int64_t size = stream_files::Size(file_);
  if (size < 0) ReadError();
  return size;
}

void TFileStream::SetSize(std::int64_t size) {
  Flush();
  if (size < 0 || !stream_files::Truncate(file_, size)) WriteError();
  if (Position() > size) SetPosition(size);
}

// ---- TTempFileStream

TTempFileStream::TTempFileStream() {
  std::string name;
  const stream_files::THandle file = stream_files::CreateTemp(name);
  if (file == stream_files::kNone) throw EFileError("Cannot create file " + name);
  Adopt(file, std::move(name));
}

TTempFileStream::~TTempFileStream() {
  // Closed first: Windows deletes no open file.
  CloseFile();
  stream_files::Remove(FileName());
}

// ---- TLineStream

void TLineStream::ReadLine(std::string& line) {
  std::string_view view;
  if (ReadLineView(view))
    line.assign(view);
  else
    line = kEndMarker;
}

bool TLineStream::ReadLineView(std::string_view& line) {
  // The content is in memory already, so lines are cut straight from it:
  // no chunk is ever split, the last line needs no line end, and a line of
  // any length comes back whole.
  const std::string_view text = Text();
  std::size_t& pos = external_ ? text_pos_ : pos_;
  if (pos >= text.size()) {
    line = std::string_view();
    end_reached_ = true;
    return false;
  }
  const std::size_t len = FindLineEnd(text, pos) - pos;
  line = text.substr(pos, len);
  std::size_t next = pos + len;
  if (next < text.size()) {
    if (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ++next;
    ++next;
  }
  pos = next;
  return true;
}

void TLineStream::SetText(std::string_view text) {
  external_ = true;
  text_ = text;
  Restart();
}

void TLineStream::Restart() {
  end_reached_ = false;
  text_pos_ = 0;
  pos_ = 0;
}
