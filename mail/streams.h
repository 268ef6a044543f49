// Byte streams used by the mail components: an abstract stream, a memory
// stream, a file stream, a self-deleting temporary file and a line reader.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// Position of the first CR or LF in `text` from `from`, or text.size().
std::size_t FindLineEnd(std::string_view text, std::size_t from);

// Failures raise EFileError (platform/errors.h) with a readable text.
class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to `count` bytes; returns how many were read (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes `count` bytes or raises.
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Moves the position and returns the new one.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t Size() = 0;
  virtual void SetSize(std::int64_t size) = 0;
  // A hint that about `size` bytes will be written; streams may ignore it.
  virtual void Reserve(std::int64_t size) { (void)size; }

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }

  // Exactly `count` bytes or EFileError "Stream read error".
  void ReadBuffer(void* buffer, std::size_t count);
  void WriteBuffer(const void* buffer, std::size_t count);
  void WriteString(std::string_view text) { WriteBuffer(text.data(), text.size()); }
  // Copies `count` bytes from source's position; count 0 copies the whole
  // source from its position 0. Returns the bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
  // The whole content from position 0; the position ends at the end.
  std::string ReadAll();
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;
  void Reserve(std::int64_t size) override;

  void Clear();
  void LoadFromStream(TStream& source);  // replaces content, position 0
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name);
  const std::string& Data() const { return data_; }
  void SetData(std::string data);  // position 0

 protected:
  std::string data_;
  std::size_t pos_ = 0;
};

enum class TFileMode { fmCreate, fmOpenRead, fmOpenReadWrite };

// A file on disk. Writes are buffered; the buffer goes out before any read,
// seek, size query and when the stream is freed.
class TFileStream : public TStream {
 public:
  // Raises EFileError "Cannot create file <name>" / "Cannot open file <name>".
  TFileStream(const std::string& file_name, TFileMode mode);
  ~TFileStream() override;

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;
  void Flush();

  const std::string& FileName() const { return file_name_; }

 protected:
  TFileStream() = default;  // for TTempFileStream, which opens its own file
  void Adopt(std::intptr_t file, std::string file_name);
  // Writes what is pending (a failure is dropped) and closes the file.
  void CloseFile();

 private:
  std::intptr_t file_ = -1;
  std::string file_name_;
  std::string out_;  // pending writes at the current file offset
};

// A fresh file "ms…" in the temporary folder ($TMPDIR, else /tmp; on
// Windows the one GetTempPath names), removed when the object is freed.
class TTempFileStream : public TFileStream {
 public:
  TTempFileStream();
  ~TTempFileStream() override;
};

// A memory stream that its user fills, then reads line by line. Lines end
// at CR LF, LF or a lone CR. The last line is returned also without a line
// end, and a line of any length comes back whole.
class TLineStream : public TMemoryStream {
 public:
  static inline const std::string kEndMarker = std::string(4, '\xFF');

  // The next line without its line end, or kEndMarker once the content is
  // exhausted (EndReached() is then true). Reads from Position().
  void ReadLine(std::string& line);
  std::string ReadLine() {
    std::string line;
    ReadLine(line);
    return line;
  }
  // The same without a copy: false at the end. The view stays valid until
  // the content changes.
  bool ReadLineView(std::string_view& line);
  // Back to the first line.
  void Restart();
  // Reads the lines of `text` instead of the stream's own content, without
  // copying it; the caller keeps `text` unchanged while lines are read.
  void SetText(std::string_view text);
  // Filling the stream itself goes back to reading its own content.
  void SetData(std::string data) {
    external_ = false;
    TMemoryStream::SetData(std::move(data));
  }
  std::size_t Write(const void* buffer, std::size_t count) override {
    external_ = false;
    return TMemoryStream::Write(buffer, count);
  }
  // What the lines are read from, and how much of it is not read yet.
  std::string_view Text() const { return external_ ? text_ : std::string_view(data_); }
  std::size_t Remaining() const { return Text().size() - std::min(Text().size(), LinePos()); }
  bool EndReached() const { return end_reached_; }

 private:
  std::size_t LinePos() const { return external_ ? text_pos_ : pos_; }

  bool end_reached_ = false;
  bool external_ = false;
  std::string_view text_;
  std::size_t text_pos_ = 0;
};
