// Generates the benchmark database: the same rows for every stack that
// bench/run measures.  A program of its own, so that the benchmark client
// links no database library (a driver's first connect there pays for
// loading what it needs, as in an application).
//
//   quarl-bench-data FILE ROWS SEED
#include <sqlite3.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

[[noreturn]] void die(const std::string& text) {
  std::fprintf(stderr, "quarl-bench-data: %s\n", text.c_str());
  std::exit(1);
}

// The benchmark data: 1,000,000 rows (by default) of 8 columns from a fixed
// seed.  Values come from the raw 64-bit output of mt19937_64 (whose
// sequence the standard fixes), not from library distributions, so every
// build makes the same file.

const char* kCreate =
    "CREATE TABLE bench (k INTEGER PRIMARY KEY, i INTEGER, d1 DOUBLE, d2 DOUBLE, "
    "c1 CHAR(1), c2 CHAR(1), dt DATE, v VARCHAR(44))";

// Civil date of a day number counted from 1970-01-01.
void civil_from_days(int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

int generate(const std::string& file, int64_t rows, uint64_t seed) {
  std::remove(file.c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) die("cannot create " + file);
  auto exec = [&](const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) die(std::string(sql) + ": " + error);
  };
  exec("PRAGMA journal_mode=OFF");
  exec("PRAGMA synchronous=OFF");
  exec(kCreate);
  exec("BEGIN");
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT INTO bench VALUES (?,?,?,?,?,?,?,?)", -1, &insert, nullptr) != SQLITE_OK)
    die(sqlite3_errmsg(db));
  std::mt19937_64 random(seed);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz      ";  // 32: letters and some blanks
  const int64_t first_day = 7305;                                    // 1990-01-01
  for (int64_t k = 1; k <= rows; ++k) {
    uint64_t r1 = random(), r2 = random(), r3 = random(), r4 = random(), r5 = random();
    auto i = static_cast<int64_t>(r1 % 2000000001) - 1000000000;
    double d1 = static_cast<double>(r2 % 10000000) / 100.0;           // an amount in cents
    double d2 = static_cast<double>(r3 >> 11) * 0x1.0p-53 * 1000.0;   // a full-precision measurement
    char c1 = static_cast<char>('A' + r4 % 26);
    char c2 = (r4 >> 8) % 3 == 0 ? 'N' : 'Y';
    int y;
    unsigned m, d;
    civil_from_days(first_day + static_cast<int64_t>((r4 >> 16) % 14610), y, m, d);  // 1990 .. 2029
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", y, m, d);
    size_t length = 16 + static_cast<size_t>((r4 >> 40) % 29);  // 16 .. 44, 30 on average
    char text[48];
    uint64_t bits = r5;
    for (size_t at = 0; at < length; ++at) {
      if (at % 12 == 0 && at > 0) bits = random();
      text[at] = kLetters[bits & 31];
      bits >>= 5;
    }
    text[0] = static_cast<char>('A' + (r5 >> 59) % 26);  // no leading blank
    sqlite3_bind_int64(insert, 1, k);
    sqlite3_bind_int64(insert, 2, i);
    sqlite3_bind_double(insert, 3, d1);
    sqlite3_bind_double(insert, 4, d2);
    sqlite3_bind_text(insert, 5, &c1, 1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 6, &c2, 1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 7, date, 10, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 8, text, static_cast<int>(length), SQLITE_TRANSIENT);
    if (sqlite3_step(insert) != SQLITE_DONE) die(sqlite3_errmsg(db));
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  exec("COMMIT");
  exec("ANALYZE");
  sqlite3_close(db);
  std::printf("{\"generated\": %" PRId64 "}\n", rows);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) die("usage: quarl-bench-data FILE ROWS SEED");
  return generate(argv[1], std::stoll(argv[2]), std::stoull(argv[3]));
}
