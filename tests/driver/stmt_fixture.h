// What the statement tests share: a connected statement (host id 7) on the
// scripted host, and the pieces of host replies.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/core/execute.h"
#include "driver/core/options.h"
#include "driver/core/results.h"
#include "driver/core/statement.h"
#include "tests/driver/driver_fixture.h"

namespace drivertest {

// A describe reply's column item.
inline std::string column_item(const std::string& name, int type, unsigned precision, unsigned scale = 0,
                               unsigned nullable = 1) {
  char head[8], tail[32];
  std::snprintf(head, sizeof head, "%02zu", name.size());
  std::snprintf(tail, sizeof tail, "%s%02d%04u%02u%u", type < 0 ? "-" : "", type < 0 ? -type : type, precision,
                scale, nullable);
  return head + name + tail;
}

// Host error items: index, text; the "0000" end item follows.
inline std::string error_items(const std::vector<std::pair<int, std::string>>& items) {
  std::string out;
  char head[16];
  for (auto& [index, text] : items) {
    std::snprintf(head, sizeof head, "%04d%04zu", index, text.size());
    out += head + text;
  }
  return out + "0000";
}

class StmtTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    conn = &connected();
    stmt = new_stmt();
    ASSERT_NE(stmt, nullptr);
    ASSERT_EQ(stmt->host_id, 7);
    scripted::clear_log();
  }

  quarl::driver::StmtBlock* new_stmt() {
    SQLHSTMT h = nullptr;
    if (quarl::driver::alloc_stmt(*conn, &h) != SQL_SUCCESS) return nullptr;
    return quarl::driver::find_stmt(h);
  }

  // The type 1 requests of a code sent since the log was cleared.
  std::vector<Request> sent(unsigned type, unsigned code) {
    std::vector<Request> out;
    for (auto& r : requests())
      if (r.type == type && r.code == code) out.push_back(r);
    return out;
  }

  // Answers statement requests of `code` with `data` (from the status digit on).
  void answer(unsigned code, const std::string& data, unsigned type = 1) {
    answers[{type, code}] = [=](const Request&) { return message(type, code, data); };
  }

  SQLRETURN exec_direct(const std::string& text) {
    return quarl::driver::sql_exec_direct(*stmt, (SQLCHAR*)text.data(), static_cast<SQLINTEGER>(text.size()));
  }

  std::vector<std::string> diags() { return take_all(stmt->errors); }

  quarl::driver::ConnBlock* conn = nullptr;
  quarl::driver::StmtBlock* stmt = nullptr;
};

}  // namespace drivertest
