// One text file read or written a line at a time, with the line ends of the
// host-application environment: lines are written with carriage return and
// line feed, and a carriage return before a line feed is dropped on reading.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quarl::rpc {

// Failure causes of file operations, as the clients know them.
enum FileCause : int {
  kCauseGeneric = 1,
  kCauseFileNotFound = 2,
  kCauseBadPath = 3,
  kCauseTooManyOpenFiles = 4,
  kCauseAccessDenied = 5,
  kCauseHardwareIo = 10,
  kCauseDiskFull = 13,
};

// The cause for a system error number (errno).
int file_cause(int system_error);

// Characters that trimming removes from the end of a line.
constexpr bool is_trim_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class RecordFile {
 public:
  enum class Mode { Read, Write, Append };
  enum class Read { Line, End, Error };

  // One line: its first bytes (as many as were asked for) and the length of
  // the whole line less trailing blanks, tabs, carriage returns and line feeds.
  struct Line {
    std::string head;
    size_t trimmed_length = 0;
    std::string_view trimmed() const { return std::string_view(head).substr(0, trimmed_length); }
  };

  RecordFile() = default;
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // 0, or the failure cause; a folder is refused as access denied.
  int open(const std::string& path, Mode mode);
  bool is_open() const { return file_ != nullptr; }
  // Closes the file; 0, or the cause when buffered output could not be written.
  int close();

  // The next line, keeping at most keep of its bytes in line.head.  On Error,
  // cause is set.  Memory stays bounded by keep whatever the line's length.
  Read read_line(size_t keep, Line& line, int& cause);

  // Writes bytes as they are; 0 or the cause.
  int write(std::string_view bytes);
  // Writes count blanks; 0 or the cause.
  int write_blanks(size_t count);
  // Writes text as one line: each line feed in it, and the line end, as
  // carriage return and line feed.  0 or the cause.
  int write_line(std::string_view text);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::vector<char> buffer_;  // read-ahead
  size_t pos_ = 0, end_ = 0;
};

}  // namespace quarl::rpc
