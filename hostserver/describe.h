// Describe replies: what a statement request, a catalog request or a type
// information request answers about its result (row count, columns,
// parameter markers), in as many messages as the column items need.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hostserver/type_mapping.h"

namespace hostserver {

// One column item: name length (2 digits), name, SQL type ('-' and 2
// digits when negative), precision (4, or 10 with long values agreed),
// scale (2), nullable (1).
void append_column_item(std::string& out, const ColumnShape& column, bool long_values = false);

// The data of the reply messages, the first starting with status '0'.  The
// row count is sent for codes 9 and 11, the marker count for code 10; code
// 11 carries nothing else.  Column items are never split: when the next one
// does not fit, a continuation message (items only) follows.
std::vector<std::string> describe_reply(unsigned code, long long row_count, const std::vector<ColumnShape>& columns,
                                        unsigned markers, size_t max_data, bool long_values = false);

}  // namespace hostserver
