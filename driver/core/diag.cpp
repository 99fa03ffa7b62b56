#include "driver/core/diag.h"

#include <cstring>
#include <new>

#include "common/hostmsg.h"
#include "driver/core/handles.h"
#include "driver/core/output.h"

namespace quarl::driver {

void ErrorList::take_all(ErrorList& other) {
  if (&other == this) return;
  for (auto& r : other.records) records.push_back(std::move(r));
  other.records.clear();
}

void post_error(ErrorList& list, unsigned index, const char* text) {
  try {
    std::string composed = kMessagePrefix;
    composed += text ? text : sqlstate_message(index);
    if (composed.size() > kFormattedTextMax) composed.resize(kFormattedTextMax);
    list.records.push_back(ErrorRecord{static_cast<uint16_t>(index), 0, std::move(composed)});
  } catch (const std::bad_alloc&) {
    // No memory for the record: the diagnostic is dropped.
  }
}

void post_raw_error(ErrorList& list, unsigned index, int32_t native, const char* text, size_t length) {
  try {
    list.records.push_back(ErrorRecord{static_cast<uint16_t>(index), native, std::string(text, length)});
  } catch (const std::bad_alloc&) {
  }
}

int post_host_errors(ErrorList& list, std::string_view items) {
  return hostmsg::for_each_error_item(items, [&](unsigned index, std::string_view text) {
    // An index the host's table does not have reports the general failure.
    post_raw_error(list, index < kHostErrorIndexCount ? index : unsigned{kErrGeneral}, 0, text.data(), text.size());
  });
}

void clear_errors(EnvBlock* env, ConnBlock* conn, StmtBlock* stmt) {
  if (env) env->errors.clear();
  if (conn) conn->errors.clear();
  if (stmt) stmt->errors.clear();
}

SQLRETURN write_record(const ErrorRecord& record, OdbcVersion version, const TextBuffer& state,
                       SQLINTEGER* pfNativeError, const TextBuffer& message, SQLSMALLINT* pcbErrorMsg) {
  if (pfNativeError) *pfNativeError = record.native;
  if (state.data) write_text(record_state(record, version), state);
  bool cut = write_text_out(record.text, message, pcbErrorMsg);
  return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN take_error(ErrorList* list, SQLCHAR* szSqlState, SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg,
                     SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg, OdbcVersion version) {
  if (!list || list->empty()) {
    if (szSqlState) std::memcpy(szSqlState, "00000", 6);
    if (szErrorMsg && cbErrorMsgMax >= 1) szErrorMsg[0] = '\0';
    if (pcbErrorMsg) *pcbErrorMsg = 0;
    return SQL_NO_DATA_FOUND;
  }
  ErrorRecord record = std::move(list->records.front());
  list->records.pop_front();
  return write_record(record, version, TextBuffer::narrow(szSqlState, 6), pfNativeError,
                      TextBuffer::narrow(szErrorMsg, cbErrorMsgMax), pcbErrorMsg);
}

}  // namespace quarl::driver
