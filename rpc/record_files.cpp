#include "rpc/record_files.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/text.h"
#include "rpc/item_list.h"

namespace quarl::rpc {

Status RecordFiles::open_failed(const std::string& path, int cause) {
  if (cause == kCauseFileNotFound) return error_.fail(fmt::format("File {} not found", path));
  if (cause == kCauseBadPath) return error_.fail(fmt::format("Bad path {}", path));
  return error_.fail(fmt::format("Error opening {} = {}", path, cause));
}

Status RecordFiles::read_failed(int cause) { return error_.fail(fmt::format("Error reading file = {}", cause)); }

Status RecordFiles::write_failed(int cause) { return error_.fail(fmt::format("Error writing file = {}", cause)); }

Status RecordFiles::open_for_reading(Reader& reader, Buffer buffer) {
  if (reader.file.is_open()) return error_.fail(reader.already_open);
  std::string path = ItemList(buffer).next();
  if (int cause = reader.file.open(path, RecordFile::Mode::Read)) return open_failed(path, cause);
  return kOk;
}

Status RecordFiles::read_record(Reader& reader, Buffer buffer) {
  if (!reader.file.is_open()) return error_.fail(reader.not_open);
  bool skip_empty = !buffer.text().empty() && iequals(ItemList(buffer).next(), "NotEmpty");
  RecordFile::Line line;
  for (;;) {
    int cause = 0;
    switch (reader.file.read_line(buffer.size(), line, cause)) {
      case RecordFile::Read::End:
        return error_.fail("EOF");  // the file stays open
      case RecordFile::Read::Error:
        return read_failed(cause);
      case RecordFile::Read::Line:
        break;
    }
    size_t n = std::min(line.trimmed_length, buffer.size());
    if (n == 0 && skip_empty) continue;
    buffer.put(std::string_view(line.head).substr(0, n));
    return kOk;
  }
}

Status RecordFiles::close_reader(Reader& reader) {
  if (!reader.file.is_open()) return error_.fail(reader.not_open);
  reader.file.close();
  return kOk;
}

Status RecordFiles::open_read_file(Buffer buffer) { return open_for_reading(input_, buffer); }
Status RecordFiles::read_next_record(Buffer buffer) { return read_record(input_, buffer); }
Status RecordFiles::close_read_file(Buffer) { return close_reader(input_); }
Status RecordFiles::open_update_file(Buffer buffer) { return open_for_reading(update_, buffer); }
Status RecordFiles::get_next_record(Buffer buffer) { return read_record(update_, buffer); }
Status RecordFiles::close_update_file(Buffer) { return close_reader(update_); }

Status RecordFiles::open_write_file(Buffer buffer) {
  if (output_.is_open()) return error_.fail("There is already an output file open");
  ItemList items(buffer);
  std::string path = items.next();
  bool append = false;
  if (items.more()) {
    std::string option = items.next();
    if (!iequals(option, "APPEND")) return error_.fail("Invalid open option " + option);
    append = true;
  }
  if (int cause = output_.open(path, append ? RecordFile::Mode::Append : RecordFile::Mode::Write))
    return open_failed(path, cause);
  return kOk;
}

Status RecordFiles::write_next_record(Buffer buffer) {
  if (!output_.is_open()) return error_.fail("There is no output file open");
  if (int cause = output_.write_line(buffer.text())) return write_failed(cause);
  return kOk;
}

Status RecordFiles::close_write_file(Buffer) {
  if (!output_.is_open()) return error_.fail("There is no output file open");
  // Buffered records that cannot be written are reported here rather than lost silently.
  if (int cause = output_.close()) return write_failed(cause);
  return kOk;
}

Status RecordFiles::get_max_rec_length(Buffer buffer) {
  std::string path = ItemList(buffer).next();
  RecordFile file;
  if (int cause = file.open(path, RecordFile::Mode::Read)) return open_failed(path, cause);
  size_t longest = 0;
  RecordFile::Line line;
  for (int cause = 0;;) {
    auto result = file.read_line(0, line, cause);
    if (result == RecordFile::Read::End) break;
    if (result == RecordFile::Read::Error) return read_failed(cause);
    longest = std::max(longest, line.trimmed_length);
  }
  file.close();
  buffer.put(std::to_string(longest));
  return kOk;
}

namespace {

// The two files of a conversion, closed whenever the call ends.
struct ConversionFiles {
  RecordFile in, out;
};

}  // namespace

Status RecordFiles::variable_to_fixed(Buffer buffer) {
  ItemList items(buffer);
  std::string in_path = items.next(), out_path = items.next();
  bool skip_empty = iequals(items.next(), "NotEmpty");
  int64_t size = leading_integer(items.next());
  if (size < 1) return error_.fail("Record size must be greater than 0");
  if (size > std::numeric_limits<int32_t>::max()) return error_.fail(fmt::format("Record size {} is too large", size));
  const size_t record_size = static_cast<size_t>(size);

  ConversionFiles files;
  if (int cause = files.in.open(in_path, RecordFile::Mode::Read)) return open_failed(in_path, cause);
  if (int cause = files.out.open(out_path, RecordFile::Mode::Write))
    return open_failed(out_path, cause);

  long long written = 0, empty = 0;
  RecordFile::Line line;
  for (int cause = 0;;) {
    auto result = files.in.read_line(record_size, line, cause);
    if (result == RecordFile::Read::End) break;
    if (result == RecordFile::Read::Error) return read_failed(cause);
    if (line.trimmed_length == 0) {
      ++empty;
      if (skip_empty) continue;
    }
    if (line.trimmed_length > record_size) {
      // Report the longest line of the rest of the file too; what was
      // written so far stays in the output.
      size_t longest = line.trimmed_length;
      while ((result = files.in.read_line(0, line, cause)) == RecordFile::Read::Line)
        longest = std::max(longest, line.trimmed_length);
      if (result == RecordFile::Read::Error) return read_failed(cause);
      if (int close_cause = files.out.close()) return write_failed(close_cause);
      return error_.fail(fmt::format("Record Length {} exceeded, maximum record length found={}", size, longest));
    }
    ++written;
    int cause_w = files.out.write(line.trimmed());
    if (!cause_w) cause_w = files.out.write_blanks(record_size - line.trimmed_length);
    if (!cause_w) cause_w = files.out.write("\r\n");
    if (cause_w) return write_failed(cause_w);
  }
  files.in.close();
  if (int cause = files.out.close()) return write_failed(cause);
  buffer.put(fmt::format("{},{}", written, empty));
  return kOk;
}

Status RecordFiles::fixed_to_variable(Buffer buffer) {
  ItemList items(buffer);
  std::string in_path = items.next(), out_path = items.next();
  bool skip_empty = iequals(items.next(), "NotEmpty");

  ConversionFiles files;
  if (int cause = files.in.open(in_path, RecordFile::Mode::Read)) return open_failed(in_path, cause);
  if (int cause = files.out.open(out_path, RecordFile::Mode::Write))
    return open_failed(out_path, cause);

  long long written = 0, empty = 0;
  RecordFile::Line line;
  for (int cause = 0;;) {
    auto result = files.in.read_line(std::numeric_limits<size_t>::max(), line, cause);
    if (result == RecordFile::Read::End) break;
    if (result == RecordFile::Read::Error) return read_failed(cause);
    if (line.trimmed_length == 0) {
      ++empty;
      if (skip_empty) continue;
    }
    ++written;
    if (int cause_w = files.out.write_line(line.trimmed())) return write_failed(cause_w);
  }
  files.in.close();
  if (int cause = files.out.close()) return write_failed(cause);
  buffer.put(fmt::format("{},{}", written, empty));
  return kOk;
}

}  // namespace quarl::rpc
