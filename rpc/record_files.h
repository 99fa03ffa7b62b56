// Record files: text files read and written one record (one line) at a time
// through the buffer, and whole-file conversions between variable-length
// lines and fixed-length records.
#pragma once

#include <string>

#include "rpc/buffer.h"
#include "rpc/error_text.h"
#include "rpc/record_file.h"

namespace quarl::rpc {

class RecordFiles {
 public:
  explicit RecordFiles(ErrorText& error) : error_(error) {}

  Status open_read_file(Buffer buffer);
  Status read_next_record(Buffer buffer);
  Status close_read_file(Buffer buffer);
  Status open_write_file(Buffer buffer);
  Status write_next_record(Buffer buffer);
  Status close_write_file(Buffer buffer);
  Status open_update_file(Buffer buffer);
  Status get_next_record(Buffer buffer);
  Status close_update_file(Buffer buffer);
  Status get_max_rec_length(Buffer buffer);
  Status variable_to_fixed(Buffer buffer);
  Status fixed_to_variable(Buffer buffer);

 private:
  // One of the session's files for reading, with its messages.
  struct Reader {
    RecordFile file;
    const char* already_open;
    const char* not_open;
  };
  Status open_for_reading(Reader& reader, Buffer buffer);
  Status read_record(Reader& reader, Buffer buffer);
  Status close_reader(Reader& reader);
  // The messages of a failed open.
  Status open_failed(const std::string& path, int cause);
  Status read_failed(int cause);
  Status write_failed(int cause);

  ErrorText& error_;
  Reader input_{{}, "There is already an input file open", "There is no input file open"};
  Reader update_{{}, "There is already an update file open", "There is no update file open"};
  RecordFile output_;
};

}  // namespace quarl::rpc
