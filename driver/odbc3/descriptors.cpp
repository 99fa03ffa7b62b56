// The implicit descriptors of a statement, as views of its own records: the
// application parameter descriptor is the bound parameters (C side) and the
// parameter array, the implementation parameter descriptor their SQL side
// and status array, the application row descriptor the bound columns, and
// the implementation row descriptor the result's columns (read-only).
#include <cstring>
#include <string>

#include "driver/core/results.h"
#include "driver/odbc3/api.h"

namespace quarl::driver::odbc3 {
namespace {

// How a field's value is stored for the application.
enum class Width { Small, Integer, Len, ULen, Pointer, Text };

Width width_of(SQLSMALLINT field) {
  switch (field) {
    case SQL_DESC_ARRAY_SIZE:
    case SQL_DESC_LENGTH: return Width::ULen;
    case SQL_DESC_OCTET_LENGTH:
    case SQL_DESC_DISPLAY_SIZE: return Width::Len;
    case SQL_DESC_BIND_TYPE:
    case SQL_DESC_NUM_PREC_RADIX:
    case SQL_DESC_AUTO_UNIQUE_VALUE:
    case SQL_DESC_CASE_SENSITIVE: return Width::Integer;
    case SQL_DESC_ARRAY_STATUS_PTR:
    case SQL_DESC_BIND_OFFSET_PTR:
    case SQL_DESC_ROWS_PROCESSED_PTR:
    case SQL_DESC_DATA_PTR:
    case SQL_DESC_INDICATOR_PTR:
    case SQL_DESC_OCTET_LENGTH_PTR: return Width::Pointer;
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_TYPE_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME:
    case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX: return Width::Text;
    default: return Width::Small;
  }
}

void store(SQLPOINTER out, Width width, SQLLEN number, SQLPOINTER pointer) {
  switch (width) {
    case Width::Small: put_value(out, static_cast<SQLSMALLINT>(number)); break;
    case Width::Integer: put_value(out, static_cast<SQLINTEGER>(number)); break;
    case Width::Len:
    case Width::ULen: put_value(out, number); break;
    case Width::Pointer: put_value(out, pointer); break;
    case Width::Text: break;
  }
}

bool is_app(const DescBlock& d) { return d.kind == DescKind::AppRow || d.kind == DescKind::AppParam; }
bool is_param(const DescBlock& d) { return d.kind == DescKind::AppParam || d.kind == DescKind::ImpParam; }

SQLSMALLINT record_count(const DescBlock& d) {
  const StmtBlock& s = *d.stmt;
  switch (d.kind) {
    case DescKind::AppParam:
    case DescKind::ImpParam: return static_cast<SQLSMALLINT>(s.highest_bound_param);
    case DescKind::AppRow: return static_cast<SQLSMALLINT>(s.result.highest_bound_column);
    case DescKind::ImpRow: return static_cast<SQLSMALLINT>(s.result.column_count);
  }
  return 0;
}

// The parameter record for a record number, made to exist (app side) or
// found (implementation side); null when it cannot be.
codec::ParamRecord* param_record(StmtBlock& s, SQLSMALLINT record, bool create) {
  if (record < 1 || record > 1024) return nullptr;
  auto n = static_cast<uint16_t>(record);
  if (create) {
    if (s.params.size() < n) s.params.resize(n, codec::ParamRecord{});
    if (s.highest_bound_param < n) s.highest_bound_param = n;
  }
  return n <= s.params.size() ? &s.params[n - 1u] : nullptr;
}

}  // namespace

SQLRETURN get_desc_field(DescBlock& desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                         SQLINTEGER buffer_length, SQLINTEGER* string_length, bool wide) {
  StmtBlock& s = *desc.stmt;
  Width width = width_of(field);
  auto give = [&](SQLLEN number) {
    store(value, width, number, nullptr);
    return SQLRETURN{SQL_SUCCESS};
  };
  auto give_pointer = [&](SQLPOINTER pointer) {
    store(value, Width::Pointer, 0, pointer);
    return SQLRETURN{SQL_SUCCESS};
  };
  // Header fields.
  switch (field) {
    case SQL_DESC_ALLOC_TYPE: return give(SQL_DESC_ALLOC_AUTO);
    case SQL_DESC_COUNT: return give(record_count(desc));
    case SQL_DESC_ARRAY_SIZE: return give(desc.kind == DescKind::AppParam ? static_cast<SQLLEN>(s.param_array.size) : 1);
    case SQL_DESC_ARRAY_STATUS_PTR:
      switch (desc.kind) {
        case DescKind::AppParam: return give_pointer(s.param_array.operation);
        case DescKind::ImpParam: return give_pointer(s.param_array.status);
        case DescKind::ImpRow: return give_pointer(s.row_attributes.status);
        case DescKind::AppRow: return give_pointer(nullptr);
      }
      break;
    case SQL_DESC_BIND_OFFSET_PTR:
      if (desc.kind == DescKind::AppParam) return give_pointer(s.param_array.bind_offset);
      if (desc.kind == DescKind::AppRow) return give_pointer(s.row_attributes.bind_offset);
      return post(desc.errors, SQL_ERROR, kErrOptionType, "An application descriptor's field");
    case SQL_DESC_BIND_TYPE:
      if (desc.kind == DescKind::AppParam) return give(static_cast<SQLLEN>(s.param_array.bind_type));
      if (desc.kind == DescKind::AppRow) return give(SQL_BIND_BY_COLUMN);
      return post(desc.errors, SQL_ERROR, kErrOptionType, "An application descriptor's field");
    case SQL_DESC_ROWS_PROCESSED_PTR:
      if (desc.kind == DescKind::ImpParam) return give_pointer(s.param_array.processed);
      if (desc.kind == DescKind::ImpRow) return give_pointer(s.row_attributes.fetched);
      return post(desc.errors, SQL_ERROR, kErrOptionType, "An implementation descriptor's field");
    default: break;
  }
  if (record < 1 || record > record_count(desc)) return SQL_NO_DATA;

  if (desc.kind == DescKind::ImpRow) {
    // The result's columns: what SQLColAttribute tells.
    SQLLEN number = 0;
    SQLSMALLINT text_length = 0;
    TextBuffer text{value, buffer_length, wide ? TextUnit::WideByte : TextUnit::Byte};
    SQLRETURN rc = col_attribute(s, static_cast<SQLUSMALLINT>(record), static_cast<SQLUSMALLINT>(field),
                                 width == Width::Text ? text : TextBuffer{}, &text_length, &number);
    if (rc == SQL_ERROR) {
      desc.errors.take_all(s.errors);
      return rc;
    }
    if (width == Width::Text) {
      if (string_length) *string_length = text_length;
    } else {
      store(value, width, number, nullptr);
    }
    return rc;
  }

  if (is_param(desc)) {
    const codec::ParamRecord* p = param_record(s, record, false);
    if (!p) return SQL_NO_DATA;
    bool app = is_app(desc);
    switch (field) {
      case SQL_DESC_TYPE:
      case SQL_DESC_CONCISE_TYPE: return give(app ? p->c_type : p->sql_type);
      case SQL_DESC_DATA_PTR: return app ? give_pointer(p->value) : give_pointer(nullptr);
      case SQL_DESC_INDICATOR_PTR:
      case SQL_DESC_OCTET_LENGTH_PTR: return give_pointer(app ? p->length : nullptr);
      case SQL_DESC_OCTET_LENGTH: return give(app ? p->buffer_length : 0);
      case SQL_DESC_LENGTH:
      case SQL_DESC_PRECISION: return give(app ? 0 : static_cast<SQLLEN>(p->precision));
      case SQL_DESC_SCALE: return give(app ? 0 : p->scale);
      case SQL_DESC_PARAMETER_TYPE: return give(SQL_PARAM_INPUT);
      case SQL_DESC_NULLABLE: return give(SQL_NULLABLE_UNKNOWN);
      case SQL_DESC_UNNAMED: return give(SQL_UNNAMED);
      case SQL_DESC_NAME: write_text_out("", TextBuffer{value, buffer_length, wide ? TextUnit::WideByte : TextUnit::Byte},
                                         string_length);
        return SQL_SUCCESS;
      default: return post(desc.errors, SQL_ERROR, kErrDescriptorType);
    }
  }

  // The bound columns.
  const codec::ColumnDescriptor& c = s.result.columns[static_cast<size_t>(record) - 1];
  switch (field) {
    case SQL_DESC_TYPE:
    case SQL_DESC_CONCISE_TYPE: return give(c.bound_c_type);
    case SQL_DESC_DATA_PTR: return give_pointer(c.bound_buffer);
    case SQL_DESC_INDICATOR_PTR:
    case SQL_DESC_OCTET_LENGTH_PTR: return give_pointer(c.bound_length);
    case SQL_DESC_OCTET_LENGTH: return give(c.bound_buffer_length);
    case SQL_DESC_LENGTH:
    case SQL_DESC_PRECISION:
    case SQL_DESC_SCALE: return give(0);
    default: return post(desc.errors, SQL_ERROR, kErrDescriptorType);
  }
}

SQLRETURN set_desc_field(DescBlock& desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value, SQLINTEGER) {
  StmtBlock& s = *desc.stmt;
  auto number = static_cast<SQLLEN>(reinterpret_cast<intptr_t>(value));
  if (desc.kind == DescKind::ImpRow) return post(desc.errors, SQL_ERROR, kErrImplementationDescriptor);
  // Header fields.
  switch (field) {
    case SQL_DESC_ARRAY_SIZE:
      if (desc.kind == DescKind::AppParam) {
        if (number < 1) return post(desc.errors, SQL_ERROR, kErrAttributeValue, "An array size below 1");
        s.param_array.size = static_cast<SQLULEN>(number);
        return SQL_SUCCESS;
      }
      if (number == 1) return SQL_SUCCESS;
      return post(desc.errors, SQL_SUCCESS_WITH_INFO, kErrOptionChanged, "A fetch hands out one row");
    case SQL_DESC_ARRAY_STATUS_PTR: {
      auto* p = static_cast<SQLUSMALLINT*>(value);
      if (desc.kind == DescKind::AppParam) s.param_array.operation = p;
      else if (desc.kind == DescKind::ImpParam) s.param_array.status = p;
      else if (p) return post(desc.errors, SQL_ERROR, kErrNotCapable, "Row operations are not supported");
      return SQL_SUCCESS;
    }
    case SQL_DESC_BIND_OFFSET_PTR:
      if (desc.kind == DescKind::AppParam) s.param_array.bind_offset = static_cast<SQLULEN*>(value);
      else if (desc.kind == DescKind::AppRow) s.row_attributes.bind_offset = static_cast<SQLULEN*>(value);
      else return post(desc.errors, SQL_ERROR, kErrOptionType, "An application descriptor's field");
      return SQL_SUCCESS;
    case SQL_DESC_BIND_TYPE:
      if (desc.kind == DescKind::AppParam) s.param_array.bind_type = static_cast<SQLULEN>(number);
      else if (desc.kind != DescKind::AppRow) return post(desc.errors, SQL_ERROR, kErrOptionType);
      return SQL_SUCCESS;  // one row per fetch: the row binding type changes nothing
    case SQL_DESC_ROWS_PROCESSED_PTR:
      if (desc.kind == DescKind::ImpParam) s.param_array.processed = static_cast<SQLULEN*>(value);
      else return post(desc.errors, SQL_ERROR, kErrOptionType, "An implementation descriptor's field");
      return SQL_SUCCESS;
    case SQL_DESC_COUNT:
      if (number < 0) return post(desc.errors, SQL_ERROR, kErrDescriptorIndex);
      if (is_param(desc)) {
        if (number > 1024) return post(desc.errors, SQL_ERROR, kErrDescriptorIndex);
        s.highest_bound_param = static_cast<uint16_t>(number);
        if (s.params.size() > s.highest_bound_param) s.params.resize(s.highest_bound_param);
        return SQL_SUCCESS;
      }
      if (number > 1024 || s.result.reserve_binding(static_cast<uint16_t>(number ? number : 1)))
        return post(desc.errors, SQL_ERROR, kErrDescriptorIndex);
      return SQL_SUCCESS;
    case SQL_DESC_ALLOC_TYPE: return post(desc.errors, SQL_ERROR, kErrOptionType, "A read-only field");
    default: break;
  }
  if (record < 1 || record > 1024) return post(desc.errors, SQL_ERROR, kErrDescriptorIndex);

  if (is_param(desc)) {
    codec::ParamRecord* p = param_record(s, record, true);
    bool app = is_app(desc);
    switch (field) {
      case SQL_DESC_TYPE:
      case SQL_DESC_CONCISE_TYPE:
        (app ? p->c_type : p->sql_type) = static_cast<SQLSMALLINT>(number);
        return SQL_SUCCESS;
      case SQL_DESC_DATA_PTR:
        if (!app) return post(desc.errors, SQL_ERROR, kErrOptionType, "An application descriptor's field");
        p->value = value;
        return SQL_SUCCESS;
      case SQL_DESC_INDICATOR_PTR:
      case SQL_DESC_OCTET_LENGTH_PTR:
        if (!app) return post(desc.errors, SQL_ERROR, kErrOptionType, "An application descriptor's field");
        p->length = static_cast<SQLLEN*>(value);
        return SQL_SUCCESS;
      case SQL_DESC_OCTET_LENGTH:
        if (app) p->buffer_length = number;
        return SQL_SUCCESS;
      case SQL_DESC_LENGTH:
      case SQL_DESC_PRECISION:
        if (!app) p->precision = static_cast<uint32_t>(number);
        else if (field == SQL_DESC_PRECISION) p->c_precision = static_cast<int16_t>(number);
        return SQL_SUCCESS;
      case SQL_DESC_SCALE:
        if (!app) p->scale = static_cast<int32_t>(number);
        else p->c_scale = static_cast<int16_t>(number);
        return SQL_SUCCESS;
      case SQL_DESC_PARAMETER_TYPE:
        if (number == SQL_PARAM_INPUT) return SQL_SUCCESS;
        return post(desc.errors, SQL_ERROR, kErrNotCapable, "Parameters are input parameters only");
      default: return post(desc.errors, SQL_ERROR, kErrDescriptorType);
    }
  }

  // A bound column.
  if (s.result.reserve_binding(static_cast<uint16_t>(record))) return post(desc.errors, SQL_ERROR, kErrMemory);
  codec::ColumnDescriptor& c = s.result.columns[static_cast<size_t>(record) - 1];
  switch (field) {
    case SQL_DESC_TYPE:
    case SQL_DESC_CONCISE_TYPE: c.bound_c_type = static_cast<SQLSMALLINT>(number); return SQL_SUCCESS;
    case SQL_DESC_DATA_PTR: c.bound_buffer = value; return SQL_SUCCESS;
    case SQL_DESC_INDICATOR_PTR:
    case SQL_DESC_OCTET_LENGTH_PTR: c.bound_length = static_cast<SQLLEN*>(value); return SQL_SUCCESS;
    case SQL_DESC_OCTET_LENGTH: c.bound_buffer_length = number; return SQL_SUCCESS;
    case SQL_DESC_LENGTH:
    case SQL_DESC_PRECISION:
    case SQL_DESC_SCALE: return SQL_SUCCESS;  // numbers come as the host sends them
    default: return post(desc.errors, SQL_ERROR, kErrDescriptorType);
  }
}

SQLRETURN get_desc_rec(DescBlock& desc, SQLSMALLINT record, const TextBuffer& name, SQLSMALLINT* name_length,
                       SQLSMALLINT* type, SQLSMALLINT* subtype, SQLLEN* length, SQLSMALLINT* precision,
                       SQLSMALLINT* scale, SQLSMALLINT* nullable) {
  if (record < 1 || record > record_count(desc)) return SQL_NO_DATA;
  bool wide = name.wide();
  SQLINTEGER n = 0;
  SQLRETURN rc = SQL_SUCCESS;
  if (desc.kind == DescKind::ImpRow) {
    // The field takes its capacity and length in bytes; the record in characters.
    bool chars = name.unit == TextUnit::WideChar;
    auto capacity = static_cast<SQLINTEGER>(chars ? 2 * name.capacity : name.capacity);
    rc = get_desc_field(desc, record, SQL_DESC_NAME, name.data, capacity, &n, wide);
    if (chars) n /= 2;
  } else {
    write_text_out("", name, &n);
  }
  if (name_length) *name_length = static_cast<SQLSMALLINT>(n);
  get_desc_field(desc, record, SQL_DESC_TYPE, type, 0, nullptr, wide);
  get_desc_field(desc, record, SQL_DESC_DATETIME_INTERVAL_CODE, subtype, 0, nullptr, wide);
  get_desc_field(desc, record, SQL_DESC_OCTET_LENGTH, length, 0, nullptr, wide);
  get_desc_field(desc, record, SQL_DESC_PRECISION, precision, 0, nullptr, wide);
  get_desc_field(desc, record, SQL_DESC_SCALE, scale, 0, nullptr, wide);
  get_desc_field(desc, record, SQL_DESC_NULLABLE, nullable, 0, nullptr, wide);
  desc.errors.clear();  // fields a kind of descriptor does not have read as left
  return rc;
}

SQLRETURN set_desc_rec(DescBlock& desc, SQLSMALLINT record, SQLSMALLINT type, SQLSMALLINT, SQLLEN length,
                       SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data, SQLLEN* octet_length,
                       SQLLEN* indicator) {
  auto set = [&](SQLSMALLINT field, SQLPOINTER v) { return set_desc_field(desc, record, field, v, 0); };
  auto num = [](SQLLEN v) { return reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(v)); };
  for (SQLRETURN rc : {set(SQL_DESC_TYPE, num(type)), set(SQL_DESC_OCTET_LENGTH, num(length)),
                       set(SQL_DESC_PRECISION, num(precision)), set(SQL_DESC_SCALE, num(scale))})
    if (rc == SQL_ERROR) return rc;
  if (is_app(desc)) {
    for (SQLRETURN rc : {set(SQL_DESC_DATA_PTR, data), set(SQL_DESC_OCTET_LENGTH_PTR, octet_length),
                         set(SQL_DESC_INDICATOR_PTR, indicator)})
      if (rc == SQL_ERROR) return rc;
  }
  return SQL_SUCCESS;
}

}  // namespace quarl::driver::odbc3
