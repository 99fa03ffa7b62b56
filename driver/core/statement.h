// The statement record and its column and parameter arrays, and the
// statement handle operations shared with the rest of the driver.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "driver/codec/records.h"
#include "driver/codec/row.h"
#include "driver/core/diag.h"
#include "driver/core/long_values.h"
#include "driver/core/registry.h"

namespace quarl::driver {

struct ConnBlock;
struct StmtBlock;

// Fetch states.
enum FetchState : uint8_t { kFetchIdle = 0, kFetchOutstanding = 1, kFetchCancelled = 2 };
// Operation byte value while a fetch request is out.
inline constexpr uint8_t kOperationFetch = 4;

// A request held back until the application has supplied the values of its
// data-at-execution parameters (SQLParamData, SQLPutData).
struct PendingExecution {
  bool active = false;
  unsigned code = 0;           // execute direct or execute
  std::string text;            // the SQL text as given (execute direct)
  std::vector<codec::ParamRecord> params;  // the bound parameters as the request reads them
  std::vector<uint16_t> needed;  // parameter numbers that wait for data, in order
  int current = -1;            // index into needed of the parameter being put; -1 before the first
  // What SQLPutData gave, per entry of needed.
  struct Value {
    bool put = false;
    bool null = false;
    std::string bytes;
    SQLLEN length = 0;  // what the parameter's length pointer reads at execution
    // With long values a text or binary value goes to the host in parameter
    // pieces as it comes (converted by stream); bytes then holds only what
    // does not fill a piece yet.
    bool streamed = false;
    codec::PutDataConverter stream;
    uint64_t sent = 0;  // bytes sent in pieces
  };
  std::vector<Value> values;

  void clear() { *this = PendingExecution{}; }
};

// Parameter arrays: how many sets of values an execution takes and where
// they lie (SQL_ATTR_PARAMSET_SIZE and the other SQL_ATTR_PARAM* attributes
// of ODBC 3; the ODBC 2 driver keeps one set).
struct ParamArray {
  SQLULEN size = 1;
  SQLULEN bind_type = SQL_PARAM_BIND_BY_COLUMN;  // else the bytes of one row-wise set
  SQLULEN* bind_offset = nullptr;                // added to every bound pointer
  SQLUSMALLINT* operation = nullptr;             // SQL_PARAM_PROCEED or SQL_PARAM_IGNORE per set
  SQLUSMALLINT* status = nullptr;                // what became of each set
  SQLULEN* processed = nullptr;                  // sets processed, errors included
};

// Where a fetch puts what it tells besides the bound buffers (SQL_ATTR_ROW*
// of ODBC 3).  A fetch hands out one row.
struct RowAttributes {
  SQLULEN* bind_offset = nullptr;     // added to every bound column's pointers
  SQLUSMALLINT* status = nullptr;     // the row's status
  SQLULEN* fetched = nullptr;         // rows fetched: 1, or 0 at the end
};

enum class DescKind : uint8_t { AppRow, AppParam, ImpRow, ImpParam };

// A descriptor of a statement (ODBC 3): a view of the statement's own records
// (parameter records, column descriptors, array attributes).  Every
// statement has the four implicit ones.
struct DescBlock {
  StmtBlock* stmt;
  DescKind kind;
  ErrorList errors;

  DescBlock(StmtBlock* owner, DescKind k) : stmt(owner), kind(k) {}
  DescBlock(const DescBlock&) = delete;
  DescBlock& operator=(const DescBlock&) = delete;

 private:
  HandleRegistration registration_{this, HandleKind::Desc};
};

struct StmtBlock {
  ErrorList errors;
  ConnBlock* conn = nullptr;
  uint16_t host_id = 0;           // the Host Server's id, four digits on the wire
  uint8_t operation = 0;
  uint8_t fetch_state = kFetchIdle;
  uint32_t async_enable = 0;
  uint32_t autocommit = 1;
  uint32_t query_timeout = 0;
  // The current result set: column array, result column count, highest
  // bound column, parameter marker count, row count and row buffer.
  codec::ResultSet result;
  uint16_t highest_bound_param = 0;
  std::vector<codec::ParamRecord> params;
  char cursor_name[18] = {};      // empty: the generated name is used
  // Received row data of fetch replies (two messages' data and one byte):
  // the buffered row bytes and the row read offset.
  codec::RowArea rows;
  // A fetch reply overflowed the row data area: the rest of it is dropped.
  bool discarding_rows = false;
  // The last SQLFetch gave a row, and its values are where its columns say
  // (character values and doubles' texts in the row data area, which the
  // next fetch request's reply overwrites).
  bool row_at_hand = false;
  // Bytes of a value left on the host, read ahead of the application.
  HeldWindow held_window;
  // The host holds a result (a cursor) for the statement: from a request
  // that described columns until SQL_CLOSE or a request without them.
  bool host_result_open = false;
  // The fetch replies reached the end of the result: the host's cursor has
  // nothing left, and closing it is a formality whose reply is not awaited.
  bool host_result_ended = false;
  // The first fetch request went with the execution: its reply has been
  // read into the row data area, and what it gave (and its diagnostics)
  // waits for the first SQLFetch.
  bool rows_ahead_pending = false;
  SQLRETURN rows_ahead = SQL_SUCCESS;
  ErrorList rows_ahead_errors;
  PendingExecution pending;
  ParamArray param_array;
  RowAttributes row_attributes;
  // A request of the statement that another thread may cancel: while it
  // runs, SQLCancel tells the host at once; the thread that runs it then
  // takes the host's acknowledgement.  Guarded by cancel_mutex.
  std::mutex cancel_mutex;
  bool running = false;
  bool cancel_sent = false;
  // Of the running thread: the statement's wait expired and the driver
  // cancelled it; the host's acknowledgement came (before the reply ended).
  bool cancel_timed_out = false;
  bool cancel_acknowledged = false;
  // The implicit descriptors.
  DescBlock app_row_desc{this, DescKind::AppRow};
  DescBlock app_param_desc{this, DescKind::AppParam};
  DescBlock imp_row_desc{this, DescKind::ImpRow};
  DescBlock imp_param_desc{this, DescKind::ImpParam};

  StmtBlock(ConnBlock* owner, size_t max_data_length);

  // Forgets the rows not yet fetched (every request does).
  void discard_rows() {
    leave_row();
    rows.reset();
    host_result_ended = false;
    rows_ahead_pending = false;
    rows_ahead_errors.clear();
    discarding_rows = false;
    held_window.clear();
  }
  // No row at hand any more: SQLGetData refuses (24000) until the next row,
  // and no column's quick way serves the old values.
  void leave_row() {
    row_at_hand = false;
    for (codec::ColumnDescriptor& c : result.columns) c.quick_c_type = 0;
  }
  StmtBlock(const StmtBlock&) = delete;
  StmtBlock& operator=(const StmtBlock&) = delete;

 private:
  HandleRegistration registration_{this, HandleKind::Stmt};
};

// SQLAllocStmt.
SQLRETURN alloc_stmt(ConnBlock& conn, SQLHSTMT* phstmt);
// SQLFreeStmt: traces, empties the statement's list, runs free_statement.
SQLRETURN free_stmt(StmtBlock& stmt, SQLUSMALLINT option);
// The body of SQLFreeStmt; SQLDisconnect drops every statement with it.
// With SQL_DROP the record is gone afterwards.
SQLRETURN free_statement(ConnBlock& conn, StmtBlock& stmt, SQLUSMALLINT option);
// Asks the Host Server for a statement id.
SQLRETURN alloc_host_statement(ConnBlock& conn, StmtBlock& stmt);

// The connection's identifier in statement allocation and transaction
// requests: four lower-case hexadecimal digits.
void put_connection_id(char* dest, uint16_t connection_id);

}  // namespace quarl::driver
