#include "driver/diag.h"

#include <cstring>
#include <new>

#include "common/hostmsg.h"
#include "driver/handles.h"
#include "driver/output.h"

namespace quarl::driver {
namespace {

struct SqlStateRow {
  const char* state;
  const char* message;
};

constexpr SqlStateRow kSqlStates[kSqlStateCount] = {
    {"00000", "Success"},
    {"S0002", "Base table not found"},
    {"S0022", "Column not found"},
    {"S1000", "General failure"},
    {"S1001", "Memory allocation failure"},
    {"S1002", "Invalid column number"},
    {"S1009", "Invalid argument value"},
    {"S1010", "Function sequence error"},
    {"S1091", "Descriptor type out of range"},
    {"S1092", "Option type out of range"},
    {"S1096", "Information type out of range"},
    {"S1C00", "Driver not capable"},
    {"01004", "Data truncated"},
    {"08S01", "Communication link failure"},
    {"28000", "Invalid authorization specification"},
    {"37000", "Syntax error or access violation"},
    {"3C000", "Duplicate cursor name: %s"},
    {"08001", "Unable to connect to data source"},
    {"08002", "Connection is already in use"},
    {"08003", "Connection not open"},
    {"IM001", "Driver does not support this function"},
    {"S1008", "Operation canceled"},
    {"34000", "Invalid cursor name"},
    {"22002", "Indicator variable required but not supplied"},
};

}  // namespace

const char* sqlstate_of(unsigned index) {
  // An index outside the table (only the Host Server can send one) is
  // reported as the general failure.
  return index < kSqlStateCount ? kSqlStates[index].state : "S1000";
}

const char* table_message(unsigned index) {
  return index < kSqlStateCount ? kSqlStates[index].message : kSqlStates[kErrGeneral].message;
}

void ErrorList::take_all(ErrorList& other) {
  if (&other == this) return;
  for (auto& r : other.records) records.push_back(std::move(r));
  other.records.clear();
}

void post_error(ErrorList& list, unsigned index, const char* text) {
  try {
    std::string composed = kMessagePrefix;
    composed += text ? text : table_message(index);
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

void post_host_errors(ErrorList& list, std::string_view items) {
  hostmsg::for_each_error_item(items, [&](unsigned index, std::string_view text) {
    post_raw_error(list, index, 0, text.data(), text.size());
  });
}

void clear_errors(EnvBlock* env, ConnBlock* conn, StmtBlock* stmt) {
  if (env) env->errors.clear();
  if (conn) conn->errors.clear();
  if (stmt) stmt->errors.clear();
}

SQLRETURN take_error(ErrorList* list, SQLCHAR* szSqlState, SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg,
                     SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg) {
  if (!list || list->empty()) {
    if (szSqlState) std::memcpy(szSqlState, "00000", 6);
    if (szErrorMsg && cbErrorMsgMax >= 1) szErrorMsg[0] = '\0';
    if (pcbErrorMsg) *pcbErrorMsg = 0;
    return SQL_NO_DATA_FOUND;
  }
  ErrorRecord record = std::move(list->records.front());
  list->records.pop_front();
  if (pfNativeError) *pfNativeError = record.native;
  if (szSqlState) std::memcpy(szSqlState, sqlstate_of(record.index), 6);
  bool cut = write_text_out(record.text, szErrorMsg, cbErrorMsgMax, pcbErrorMsg);
  return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace quarl::driver
