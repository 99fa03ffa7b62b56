// The end-to-end benchmark client: runs one benchmark query (or a series of
// connects) through the unixODBC driver manager against a data source given
// by its connection string, and prints what it measured as one JSON line.
// The rows come from quarl-bench-data (bench_data.cpp).  This program links
// no database library of its own: a driver's first connect in it pays for
// loading whatever that driver needs, as it would in an application.
//
//   quarl-bench query   --connect STR --query full|proj|single|lookup|empty
//                       [--mode bound|getdata] [--as natural|text] [--limit N]
//                       [--iterations N] [--table-rows N] [--seed S]
//                       [--server-pid PID]
//   quarl-bench connect --connect STR [--count N]
//
// Under callgrind, --toggle-collect='*bench_fetch_loop*' counts the instructions
// of the fetch loop alone (connect and execute excluded), '*bench_execution*'
// those of each execution of a repeated query, '*bench_connect*' those of
// each connect.
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& text) {
  std::fprintf(stderr, "quarl-bench: %s\n", text.c_str());
  std::exit(1);
}

// ---------------------------------------------------------------------------
// ODBC helpers.

std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string all;
  SQLCHAR state[6], text[1024];
  SQLINTEGER native;
  SQLSMALLINT length;
  for (SQLSMALLINT i = 1; SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length) == SQL_SUCCESS;
       ++i)
    all += std::string(" [") + reinterpret_cast<char*>(state) + "] " + reinterpret_cast<char*>(text);
  return all;
}

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) return;
  die(std::string(what) + " failed (" + std::to_string(rc) + ")" + diagnostics(type, handle));
}

struct Connection {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;

  explicit Connection(const std::string& connect) {
    check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_HANDLE_ENV, env, "SQLAllocHandle(ENV)");
    check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, env, "SQLSetEnvAttr");
    check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_HANDLE_ENV, env, "SQLAllocHandle(DBC)");
    SQLCHAR out[1024];
    SQLSMALLINT out_length;
    check(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connect.c_str())), SQL_NTS,
                           out, sizeof out, &out_length, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
  }
  ~Connection() {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
};

// ---------------------------------------------------------------------------
// Queries and their columns, fetched in the C type natural to each, or every
// one as text (SQL_C_CHAR), as isql, pyodbc and many applications read them.

enum class Kind { Int, Double, Char1, Date, Varchar };

struct QueryDef {
  std::string select;  // up to the WHERE clause
  std::vector<Kind> columns;
};

const std::vector<Kind> kAllColumns{Kind::Int,   Kind::Int,   Kind::Double, Kind::Double,
                                    Kind::Char1, Kind::Char1, Kind::Date,   Kind::Varchar};
const char* kSelectAll = "SELECT k, i, d1, d2, c1, c2, dt, v FROM bench";

// What was read, so that the work cannot be skipped and the stacks can be
// compared: they must agree on every count and sum but the doubles' (a driver
// may carry fewer digits).
struct Checksum {
  int64_t rows = 0;
  int64_t integers = 0;
  double doubles = 0;
  int64_t text_bytes = 0;
  int64_t text_hash = 0;
  int64_t dates = 0;
  int64_t nulls = 0;
};

struct Buffers {
  SQLINTEGER integer[8];
  double real[8];
  char text[8][64];
  SQL_DATE_STRUCT date[8];
  SQLLEN length[8];
};

// Every column read as SQL_C_CHAR.
bool g_as_text = false;

SQLSMALLINT c_type(Kind k) {
  if (g_as_text) return SQL_C_CHAR;
  switch (k) {
    case Kind::Int: return SQL_C_SLONG;
    case Kind::Double: return SQL_C_DOUBLE;
    case Kind::Date: return SQL_C_TYPE_DATE;
    default: return SQL_C_CHAR;
  }
}

SQLPOINTER target(Buffers& b, Kind k, size_t c, SQLLEN& size) {
  if (g_as_text) {
    size = sizeof b.text[c];
    return b.text[c];
  }
  switch (k) {
    case Kind::Int: size = sizeof(SQLINTEGER); return &b.integer[c];
    case Kind::Double: size = sizeof(double); return &b.real[c];
    case Kind::Date: size = sizeof(SQL_DATE_STRUCT); return &b.date[c];
    default: size = sizeof b.text[c]; return b.text[c];
  }
}

// A text read as a number: an optional '-' and digits (the integers), or the
// digits of "yyyy-mm-dd" as yyyymmdd (the dates).
inline int64_t text_number(const char* t) {
  bool negative = *t == '-';
  int64_t v = 0;
  for (t += negative; *t; ++t)
    if (*t >= '0' && *t <= '9') v = v * 10 + (*t - '0');
  return negative ? -v : v;
}

inline void add_value(Checksum& sum, const Buffers& b, Kind k, size_t c) {
  if (b.length[c] == SQL_NULL_DATA) {
    ++sum.nulls;
    return;
  }
  if (g_as_text) {
    // The same sums as the natural types give, so that the stacks compare
    // (a double's text is each driver's own: only its length counts).
    switch (k) {
      case Kind::Int: sum.integers += static_cast<SQLINTEGER>(text_number(b.text[c])); return;
      case Kind::Date: sum.dates += text_number(b.text[c]); return;
      case Kind::Double: sum.doubles += std::strtod(b.text[c], nullptr); return;
      default: break;
    }
  }
  switch (k) {
    case Kind::Int: sum.integers += b.integer[c]; break;
    case Kind::Double: sum.doubles += b.real[c]; break;
    case Kind::Date: sum.dates += b.date[c].year * 10000 + b.date[c].month * 100 + b.date[c].day; break;
    default: {
      auto n = static_cast<size_t>(b.length[c]);
      sum.text_bytes += static_cast<int64_t>(n);
      // Cheap, order-sensitive: first and last byte of each value.
      if (n > 0) sum.text_hash = sum.text_hash * 31 + b.text[c][0] * 7 + b.text[c][n - 1];
    }
  }
}

// The fetch loop, by name for callgrind's --toggle-collect='*bench_fetch_loop*'.
__attribute__((noinline)) void bench_fetch_loop(SQLHSTMT stmt, const std::vector<Kind>* columns,
                                                             bool bound, Buffers* b, Checksum* sum) {
  const size_t n = columns->size();
  for (;;) {
    SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    check(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
    if (!bound) {
      for (size_t c = 0; c < n; ++c) {
        Kind k = (*columns)[c];
        SQLLEN size;
        SQLPOINTER t = target(*b, k, c, size);
        check(SQLGetData(stmt, static_cast<SQLUSMALLINT>(c + 1), c_type(k), t, size, &b->length[c]),
              SQL_HANDLE_STMT, stmt, "SQLGetData");
      }
    }
    ++sum->rows;
    for (size_t c = 0; c < n; ++c) add_value(*sum, *b, (*columns)[c], c);
  }
}

// One execution of a repeated query (the prepared one when sql is null), its
// rows fetched and the cursor closed: by name for callgrind's
// --toggle-collect='*bench_execution*', which counts a round trip's client
// instructions.
__attribute__((noinline)) void bench_execution(SQLHSTMT stmt, std::string* sql, const std::vector<Kind>* columns,
                                               bool bound, Buffers* b, Checksum* sum) {
  if (sql == nullptr)
    check(SQLExecute(stmt), SQL_HANDLE_STMT, stmt, "SQLExecute");
  else
    check(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql->data()), SQL_NTS), SQL_HANDLE_STMT, stmt,
          "SQLExecDirect");
  bench_fetch_loop(stmt, columns, bound, b, sum);
  check(SQLFreeStmt(stmt, SQL_CLOSE), SQL_HANDLE_STMT, stmt, "SQLFreeStmt(SQL_CLOSE)");
}

// ---------------------------------------------------------------------------
// Measurements.

double cpu_seconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double process_cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return cpu_seconds(u);
}

// CPU time of another process in seconds: the sum over its threads of their
// run time in nanoseconds (schedstat), which is finer than the clock ticks of
// /proc/PID/stat; a thread that ends between the readings is lost, so the
// caller reads both within one connection.  Negative when unknown.
double other_cpu_seconds(int pid) {
  if (pid <= 0) return -1;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(dir.c_str());
  if (!d) return -1;
  double total = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(dir + "/" + e->d_name + "/schedstat");
    unsigned long long ns = 0;
    if (in >> ns) total += static_cast<double>(ns) * 1e-9;
  }
  closedir(d);
  return total;
}

// VmHWM (peak resident memory) of a process in KiB; -1 when unknown.
long peak_kib(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

struct Stats {
  double median = 0, p99 = 0, min = 0, max = 0;
};

Stats stats(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))]; };
  s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  s.p99 = at(0.99);
  s.min = v.front();
  s.max = v.back();
  return s;
}

std::map<std::string, std::string> options(int argc, char** argv, int from) {
  std::map<std::string, std::string> o;
  for (int i = from; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) != 0 || i + 1 >= argc) die("bad argument " + a);
    o[a.substr(2)] = argv[++i];
  }
  return o;
}

std::string option(const std::map<std::string, std::string>& o, const std::string& name, const std::string& fallback) {
  auto it = o.find(name);
  return it == o.end() ? fallback : it->second;
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// One connect (environment, connection handle, SQLDriverConnect): by name
// for callgrind's --toggle-collect='*bench_connect*'.
__attribute__((noinline)) Connection* bench_connect(const std::string& connect) { return new Connection(connect); }

int run_connects(const std::map<std::string, std::string>& o) {
  std::string connect = option(o, "connect", "");
  int count = std::stoi(option(o, "count", "100"));
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    Connection* c = bench_connect(connect);
    times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    delete c;
  }
  Stats s = stats(times);
  std::printf("{\"connects\": %d, \"connect_median_us\": %.1f, \"connect_p99_us\": %.1f, \"connect_min_us\": %.1f}\n",
              count, s.median * 1e6, s.p99 * 1e6, s.min * 1e6);
  return 0;
}

int run_query(const std::map<std::string, std::string>& o) {
  std::string connect = option(o, "connect", "");
  std::string query = option(o, "query", "full");
  std::string mode = option(o, "mode", "bound");
  long limit = std::stol(option(o, "limit", "0"));
  int iterations = std::stoi(option(o, "iterations", "1000"));
  int64_t table_rows = std::stoll(option(o, "table-rows", "1000000"));
  uint64_t seed = std::stoull(option(o, "seed", "20240601"));
  int server_pid = std::stoi(option(o, "server-pid", "0"));
  bool bound = mode == "bound";
  if (!bound && mode != "getdata") die("mode must be bound or getdata");
  std::string as = option(o, "as", "natural");
  if (as != "natural" && as != "text") die("--as must be natural or text");
  g_as_text = as == "text";

  QueryDef def;
  bool repeated = true;  // executed many times, timed one by one
  if (query == "full") {
    def = {kSelectAll, kAllColumns};
    repeated = false;
  } else if (query == "proj") {
    def = {"SELECT k, v FROM bench", {Kind::Int, Kind::Varchar}};
    repeated = false;
  } else if (query == "single") {
    def = {std::string(kSelectAll) + " WHERE k = " + std::to_string(table_rows / 2 + 1), kAllColumns};
  } else if (query == "lookup") {
    def = {std::string(kSelectAll) + " WHERE k = ?", kAllColumns};
  } else if (query == "empty") {
    def = {std::string(kSelectAll) + " WHERE k < 0", kAllColumns};
  } else {
    die("unknown query " + query);
  }
  if (!repeated && limit > 0) def.select += " LIMIT " + std::to_string(limit);

  Connection conn(connect);
  SQLHSTMT stmt;
  check(SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc, &stmt), SQL_HANDLE_DBC, conn.dbc, "SQLAllocHandle(STMT)");
  Buffers b{};
  Checksum sum;
  if (bound) {
    for (size_t c = 0; c < def.columns.size(); ++c) {
      SQLLEN size;
      SQLPOINTER t = target(b, def.columns[c], c, size);
      check(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), c_type(def.columns[c]), t, size, &b.length[c]),
            SQL_HANDLE_STMT, stmt, "SQLBindCol");
    }
  }
  SQLINTEGER key = 0;
  if (query == "lookup") {
    check(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(def.select.data()), SQL_NTS), SQL_HANDLE_STMT, stmt,
          "SQLPrepare");
    check(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &key, 0, nullptr),
          SQL_HANDLE_STMT, stmt, "SQLBindParameter");
  }

  std::vector<double> times;
  double server0 = other_cpu_seconds(server_pid);
  double cpu0 = process_cpu_seconds();
  auto t0 = Clock::now();
  if (!repeated) {
    check(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(def.select.data()), SQL_NTS), SQL_HANDLE_STMT, stmt,
          "SQLExecDirect");
    bench_fetch_loop(stmt, &def.columns, bound, &b, &sum);
    SQLFreeStmt(stmt, SQL_CLOSE);
  } else {
    std::mt19937_64 random(seed ^ 0x9e3779b97f4a7c15ULL);
    times.reserve(static_cast<size_t>(iterations));
    for (int n = 0; n < iterations; ++n) {
      auto s0 = Clock::now();
      if (query == "lookup") key = static_cast<SQLINTEGER>(random() % static_cast<uint64_t>(table_rows) + 1);
      bench_execution(stmt, query == "lookup" ? nullptr : &def.select, &def.columns, bound, &b, &sum);
      times.push_back(std::chrono::duration<double>(Clock::now() - s0).count());
    }
  }
  double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  double cpu = process_cpu_seconds() - cpu0;
  double server1 = other_cpu_seconds(server_pid);
  double server = server0 >= 0 && server1 >= 0 ? server1 - server0 : -1;
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);

  Stats s = stats(times);
  long server_peak = server_pid > 0 ? peak_kib(std::to_string(server_pid)) : -1;
  std::printf(
      "{\"query\": %s, \"mode\": %s, \"as\": %s, \"rows\": %" PRId64 ", \"executions\": %d, \"wall_s\": %.6f, "
      "\"client_cpu_s\": %.6f, \"server_cpu_s\": %.6f, \"client_peak_kib\": %ld, \"server_peak_kib\": %ld, "
      "\"latency_median_us\": %.2f, \"latency_p99_us\": %.2f, "
      "\"sum_integers\": %" PRId64 ", \"sum_doubles\": %.17g, \"text_bytes\": %" PRId64 ", \"text_hash\": %" PRId64
      ", \"sum_dates\": %" PRId64 ", \"nulls\": %" PRId64 "}\n",
      json_string(query).c_str(), json_string(mode).c_str(), json_string(as).c_str(), sum.rows, repeated ? iterations : 1, wall, cpu, server,
      peak_kib("self"), server_peak, s.median * 1e6, s.p99 * 1e6, sum.integers, sum.doubles, sum.text_bytes,
      sum.text_hash, sum.dates, sum.nulls);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) die("usage: quarl-bench query OPTIONS | connect OPTIONS");
  std::string command = argv[1];
  if (command == "query") return run_query(options(argc, argv, 2));
  if (command == "connect") return run_connects(options(argc, argv, 2));
  die("unknown command " + command);
}
