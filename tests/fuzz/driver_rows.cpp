// The driver's reading of result sets, without a connection: a describe
// reply and its continuation messages, then fetch replies whose row data are
// unpacked row by row into the statement's row buffer, and the error items
// of failing replies.  Input: records; the first record's code byte picks
// the request the describe reply answers (execute direct, prepare, execute,
// a catalog function) and its data is the reply's first message; later
// records continue the description while it wants more, and then are fetch
// replies (status digit first).
#include <span>

#include "common/hostmsg.h"
#include "driver/codec/describe.h"
#include "driver/codec/row.h"
#include "driver/core/diag.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const unsigned kCodes[] = {9, 10, 11, 3, 6, 8};
  auto records = fuzz::read_records(data, size);
  if (records.empty()) return 0;
  quarl::driver::ErrorList errors;
  auto post = [&](std::string_view reply) {
    // Status digit, then error items for statuses other than 0 and 5.
    if (!reply.empty()) quarl::driver::post_host_errors(errors, reply.substr(1));
  };

  size_t next = 0;
  const fuzz::Record& first = records[next++];
  quarl::codec::DescribeReader reader(kCodes[first.code % 6]);
  std::string_view reply = first.data;
  if (reply.empty() || reply[0] != '0') {
    post(reply);
    return 0;
  }
  auto step = reader.feed(reply.substr(1));
  while (step == quarl::codec::DescribeReader::Step::NeedMore && next < records.size())
    step = reader.feed(records[next++].data);
  if (step != quarl::codec::DescribeReader::Step::Done) return 0;

  quarl::codec::ResultSet result;
  if (result.apply(reader.description())) return 0;
  const size_t max_data = 8192 - 14;
  quarl::codec::RowArea area(2 * max_data + 1);
  std::span<quarl::codec::ColumnDescriptor> columns(result.columns.data(), result.column_count);
  while (next < records.size()) {
    auto fetched = quarl::codec::read_fetch_reply(records[next++].data);
    if (fetched.kind == quarl::codec::FetchReply::HostErrors) {
      quarl::driver::post_host_errors(errors, fetched.items);
      continue;
    }
    if (fetched.kind != quarl::codec::FetchReply::Rows) continue;
    if (area.append(fetched.rows)) continue;
    for (int rows = 0; rows < 10000; ++rows) {
      auto row = area.next_row(columns, result.row_buffer.data());
      if (row.kind == quarl::codec::RowResult::End || row.kind == quarl::codec::RowResult::Malformed) break;
    }
  }
  return 0;
}
