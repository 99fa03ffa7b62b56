// quarl-hostserver under attack.  Each test runs one attack of a hostile
// (or careless) client against a real server and checks, while the attack
// runs, that a legitimate client connects, logs in and queries within two
// seconds, and afterwards that the database file passes SQLite's integrity
// check, is still in WAL mode and serves again.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "common/trancode.h"
#include "tests/hostserver/raw_client.h"
#include "tests/support/test_env.h"

using rawclient::Msg;
using rawclient::RawClient;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kServedWithin = std::chrono::seconds(2);
// The attackers connect from another loopback address than the legitimate
// clients, as they would from another machine.
const std::string kAttacker = "127.0.0.2";

std::string fixed(unsigned width, unsigned long long value) {
  std::string s = std::to_string(value);
  return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

std::string scalar(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  std::string out = "(failed)";
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    out = text ? reinterpret_cast<const char*>(text) : "";
  }
  sqlite3_finalize(stmt);
  return out;
}

// Waits for a condition, up to a generous bound.
template <typename F>
bool eventually(F condition, std::chrono::seconds bound = std::chrono::seconds(30)) {
  auto until = Clock::now() + bound;
  while (Clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

bool process_gone(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// A plain TCP connection from the attacker's address, nothing sent.
int open_from(const std::string& source, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<uint16_t>(port));
  remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class Attack : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rawclient::use_own_build(); }

  void start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--database", db_path(), "--log", (dir / "log").string()});
    args_ = args;
    server = std::make_unique<testsupport::HostServer>(args_);
    RawClient c(server->port());
    ASSERT_EQ(c.login().status(), '0');
    std::string id = c.alloc();
    ASSERT_EQ(c.exec(id, "CREATE TABLE IF NOT EXISTS t (k INTEGER PRIMARY KEY, v TEXT)").status, '0');
    ASSERT_EQ(c.exec(id, "INSERT OR IGNORE INTO t VALUES (1, 'one'), (2, 'two')").status, '0');
  }
  std::string db_path() const { return (dir / "host.sqlite").string(); }
  std::string log() const { return testsupport::read_file(dir / "log"); }

  // A legitimate client connects, logs in and queries within the bound.
  void expect_served(const std::string& during) {
    auto began = Clock::now();
    RawClient c(server->port());
    Msg login = c.login();
    ASSERT_EQ(login.status(), '0') << during << ": " << login.error_text();
    std::string id = c.alloc();
    auto d = c.exec(id, "SELECT count(*) FROM t");
    ASSERT_EQ(d.status, '0') << during << ": " << d.first.error_text();
    EXPECT_EQ(c.fetch_all(id, d.columns).rows.size(), 1u) << during;
    EXPECT_LT(Clock::now() - began, kServedWithin) << during;
  }

  // Runs attack on another thread while a legitimate client is served
  // every 200 ms, at least three times and until the attack has had its
  // effect (effect, when given, says so); stop tells the attack to end.
  template <typename F>
  void while_attacking(const std::string& what, F attack, std::function<bool()> effect = {}) {
    std::atomic<bool> stop{false};
    std::thread attacker([&] { attack(stop); });
    auto give_up = Clock::now() + std::chrono::seconds(60);
    for (int i = 0; i < 3 || (effect && !effect() && Clock::now() < give_up); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the attack goes on meanwhile
      expect_served(what);
    }
    stop = true;
    attacker.join();
  }

  // The server stops; its file is sound, in WAL mode, and served again.
  void expect_intact() {
    server.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db_path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    EXPECT_EQ(scalar(db, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(scalar(db, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(scalar(db, "SELECT v FROM t WHERE k = 2"), "two");
    sqlite3_close(db);
    server = std::make_unique<testsupport::HostServer>(args_);
    expect_served("after a restart on the same file");
  }

  testsupport::TempDir dir;
  std::unique_ptr<testsupport::HostServer> server;
  std::vector<std::string> args_;
};

TEST_F(Attack, HostileStatementsAreRefused) {
  start({"--statement-seconds", "1", "--client-memory-mb", "16"});
  // Another SQLite file of the host, which no client may reach.
  std::string elsewhere = (dir / "elsewhere.db").string();
  {
    sqlite3* other = nullptr;
    sqlite3_open(elsewhere.c_str(), &other);
    sqlite3_exec(other, "CREATE TABLE secret (x); INSERT INTO secret VALUES ('hidden')", nullptr, nullptr, nullptr);
    sqlite3_close(other);
  }
  std::string copy = (dir / "copy.db").string();
  std::string deep = "SELECT " + std::string(300, '(') + "1" + std::string(300, ')');
  struct Case {
    std::string sql;
    unsigned index;  // 0: allowed
  } cases[] = {
      // A tokenizer pointer handed in by SQL crashed the server; the
      // one-argument form told where the library lies.
      {"SELECT fts3_tokenizer('simple', x'4141414141414141')", 15},
      {"SELECT fts3_tokenizer('simple')", 15},
      {"SELECT FTS3_Tokenizer('porter')", 15},
      {"CREATE VIRTUAL TABLE docs USING fts3(body, tokenize=simple)", 0},
      {"INSERT INTO docs VALUES ('full text search stays usable')", 0},
      {"SELECT count(*) FROM docs WHERE body MATCH 'search'", 0},
      {"SELECT load_extension('libm.so.6')", 15},
      // Pragmas in any case: nothing that changes the schema's protection,
      // the file's journal, locking or schema version, or the process.
      {"PRAGMA WRITABLE_SCHEMA=1", 15},
      {"pragma Writable_Schema = ON", 15},
      {"PRAGMA JOURNAL_MODE=DELETE", 15},
      {"PRAGMA main.journal_mode = OFF", 15},
      {"PRAGMA LOCKING_MODE=EXCLUSIVE", 15},
      {"PRAGMA SCHEMA_VERSION=1", 15},
      {"PRAGMA TEMP_STORE_DIRECTORY='" + dir.path().string() + "'", 15},
      {"PRAGMA DATA_STORE_DIRECTORY='" + dir.path().string() + "'", 15},
      {"PRAGMA hard_heap_limit=20000", 15},
      {"PRAGMA Soft_Heap_Limit=1", 15},
      {"PRAGMA mmap_size=1000000", 15},
      {"PRAGMA synchronous=OFF", 15},
      {"PRAGMA trusted_schema=1", 15},
      {"PRAGMA busy_timeout=0", 15},
      {"PRAGMA cache_size=-1000000", 15},
      {"PRAGMA temp_store=FILE", 15},
      {"PRAGMA wal_checkpoint(TRUNCATE)", 15},
      {"PRAGMA no_such_pragma", 15},
      {"UPDATE sqlite_master SET sql = 'garbage' WHERE name = 't'", 3},
      // Reading settings, and settings of one's own connection, stay.
      {"PRAGMA journal_mode", 0},
      {"PRAGMA Foreign_Keys=OFF", 0},
      {"PRAGMA CASE_SENSITIVE_LIKE=1", 0},
      {"PRAGMA table_info(t)", 0},
      {"PRAGMA integrity_check", 0},
      {"SELECT * FROM pragma_index_list('t')", 0},
      // No other file, however its name is made.
      {"ATTACH '" + elsewhere + "' AS x", 15},
      {"ATTACH printf('%s', '" + elsewhere + "') AS x", 15},
      {"ATTACH trim('  " + elsewhere + "  ') AS x", 15},
      {"ATTACH '" + dir.path().string() + "/' || 'elsewhere.db' AS x", 15},
      {"ATTACH (SELECT '" + elsewhere + "') AS x", 15},
      {"ATTACH DATABASE ':memory:' AS scratch", 15},
      {"ATTACH 'file:" + elsewhere + "?mode=ro' AS x", 15},
      {"VACUUM INTO '" + copy + "'", 15},
      // Limits: value size, expression depth, time, memory.
      {"SELECT length(zeroblob(100000000))", 3},
      {deep, 3},
      {"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c", 3},
      {"CREATE TEMP TABLE big AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 100000) "
       "SELECT x, randomblob(1000) AS b FROM c",
       4},
      {"SELECT 1", 0},
  };
  RawClient c(server->port());
  ASSERT_EQ(c.login().status(), '0');
  std::string id = c.alloc();
  for (auto& t : cases) {
    auto d = c.exec(id, t.sql);
    if (t.index == 0) {
      EXPECT_EQ(d.status, '0') << t.sql << ": " << d.first.error_text();
      if (d.status == '0' && !d.columns.empty()) c.fetch_all(id, d.columns);
    } else {
      EXPECT_EQ(d.status, '9') << t.sql;
      EXPECT_EQ(d.first.error_index(), t.index) << t.sql << ": " << d.first.error_text();
    }
  }
  // The limits say which limit it was.
  auto slow = c.exec(id, "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT max(x) FROM c");
  EXPECT_NE(slow.first.error_text().find("1 second the host allows"), std::string::npos) << slow.first.error_text();
  auto big = c.exec(id, "CREATE TEMP TABLE big AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                        "LIMIT 100000) SELECT x, randomblob(1000) AS b FROM c");
  EXPECT_NE(big.first.error_text().find("16 MiB"), std::string::npos) << big.first.error_text();
  // A computed name given as a parameter is refused too.
  std::string param = fixed(4, 1) + "12" + "0999" + "00" + "0" + fixed(3, elsewhere.size()) + elsewhere;
  auto attached = c.statement(9, id, "ATTACH ? AS x", param, 1);
  EXPECT_EQ(attached.first.error_index(), 15u) << attached.first.error_text();
  EXPECT_FALSE(std::filesystem::exists(copy));
  // The connection goes on after every refusal.
  auto d = c.exec(id, "SELECT v FROM t WHERE k = 1");
  ASSERT_EQ(d.status, '0');
  EXPECT_EQ(*c.fetch_all(id, d.columns).rows.at(0).at(0), "one");
  expect_served("after hostile statements");
  expect_intact();
}

// Calls of SQL's string functions whose work grows with the product of
// their arguments' lengths are one step of SQLite's program, where no
// progress check comes: each held a worker for minutes past the deadline.
// Now each is answered, or stopped at the deadline like any other work.
TEST_F(Attack, CostlyFunctionCallsStopAtTheDeadline) {
  start({"--statement-seconds", "1"});
  const std::string hay = "hex(zeroblob(4000000))", needle = "substr(hex(zeroblob(2000000)), 2) || '1'";
  const std::string set = "replace(hex(zeroblob(100000)), '0', 'b') || '0'";
  const std::string distinct = "(SELECT group_concat(char(x), '') FROM (WITH RECURSIVE c(x) AS (SELECT 256 UNION ALL "
                               "SELECT x + 1 FROM c LIMIT 100000) SELECT x FROM c)) || '0'";
  const std::string costly[] = {
      "SELECT instr(" + hay + ", " + needle + ")",
      "SELECT length(replace(" + hay + ", " + needle + ", 'x'))",
      "SELECT length(ltrim(hex(zeroblob(400000)), " + set + "))",
      "SELECT length(rtrim(hex(zeroblob(400000)), " + set + "))",
      "SELECT length(trim(hex(zeroblob(400000)), " + set + "))",
      "SELECT length(ltrim(hex(zeroblob(4000000)), " + distinct + "))",
  };
  std::atomic<size_t> answered{0};
  while_attacking("costly function calls", [&](std::atomic<bool>&) {
    RawClient c(server->port(), 0, kAttacker);
    ASSERT_EQ(c.login().status(), '0');
    std::string id = c.alloc();
    for (const auto& sql : costly) {
      auto began = Clock::now();
      auto d = c.exec(id, sql);
      if (d.status == '0') c.fetch_all(id, d.columns);
      else
        EXPECT_NE(d.first.error_text().find("1 second the host allows"), std::string::npos)
            << sql << ": " << d.first.error_text();
      EXPECT_LT(Clock::now() - began, std::chrono::seconds(15)) << sql;
      ++answered;
    }
    EXPECT_EQ(c.exec(id, "SELECT 1").status, '0');
  }, [&] { return answered == std::size(costly); });
  // The same functions answer as SQLite's own do, for text, blobs, NULLs,
  // numbers and characters of several bytes.
  const char* same[] = {
      "instr('hello', 'l')", "instr('héllo wörld', 'ö')", "instr(x'00010203', x'0203')", "instr('abc', x'63')",
      "instr(NULL, 'a')", "instr('a', NULL)", "instr('abc', '')", "instr('', 'a')", "instr(12345, 34)",
      "instr('aé', 'x')", "replace('aaa', 'a', 'bb')", "replace('abcabc', 'bc', '')", "replace('abc', '', 'x')",
      "replace(NULL, 'a', 'b')", "replace('a', NULL, 'b')", "replace('a', 'a', NULL)", "replace(123123, 2, 9)",
      "replace(x'616263', 'b', 'x')", "replace('ééé', 'é', 'e')", "trim('  x  ')", "ltrim('  x  ')",
      "rtrim('  x  ')", "trim('xxhixx', 'x')", "ltrim('abcba', 'ab')", "rtrim('abcba', 'ab')",
      "trim('ééaé', 'é')", "trim('abc', '')", "trim('abc', NULL)", "trim(NULL)", "trim(12300, '0')",
      "ltrim(x'2020414220', ' ')", "typeof(trim(5))", "typeof(replace(5, 'x', 'y'))", "typeof(instr(5, 5))",
      // A list of more different characters than are looked up by their bytes.
      "length(ltrim((SELECT group_concat(char(x), '') FROM (WITH RECURSIVE c(x) AS (SELECT 900 UNION ALL "
      "SELECT x + 1 FROM c LIMIT 6000) SELECT x FROM c)) || 'xyz', 'y' || (SELECT group_concat(char(x), '') "
      "FROM (WITH RECURSIVE c(x) AS (SELECT 900 UNION ALL SELECT x + 1 FROM c LIMIT 6000) SELECT x FROM c))))",
  };
  sqlite3* local = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &local), SQLITE_OK);
  RawClient c(server->port());
  ASSERT_EQ(c.login().status(), '0');
  std::string id = c.alloc();
  for (const char* expression : same) {
    std::string sql = std::string("SELECT quote(") + expression + ")";
    auto d = c.exec(id, sql);
    ASSERT_EQ(d.status, '0') << sql << ": " << d.first.error_text();
    auto rows = c.fetch_all(id, d.columns).rows;
    ASSERT_EQ(rows.size(), 1u) << sql;
    EXPECT_EQ(rows[0].at(0).value_or("(null)"), scalar(local, sql.c_str())) << sql;
  }
  sqlite3_close(local);
  expect_intact();
}

TEST_F(Attack, StatementsOfLongTextsCannotExhaustMemory) {
  start({"--client-memory-mb", "8"});
  RawClient c(server->port());
  ASSERT_EQ(c.login().status(), '0');
  // Statements of 1 MiB of SQL text each, sent in as many messages as it
  // takes; the reply to the last.
  std::string text = "SELECT 1 /*" + std::string((1 << 20) - 16, 'x') + "*/";
  auto prepare = [&](const std::string& id) {
    const size_t room = 8192 - 14 - 10;
    for (size_t at = 0;; at += room) {
      bool first = at == 0, last = at + room >= text.size();
      if (!c.send(1, 10, id + (first ? "1" : "0") + (last ? "1" : "0") + "0000" + text.substr(at, room))) return Msg{};
      auto m = c.receive();
      if (!m || last || m->status() != '0') return m ? *m : Msg{};
    }
  };
  Msg refused;
  std::vector<std::string> ids;
  for (int n = 0; n < 16 && refused.data.empty(); ++n) {
    ids.push_back(c.alloc());
    Msg m = prepare(ids.back());
    if (m.status() != '0') refused = m;
  }
  ASSERT_FALSE(refused.data.empty()) << "16 statements of 1 MiB were all kept";
  EXPECT_EQ(refused.error_index(), 4u);
  EXPECT_NE(refused.error_text().find("8 MiB"), std::string::npos) << refused.error_text();
  // Dropping statements gives the memory back.
  for (auto& id : ids) EXPECT_EQ(c.request(1, 2, id + "1").data, "0");
  EXPECT_EQ(prepare(c.alloc()).status(), '0');
  expect_served("after the long texts");
  expect_intact();
}

TEST_F(Attack, IdleConnectionsCannotTakeTheSlots) {
  start();
  // 300 connections that never log in, each reopened as soon as the server
  // drops it.
  while_attacking("300 idle connections", [&](std::atomic<bool>& stop) {
    std::vector<int> fds;
    while (!stop) {
      while (fds.size() < 300 && !stop) {
        int fd = open_from(kAttacker, server->port());
        if (fd >= 0) fds.push_back(fd);
      }
      std::vector<pollfd> p;
      for (int fd : fds) p.push_back({fd, POLLIN, 0});
      ::poll(p.data(), p.size(), 20);
      for (size_t i = fds.size(); i-- > 0;)
        if (p[i].revents) {
          char b[64];
          if (::recv(fds[i], b, sizeof b, MSG_DONTWAIT) <= 0) {
            ::close(fds[i]);
            fds.erase(fds.begin() + static_cast<long>(i));
          }
        }
    }
    for (int fd : fds) ::close(fd);
  });
  EXPECT_NE(log().find("dropped for a newer connection"), std::string::npos);
  expect_intact();
}

TEST_F(Attack, SlowIdleAndFrozenClientsAreDropped) {
  start({"--trancode-listen", "127.0.0.1:0", "--io-seconds", "1", "--idle-seconds", "3", "--login-seconds", "2"});
  const int trancode = server->trancode_port();
  // A request of the transaction protocol, and its reply read whole.
  auto transaction = [&](RawClient& c, const std::string& text) -> std::string {
    if (!c.send_bytes(quarl::trancode::encode_request("ECHO", "", "", text))) return "(not sent)";
    auto length = c.receive_bytes(6);
    if (!length) return "(no reply)";
    auto rest = c.receive_bytes(std::stoul(*length) - 6);
    return rest ? rest->substr(106) : "(reply cut short)";
  };
  // Connections of the transaction listener that send nothing, one that
  // sends a byte every 200 ms, a logged-in client that does the same with
  // a message, and one that logs in and goes quiet.
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 40; ++i) idle.push_back(std::make_unique<RawClient>(trancode, 0, kAttacker));
  RawClient slow_transaction(trancode, 0, kAttacker);
  RawClient slow_message(server->port(), 0, kAttacker);
  ASSERT_EQ(slow_message.login().status(), '0');
  RawClient quiet(server->port(), 0, kAttacker);
  ASSERT_EQ(quiet.login().status(), '0');
  RawClient never_logs_in(server->port(), 0, kAttacker);
  while_attacking("slow and idle clients", [&](std::atomic<bool>& stop) {
    std::string request = quarl::trancode::encode_request("ECHO", "", "", "slow");
    std::string frame = std::string("\0\0\0\x12", 4) + "#@!1070000004abcd";
    for (size_t i = 0; !stop; ++i) {
      slow_transaction.send_bytes(request.substr(i % request.size(), 1));
      slow_message.send_bytes(frame.substr(i % frame.size(), 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  // Transaction calls are served meanwhile, and after.
  RawClient caller(trancode);
  EXPECT_EQ(transaction(caller, "hello"), "hello");
  EXPECT_TRUE(slow_transaction.closed_by_server());
  EXPECT_TRUE(slow_message.closed_by_server());
  EXPECT_TRUE(quiet.closed_by_server());
  EXPECT_TRUE(never_logs_in.closed_by_server());
  EXPECT_TRUE(idle.front()->closed_by_server());  // made room for the caller
  std::string text = log();
  for (const char* reason : {"sent part of a message and not the rest within 1 second",
                             "sent part of a request and not the rest within 1 second",
                             "sent no request for 3 seconds", "did not log in within 2 seconds"})
    EXPECT_NE(text.find(reason), std::string::npos) << reason;
  expect_intact();
}

TEST_F(Attack, LoginFloodsAreSlowedAndCutOff) {
  start();
  std::atomic<int> answered{0}, most_on_one_connection{0};
  while_attacking("a login flood", [&](std::atomic<bool>& stop) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        while (!stop) {
          RawClient c(server->port(), 0, kAttacker);
          int here = 0;
          while (!stop && c.send(0, 1, "108192DEMO/WRONGPW" + std::to_string(here) + ".CFG.")) {
            auto m = c.receive(5000);
            if (!m) break;
            ++answered;
            ++here;
          }
          int seen = most_on_one_connection.load();
          while (here > seen && !most_on_one_connection.compare_exchange_weak(seen, here)) {
          }
        }
      });
    for (auto& t : threads) t.join();
  }, [&] { return log().find("lockout") != std::string::npos; });
  // At most three answers on one connection; the address is locked out
  // even for the right password, with a message that says so.
  EXPECT_LE(most_on_one_connection.load(), 3);
  RawClient late(server->port(), 0, kAttacker);
  Msg locked = late.login();
  EXPECT_EQ(locked.error_index(), 14u);
  EXPECT_NE(locked.error_text().find("Too many failed logins"), std::string::npos) << locked.error_text();
  // The log tells the operator, and holds no password.
  std::string text = log();
  size_t checked = 0;
  for (size_t at = 0; (at = text.find("login-failed", at)) != std::string::npos; ++at) ++checked;
  EXPECT_GE(checked, 10u);
  EXPECT_LE(checked, 14u) << "passwords kept being checked after the lockout";
  EXPECT_NE(text.find("lockout " + kAttacker), std::string::npos);
  EXPECT_EQ(text.find("WRONGPW"), std::string::npos);
  EXPECT_NE(text.find("login #"), std::string::npos);
  expect_intact();
}

TEST_F(Attack, AFrozenWriterIsRolledBackAndTold) {
  start({"--transaction-idle-seconds", "1", "--busy-seconds", "10"});
  // The frozen client takes the write lock and stops.
  RawClient frozen(server->port(), 0, kAttacker);
  ASSERT_EQ(frozen.login().status(), '0');
  std::string fid = frozen.alloc('0');
  ASSERT_EQ(frozen.exec(fid, "INSERT INTO t VALUES (10, 'frozen')").status, '0');
  expect_served("while a writer is frozen");  // readers are not held up
  // A writer waits for the lock, and gets it once the frozen transaction is rolled back.
  RawClient writer(server->port());
  ASSERT_EQ(writer.login().status(), '0');
  std::string wid = writer.alloc();
  auto began = Clock::now();
  auto d = writer.exec(wid, "INSERT INTO t VALUES (11, 'writer')");
  EXPECT_EQ(d.status, '0') << d.first.error_text();
  EXPECT_LT(Clock::now() - began, std::chrono::seconds(8));
  // The frozen client hears why, with 40001, until it ends the transaction.
  auto refused = frozen.exec(fid, "SELECT count(*) FROM t");
  EXPECT_EQ(refused.first.error_index(), 24u);
  EXPECT_NE(refused.first.error_text().find("rolled back"), std::string::npos) << refused.first.error_text();
  EXPECT_EQ(frozen.request(1, 18, "00ab0").error_index(), 24u);  // a commit cannot be done
  d = frozen.exec(fid, "SELECT count(*) FROM t WHERE k = 10");
  ASSERT_EQ(d.status, '0') << d.first.error_text();
  EXPECT_EQ(std::stoll(*frozen.fetch_all(fid, d.columns).rows.at(0).at(0)), 0);
  EXPECT_EQ(frozen.request(1, 18, "00ab0").data, "0");
  EXPECT_NE(log().find("write transaction idle for 1 second"), std::string::npos);
  expect_intact();
}

TEST_F(Attack, ConflictsAreSerializationFailuresAndWritersWait) {
  start({"--busy-seconds", "20"});
  RawClient a(server->port()), b(server->port());
  ASSERT_EQ(a.login().status(), '0');
  ASSERT_EQ(b.login().status(), '0');
  std::string aid = a.alloc('0'), bid = b.alloc('0');
  auto read = [](RawClient& c, const std::string& id) {
    auto d = c.exec(id, "SELECT count(*) FROM t");
    c.fetch_all(id, d.columns);
  };
  // A reads; B changes the table and commits; A's write cannot be made on
  // what it read: 40001, and a retry succeeds.
  read(a, aid);
  ASSERT_EQ(b.exec(bid, "INSERT INTO t VALUES (20, 'b')").status, '0');
  ASSERT_EQ(b.request(1, 18, "00ab0").data, "0");
  auto conflict = a.exec(aid, "INSERT INTO t VALUES (21, 'a')");
  EXPECT_EQ(conflict.first.error_index(), 24u) << conflict.first.error_text();
  EXPECT_NE(conflict.first.error_text().find("run the transaction again"), std::string::npos);
  ASSERT_EQ(a.request(1, 18, "00ab1").data, "0");
  read(a, aid);
  EXPECT_EQ(a.exec(aid, "INSERT INTO t VALUES (21, 'a')").status, '0');
  ASSERT_EQ(a.request(1, 18, "00ab0").data, "0");

  // A reads; B holds the write lock; A's write waits for it (SQLite alone
  // fails at once) and goes through when B rolls back.
  read(a, aid);
  ASSERT_EQ(b.exec(bid, "INSERT INTO t VALUES (22, 'b')").status, '0');
  ASSERT_TRUE(a.send(1, 9, aid + "110000" + "INSERT INTO t VALUES (23, 'a')"));
  EXPECT_FALSE(a.receive(300)) << "the write did not wait for the lock";
  ASSERT_EQ(b.request(1, 18, "00ab1").data, "0");
  auto waited = a.receive();
  ASSERT_TRUE(waited);
  EXPECT_EQ(waited->status(), '0') << waited->error_text();
  ASSERT_EQ(a.request(1, 18, "00ab0").data, "0");
  expect_served("after the conflicts");
  expect_intact();
}

class ProcedureAttack : public Attack {
 protected:
  void add(const std::string& path, const std::string& body) {
    std::filesystem::create_directories((procedures / path).parent_path());
    testsupport::write_file(procedures / path, "#!/bin/sh\n" + body + "\n");
    ::chmod((procedures / path).c_str(), 0755);
  }
  // A procedure call in one block; the reply's status and area (or message).
  std::pair<char, std::string> call(RawClient& c, const std::string& library, const std::string& entry,
                                    const std::string& area) {
    std::string block = "11" + fixed(4, library.size()) + library + fixed(4, entry.size()) + entry +
                        fixed(5, area.size()) + fixed(5, area.size()) + area;
    Msg m = c.request(3, 1, block);
    if (m.status() != '0') return {m.status(), m.error_text()};
    return {'0', m.data.substr(7)};
  }
  testsupport::TempDir procedures;
};

TEST_F(ProcedureAttack, ProcessesThatLeaveTheirGroupAreStoppedToo) {
  std::string escaped = (procedures / "escaped.pid").string(), stuck = (procedures / "stuck.pid").string();
  // Leaves a child in a session of its own that holds standard output, and
  // ends at once.
  add("LIB/ESCAPE", "(setsid sh -c 'echo $$ > " + escaped + "; exec sleep 300' &)\n"
                   "while [ ! -s " + escaped + " ]; do sleep 0.01; done\nprintf done");
  // The same, and then runs past the time limit.
  add("LIB/HANG", "(setsid sh -c 'echo $$ > " + stuck + "; exec sleep 300' &)\nexec sleep 300");
  add("LIB/ECHO", "exec cat");
  std::filesystem::create_directories(procedures / "LINKS");
  std::filesystem::create_symlink("/bin/echo", procedures / "LINKS" / "OUT");
  std::filesystem::create_symlink(procedures / "LIB" / "ECHO", procedures / "LINKS" / "IN");
  start({"--procedures", procedures.path().string(), "--procedure-seconds", "2"});

  RawClient c(server->port());
  ASSERT_EQ(c.login().status(), '0');
  auto began = Clock::now();
  EXPECT_EQ(call(c, "LIB", "ESCAPE", "    "), std::make_pair('0', std::string("done")));
  EXPECT_LT(Clock::now() - began, std::chrono::seconds(2)) << "waited for the escaped child";
  auto written = [](const std::string& file) {
    std::string text = testsupport::read_file(file);
    return text.size() > 1 && text.back() == '\n';
  };
  ASSERT_TRUE(eventually([&] { return written(escaped); }));
  std::string pid = testsupport::read_file(escaped);
  pid.pop_back();
  EXPECT_TRUE(eventually([&] { return process_gone(pid); })) << "pid " << pid;

  std::pair<char, std::string> hung;
  std::thread caller([&] { hung = call(c, "LIB", "HANG", "x"); });
  expect_served("while a procedure runs past its limit");
  caller.join();
  EXPECT_EQ(hung.second, "Procedure LIB/HANG exceeded its time limit of 2 seconds");
  ASSERT_TRUE(written(stuck));
  pid = testsupport::read_file(stuck);
  pid.pop_back();
  EXPECT_TRUE(eventually([&] { return process_gone(pid); })) << "pid " << pid;

  // Links lead only inside the folder.
  auto out = call(c, "LINKS", "OUT", "x");
  EXPECT_EQ(out.first, '9');
  EXPECT_NE(out.second.find("leads outside the procedures folder"), std::string::npos) << out.second;
  EXPECT_EQ(call(c, "LINKS", "IN", "inside"), std::make_pair('0', std::string("inside")));
  expect_intact();
}

TEST_F(ProcedureAttack, TheOperatorMayAllowLinksOut) {
  std::filesystem::create_directories(procedures / "LINKS");
  std::filesystem::create_symlink("/bin/echo", procedures / "LINKS" / "OUT");
  start({"--procedures", procedures.path().string(), "--allow-links-out"});
  RawClient c(server->port());
  ASSERT_EQ(c.login().status(), '0');
  EXPECT_EQ(call(c, "LINKS", "OUT", "  "), std::make_pair('0', std::string("\n ")));
}

TEST_F(ProcedureAttack, ATransactionProgramStopsWhenItsClientGoesAway) {
  std::string pidfile = (procedures / "slow.pid").string();
  add("SLOW", "echo $$ > " + pidfile + "; exec sleep 300");
  start({"--trancode-listen", "127.0.0.1:0", "--transactions", procedures.path().string(),
         "--transaction-seconds", "600"});
  {
    RawClient c(server->trancode_port());
    ASSERT_TRUE(c.send_bytes(quarl::trancode::encode_request("SLOW", "", "", "x")));
    ASSERT_TRUE(eventually([&] {
      std::string text = testsupport::read_file(pidfile);
      return text.size() > 1 && text.back() == '\n';
    }));
  }
  std::string pid = testsupport::read_file(pidfile);
  pid.pop_back();
  EXPECT_TRUE(eventually([&] { return process_gone(pid); })) << "pid " << pid;
  expect_served("after the transaction client went away");
  expect_intact();
}

}  // namespace
