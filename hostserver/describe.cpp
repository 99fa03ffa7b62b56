#include "hostserver/describe.h"

#include "common/hostmsg.h"
#include "common/long_values.h"
#include "common/utf.h"
#include "hostserver/envelope.h"

namespace hostserver {

namespace code = quarl::hostmsg::code;

void append_column_item(std::string& out, const ColumnShape& column, bool long_values) {
  std::string_view name = column.name;
  name = name.substr(0, quarl::utf8_cut(name.data(), name.size(), kMaxNameLength));
  append_digits(out, 2, name.size());
  out.append(name);
  append_signed(out, 2, wire_code(column.type));
  append_digits(out, long_values ? quarl::longvalues::kPrecisionDigits : quarl::longvalues::kClassicPrecisionDigits,
                column.precision);
  append_digits(out, 2, column.scale);
  append_digits(out, 1, column.nullable ? 1 : 0);
}

std::vector<std::string> describe_reply(unsigned request_code, long long row_count,
                                        const std::vector<ColumnShape>& columns, unsigned markers, size_t max_data,
                                        bool long_values) {
  std::vector<std::string> messages(1, std::string(1, kStatusOk));
  std::string& first = messages.front();
  if (request_code == code::kExecDirect || request_code == code::kExecute) append_signed(first, 10, row_count);
  if (request_code == code::kExecute) return messages;
  append_digits(first, 4, columns.size());
  if (request_code == code::kPrepare) append_digits(first, 4, markers);
  std::string item;
  for (const auto& column : columns) {
    item.clear();
    append_column_item(item, column, long_values);
    if (messages.back().size() + item.size() > max_data) messages.emplace_back();
    messages.back() += item;
  }
  return messages;
}

}  // namespace hostserver
