// An open result: rows read from SQLite (or built by the server, for the
// catalog) and encoded into fetch blocks ahead of the client's requests.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hostserver/row_encoder.h"
#include "hostserver/type_mapping.h"

struct sqlite3;
struct sqlite3_stmt;

namespace hostserver {

// A value of a row the server builds itself.
struct Value {
  int kind;  // SQLITE_NULL, SQLITE_INTEGER or SQLITE_TEXT
  int64_t integer = 0;
  std::string text;
  static Value null();
  static Value of(int64_t v);
  static Value of(std::string v);
};
using ValueRow = std::vector<Value>;

// Row data for one fetch request, or the failure to report instead: a row
// whose value cannot be sent (reading goes on after it), or SQLite's failure
// (the result ends).  A failed block carries no rows.
struct Block {
  // The encoded rows: the buffer they were encoded in, handed on without a
  // copy (its size is the block limit; the rows fill the first size bytes).
  std::unique_ptr<char[]> buffer;
  size_t size = 0;
  std::string_view rows() const { return {buffer.get(), size}; }
  bool end = false;  // the end-of-result marker closes the rows
  bool failed = false;
  unsigned error_index = 0;
  std::string error_text;
};

class Cursor {
 public:
  // Blocks encoded ahead of the client, at most.
  static constexpr size_t kAhead = 3;

  // Rows of a SQLite statement that is not owned; has_row: the statement
  // has stepped onto its first row already; done: it has no rows.
  Cursor(std::vector<ColumnShape> columns, sqlite3* db, sqlite3_stmt* stmt, bool has_row, bool done);
  Cursor(std::vector<ColumnShape> columns, std::vector<ValueRow> rows);
  ~Cursor();
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  const std::vector<ColumnShape>& columns() const { return columns_; }
  // More blocks may be encoded ahead (not past a row whose values are held).
  bool can_work_ahead() const { return !source_done_ && !held_ && ready_.size() < kAhead; }
  // With long values: the last row handed out left values on the host (too
  // long for a fetch), which stay readable until the next block is asked for.
  bool held_row_sent() const { return held_ && ready_.empty(); }
  // A value of that row (column from 0).
  CellView held_cell(size_t column) const;
  // Bytes of the blocks encoded ahead and not yet handed out.
  size_t buffered_bytes() const;
  // Nothing left to hand out: the end or a failure went out already.
  bool finished() const { return source_done_ && ready_.empty(); }
  // Encodes one more block of at most limit bytes; with max_rows, stops
  // after that many rows and goes on with the same block at the next call
  // (so that work ahead leaves room to answer a request that came).
  void produce(size_t limit, size_t max_rows = SIZE_MAX);
  // The next block (encoding it now when none is ready); call when !finished().
  Block next(size_t limit);
  // Stops reading (the statement is reset); later fetches find no rows.
  void close();

 private:
  bool step(Block& block);  // onto the next source row; false at the end or on failure
  [[gnu::noinline]] void source_ended(Block& block, int rc);  // SQLite's last step: done or failed
  // Encodes the current row of the rows kept on the host, or of the source
  // with apart (long values of long-form columns stay on the host;
  // went_apart tells whether any did).  A source row with every value in
  // the fetch itself, the common case, is produce's own.
  Encoded encode_row(RowWriter& out, bool apart, bool& went_apart, std::string& problem);
  void fail(Block& block, unsigned index, std::string text);

  std::vector<ColumnShape> columns_;
  std::vector<DirectWay> ways_;   // per column, for rows from SQLite
  size_t direct_most_ = 0;        // the most the direct ways write for a row
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  std::vector<ValueRow> rows_;
  size_t next_row_ = 0;
  bool pending_ = false;      // a source row is current and not yet encoded
  bool held_ = false;         // the current row was encoded with values left on the host
  bool long_forms_ = false;   // some column travels in the long forms
  bool source_done_ = false;  // end or failure queued
  std::deque<Block> ready_;
  Block building_;  // a block begun by a produce() that stopped at max_rows
  size_t building_limit_ = 0;
};

}  // namespace hostserver
