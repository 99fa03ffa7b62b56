#include "hostserver/cursor.h"

#include <sqlite3.h>

#include <utility>

#include "hostserver/envelope.h"
#include "hostserver/long_values.h"
#include "hostserver/row_encoder.h"
#include "hostserver/sql_errors.h"

namespace hostserver {

Value Value::null() { return Value{SQLITE_NULL, 0, {}}; }
Value Value::of(int64_t v) { return Value{SQLITE_INTEGER, v, {}}; }
Value Value::of(std::string v) { return Value{SQLITE_TEXT, 0, std::move(v)}; }

Cursor::Cursor(std::vector<ColumnShape> columns, sqlite3* db, sqlite3_stmt* stmt, bool has_row, bool done)
    : columns_(std::move(columns)), db_(db), stmt_(stmt), pending_(has_row && !done) {
  for (const auto& c : columns_) {
    long_forms_ = long_forms_ || c.long_forms;
    ways_.push_back(direct_way(c));
  }
  direct_most_ = direct_row_most(ways_.data(), ways_.size());
  if (done) {
    sqlite3_reset(stmt_);
    stmt_ = nullptr;  // an empty result: the end marker is all there is
  }
}

Cursor::Cursor(std::vector<ColumnShape> columns, std::vector<ValueRow> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)) {}

Cursor::~Cursor() { close(); }

void Cursor::close() {
  if (stmt_) sqlite3_reset(stmt_);
  stmt_ = nullptr;
  rows_.clear();
  ready_.clear();
  building_ = Block{};
  pending_ = false;
  held_ = false;
  source_done_ = true;
}

CellView Cursor::held_cell(size_t column) const {
  if (!stmt_ || !held_ || column >= columns_.size()) return CellView{SQLITE_NULL, 0, 0, {}};
  return sqlite_cell(stmt_, static_cast<int>(column));
}

Encoded Cursor::encode_row(RowWriter& out, bool apart, bool& went_apart, std::string& problem) {
  went_apart = false;
  Encoded result = out.put(kRowMarker) ? Encoded::Ok : Encoded::NoRoom;
  for (size_t c = 0; c < columns_.size() && result == Encoded::Ok; ++c) {
    CellView cell;
    if (stmt_) {
      cell = sqlite_cell(stmt_, static_cast<int>(c));
    } else {
      const Value& v = rows_[next_row_ - 1][c];
      cell = CellView{v.kind, v.integer, 0, v.text};  // text is empty unless kind is SQLITE_TEXT
    }
    if (columns_[c].long_forms) {
      bool went = false;
      result = encode_long_value(out, columns_[c], cell, apart, went);
      went_apart = went_apart || went;
    } else {
      result = encode_cell(out, columns_[c], cell, problem);
    }
  }
  return result;
}

void Cursor::fail(Block& block, unsigned index, std::string text) {
  block.failed = true;
  block.error_index = index;
  block.error_text = std::move(text);
  source_done_ = true;
}

void Cursor::source_ended(Block& block, int rc) {
  if (rc != SQLITE_DONE) {
    SqlError e = sqlite_error(db_, rc);
    fail(block, e.index, e.text);
  }
  sqlite3_reset(stmt_);  // ends the statement's read transaction
  stmt_ = nullptr;
}

inline bool Cursor::step(Block& block) {
  if (stmt_) {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return pending_ = true;
    source_ended(block, rc);
    return false;
  }
  if (next_row_ < rows_.size()) {
    ++next_row_;
    return pending_ = true;
  }
  return false;
}

void Cursor::produce(size_t limit, size_t max_rows) {
  if (source_done_) return;
  // Encoded straight into the block's own buffer, left uncleared; a block
  // begun earlier goes on where it stopped.
  Block block = std::exchange(building_, Block{});
  if (!block.buffer || building_limit_ != limit) {
    block = Block{};
    block.buffer = std::make_unique_for_overwrite<char[]>(limit);
  }
  RowWriter out(block.buffer.get(), limit);
  out.rewind(block.size);
  std::string problem;
  bool at_end = false;
  for (size_t rows = 0;; ++rows) {
    if (rows == max_rows) {
      block.size = out.size();
      building_ = std::move(block);
      building_limit_ = limit;
      return;
    }
    if (!pending_ && !step(block)) {
      at_end = !block.failed;
      break;
    }
    size_t mark = out.size();
    bool went_apart = false;
    // The common case inline: every value of a source row in the fetch itself.
    Encoded result = !stmt_                   ? encode_row(out, false, went_apart, problem)
                     : !out.put(kRowMarker) ? Encoded::NoRoom
                                            : encode_values(out, columns_.data(), ways_.data(), columns_.size(),
                                                            direct_most_, stmt_, problem);
    if (result == Encoded::Ok) {
      pending_ = false;
      continue;
    }
    out.rewind(mark);
    if (result == Encoded::NoRoom && mark > 0) break;  // the row opens the next block
    if (result == Encoded::NoRoom && long_forms_ && stmt_) {
      // Too long for a fetch even alone: its long values stay on the host,
      // to be read in pieces, and the row ends its block.
      result = encode_row(out, true, went_apart, problem);
      if (result == Encoded::Ok) {
        pending_ = false;
        held_ = went_apart;
        break;
      }
      out.rewind(mark);
    }
    if (result == Encoded::NoRoom)
      problem = "A row of the result is longer than the " + std::to_string(limit) +
                " bytes that one fetch can carry";
    // The row is refused where it falls: the rows before it go out in a
    // block of their own, the refusal follows in its own reply, and the
    // next fetch goes on after the refused row.
    pending_ = false;
    block.size = mark;
    if (mark > 0) ready_.push_back(std::move(block));
    Block refused;
    refused.failed = true;
    refused.error_index = kErrGeneral;
    refused.error_text = std::move(problem);
    ready_.push_back(std::move(refused));
    return;
  }
  if (!block.failed && at_end) {
    source_done_ = true;
    if (out.put(kEndMarker)) block.end = true;
    else source_done_ = false;  // the end marker goes with the next block
  }
  block.size = out.size();
  if (block.failed && block.size > 0) {
    // Rows read before the failure still go out; the failure follows them.
    Block rows;
    rows.buffer = std::move(block.buffer);
    rows.size = std::exchange(block.size, 0);
    ready_.push_back(std::move(rows));
  }
  ready_.push_back(std::move(block));
}

size_t Cursor::buffered_bytes() const {
  size_t n = 0;
  for (const auto& b : ready_) n += b.size;
  return n + building_.size;
}

Block Cursor::next(size_t limit) {
  if (ready_.empty()) {
    held_ = false;  // the client is done with the held row
    produce(limit);
  }
  Block b = std::move(ready_.front());
  ready_.pop_front();
  return b;
}

}  // namespace hostserver
