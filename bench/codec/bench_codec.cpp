// The client side of reading a table of 8 columns (integer key, integer, two
// doubles, two CHAR(1), a DATE, a VARCHAR(44)) with bound columns: fetch
// reply blocks appended to the row data area, each row unpacked and its
// columns converted to their natural C types, as SQLFetch does.
//
// Instructions per row under callgrind (only fetch_row_and_convert counted):
//   valgrind --tool=callgrind --toggle-collect='*fetch_row_and_convert*'
//     build/bin/bench_codec --benchmark_filter=FetchBoundRows --benchmark_min_time=0.01
// (one command line)
//   callgrind_annotate --inclusive=yes callgrind.out.<pid> | grep fetch_row_and_convert
// and divide by the number of calls reported in the benchmark's "rows" counter.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/codec/convert.h"
#include "driver/codec/describe.h"
#include "driver/codec/records.h"
#include "driver/codec/row.h"

namespace {

using namespace quarl::codec;

// Data bytes of one fetch reply message at the default message size (8192).
constexpr size_t kMaxData = 8192 - 14;

std::string item(const char* name, int type, int precision) {
  char text[64];
  std::snprintf(text, sizeof text, "%02zu%s%02d%04d%02d%d", std::string(name).size(), name, type, precision, 0, 1);
  return text;
}

constexpr const char* kText = "a varchar value of some thirty chars";

// What the host sends for row i.
std::string wire_row(int i) {
  char text[160];
  char d1[24], d2[24];
  int n1 = std::snprintf(d1, sizeof d1, "%d.%03d", i / 7, i % 1000);
  int n2 = std::snprintf(d2, sizeof d2, "0.%06d", (i * 37) % 1000000 + 1);
  std::snprintf(text, sizeof text, "0%010d%010d%02d%s%02d%s %c %c%04d%02d%02d%03d%s", i, i * 3 % 100000, n1, d1, n2,
                d2, 'A' + i % 26, 'a' + i % 26, 1990 + i % 30, 1 + i % 12, 1 + i % 28, static_cast<int>(std::strlen(kText)),
                kText);
  return text;
}

struct Reader {
  ResultSet rs;
  RowArea area{2 * kMaxData + 1};
  std::vector<std::string> blocks;  // fetch reply row data, one per message
  size_t next_block = 0;
  // Bound buffers.
  SQLINTEGER key = 0, value = 0;
  double d1 = 0, d2 = 0;
  char c1[2], c2[2], text[45];
  DATE_STRUCT date{};
  SQLLEN lengths[8] = {};
  struct Binding {
    SQLSMALLINT c_type;
    void* buffer;
    SQLLEN size;
  } bindings[8];

  Reader() {
    std::string reply = "0000000000" "0008";
    reply += item("KEY", SQL_INTEGER, 10) + item("VAL", SQL_INTEGER, 10) + item("D1", SQL_DOUBLE, 15) +
             item("D2", SQL_DOUBLE, 15) + item("C1", SQL_CHAR, 1) + item("C2", SQL_CHAR, 1) +
             item("DT", SQL_DATE, 10) + item("TXT", SQL_VARCHAR, 44);
    DescribeReader describe(9);
    if (describe.feed(reply) != DescribeReader::Step::Done || rs.apply(describe.description())) std::abort();
    Binding b[8] = {{SQL_C_LONG, &key, 4},     {SQL_C_LONG, &value, 4},  {SQL_C_DOUBLE, &d1, 8},
                    {SQL_C_DOUBLE, &d2, 8},    {SQL_C_CHAR, c1, 2},      {SQL_C_CHAR, c2, 2},
                    {SQL_C_DATE, &date, 6},    {SQL_C_CHAR, text, 45}};
    std::copy(b, b + 8, bindings);
    // Blocks as the host fills them: whole rows up to the message's data length.
    std::string block;
    for (int i = 0; i < 20000; ++i) {
      std::string row = wire_row(i);
      if (block.size() + row.size() > kMaxData - 2) {
        blocks.push_back(block);
        block.clear();
      }
      block += row;
    }
    blocks.push_back(block);
  }
};

// One SQLFetch: a new fetch reply of two messages when the buffered rows are
// used up, then the row unpacked and every bound column converted.
__attribute__((noinline)) int fetch_row_and_convert(Reader& r) {
  if (r.area.buffered() == 0) {
    r.area.reset();
    for (int m = 0; m < 2; ++m) {
      if (r.area.append(r.blocks[r.next_block])) std::abort();
      r.next_block = (r.next_block + 1) % r.blocks.size();
    }
  }
  RowResult row = r.area.next_row(std::span(r.rs.columns.data(), r.rs.column_count), r.rs.row_buffer.data());
  if (row.kind != RowResult::Row) std::abort();
  int info = 0;
  for (int c = 0; c < 8; ++c) {
    const Reader::Binding& b = r.bindings[c];
    ConvertResult cr = convert_column(r.rs.columns[static_cast<size_t>(c)], b.c_type, b.buffer, b.size,
                                      &r.lengths[c], r.rs.row_buffer.data());
    info |= cr.rc;
  }
  return info;
}

void FetchBoundRows(benchmark::State& state) {
  Reader reader;
  int64_t rows = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(fetch_row_and_convert(reader));
    ++rows;
  }
  benchmark::DoNotOptimize(reader.key);
  state.SetItemsProcessed(rows);
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(FetchBoundRows);

}  // namespace

BENCHMARK_MAIN();
