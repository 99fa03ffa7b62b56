// Fifty clients write in transactions at once for a bounded time, each in
// the pattern that meets other writers (read, then write, then commit), and
// retry what fails.  Afterwards the table holds exactly the rows whose commit
// succeeded (none lost, none twice), and every failure was one the README
// documents: 40001, or the lock wait running out.
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "tests/hostserver/raw_client.h"
#include "tests/support/test_env.h"

using rawclient::Msg;
using rawclient::RawClient;

namespace {

using Clock = std::chrono::steady_clock;

TEST(Load, FiftyWritersLoseNothingAndFailOnlyAsDocumented) {
  rawclient::use_own_build();
  testsupport::TempDir dir;
  testsupport::HostServer server({"--database", (dir / "host.sqlite").string()});
  {
    RawClient c(server.port());
    ASSERT_EQ(c.login().status(), '0');
    std::string id = c.alloc();
    ASSERT_EQ(c.exec(id, "CREATE TABLE ledger (client INTEGER, seq INTEGER, PRIMARY KEY (client, seq))").status, '0');
  }

  constexpr int kClients = 50;
  const auto until = Clock::now() + std::chrono::seconds(3);
  std::mutex mutex;
  std::map<int, std::set<int>> committed;     // by client: the sequence numbers whose commit succeeded
  std::map<std::string, int> failures;        // "index text" -> count
  std::vector<std::string> undocumented;
  std::atomic<int> errors{0};
  auto documented = [](const Msg& m) {
    return m.error_index() == 24 ||
           (m.error_index() == 3 && m.error_text().rfind("The database is locked", 0) == 0);
  };

  std::vector<std::thread> clients;
  for (int n = 0; n < kClients; ++n)
    clients.emplace_back([&, n] {
      try {
        RawClient c(server.port());
        if (c.login().status() != '0') throw std::runtime_error("login refused");
        std::string id = c.alloc('0');  // autocommit off: transactions the client ends
        auto fail = [&](const Msg& m) {
          std::lock_guard lock(mutex);
          ++failures[std::to_string(m.error_index()) + " " + m.error_text().substr(0, 40)];
          if (!documented(m)) undocumented.push_back(std::to_string(m.error_index()) + " " + m.error_text());
          // The client rolls back and runs the transaction again.
          if (c.request(1, 18, "00ab1").data != "0") throw std::runtime_error("rollback refused");
        };
        for (int seq = 0; Clock::now() < until;) {
          auto read = c.exec(id, "SELECT count(*) FROM ledger WHERE client = " + std::to_string(n));
          if (read.status != '0') {
            fail(read.first);
            continue;
          }
          c.fetch_all(id, read.columns);
          auto write =
              c.exec(id, "INSERT INTO ledger VALUES (" + std::to_string(n) + ", " + std::to_string(seq) + ")");
          if (write.status != '0') {
            fail(write.first);
            continue;
          }
          Msg commit = c.request(1, 18, "00ab0");
          if (commit.status() != '0') {
            fail(commit);
            continue;
          }
          std::lock_guard lock(mutex);
          committed[n].insert(seq++);
        }
      } catch (const std::exception& e) {
        ++errors;
        std::lock_guard lock(mutex);
        undocumented.push_back(std::string("client ") + std::to_string(n) + ": " + e.what());
      }
    });
  for (auto& t : clients) t.join();
  EXPECT_EQ(errors, 0);
  EXPECT_TRUE(undocumented.empty()) << undocumented.front();

  // The table holds what was committed, nothing else and nothing twice.
  RawClient c(server.port());
  ASSERT_EQ(c.login().status(), '0');
  std::string id = c.alloc();
  auto d = c.exec(id, "SELECT client, seq FROM ledger ORDER BY client, seq");
  ASSERT_EQ(d.status, '0');
  std::map<int, std::set<int>> stored;
  size_t rows = 0;
  for (auto& row : c.fetch_all(id, d.columns, 1000000).rows) {
    stored[std::stoi(*row.at(0))].insert(std::stoi(*row.at(1)));
    ++rows;
  }
  size_t total = 0;
  for (auto& [client, seqs] : committed) total += seqs.size();
  EXPECT_EQ(stored, committed);
  EXPECT_EQ(rows, total);
  EXPECT_GT(total, 0u);
  std::string summary;
  for (auto& [what, count] : failures) summary += std::to_string(count) + " x " + what + "\n";
  RecordProperty("committed", static_cast<int>(total));
  std::cout << total << " transactions committed by " << committed.size() << " clients; failures:\n" << summary;
}

}  // namespace
