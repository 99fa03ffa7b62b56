// What the driver's tests share: a private configuration (odbc.ini,
// quarl.ini, tellix.ini naming the scripted provider) and a scripted Host
// Server that answers the connection-level messages.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/hostmsg.h"
#include "driver/core/connect.h"
#include "driver/core/diag.h"
#include "driver/core/handles.h"
#include "driver/core/settings.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/test_env.h"

namespace drivertest {

// A HostMessage as the driver sent it.
struct Request {
  char sequence;
  unsigned sub_id, type, code, length;
  std::string data;
};
inline Request parse_request(const std::string& bytes) {
  auto h = quarl::hostmsg::read_header(bytes.data());
  return {h.sequence, h.sub_id, h.type, h.code, h.length, bytes.substr(14)};
}
inline bool is_host_message(const std::string& bytes) { return bytes.size() >= 14 && bytes.rfind("#@!", 0) == 0; }

// Every diagnostic of a list as "SQLSTATE text", oldest first; empties it.
inline std::vector<std::string> take_all(quarl::driver::ErrorList& list) {
  std::vector<std::string> out;
  for (;;) {
    SQLCHAR state[6], text[1100];
    SQLSMALLINT length = 0;
    SQLINTEGER native = 0;
    if (quarl::driver::take_error(&list, state, &native, text, sizeof text, &length) == SQL_NO_DATA_FOUND) break;
    out.push_back(std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text));
  }
  return out;
}

inline std::string prefixed(const std::string& text) { return quarl::driver::kMessagePrefix + text; }

class DriverTest : public ::testing::Test {
 protected:
  using Reply = std::vector<scripted::Incoming>;
  // The host's answer to a request of type/code; unset codes get the defaults.
  std::map<std::pair<unsigned, unsigned>, std::function<Reply(const Request&)>> answers;
  // Answers to bytes that are not HostMessages (login script traffic).
  std::function<Reply(const std::string&)> raw_answer;
  uint16_t next_statement_id = 7;

  void SetUp() override {
    scripted::reset();
    testsupport::register_scripted_provider(config.profile_dir());
    quarl::driver::set_settings(quarl::driver::DriverSettings{});
    scripted::set_responder([this](const std::string& bytes) { return respond(bytes); });
    ASSERT_EQ(quarl::driver::alloc_env(&henv), SQL_SUCCESS);
    env = quarl::driver::find_env(henv);
  }

  void TearDown() override {
    for (auto& c : env->connections)
      if (c && c->connected()) quarl::driver::sql_disconnect(*c);
    quarl::driver::free_env(*env);
    quarl::driver::set_settings(quarl::driver::DriverSettings{});
  }

  static Reply message(unsigned type, unsigned code, const std::string& data) {
    return {{scripted::Incoming::Message, scripted::reply(type, code, data)}};
  }

  Reply respond(const std::string& bytes) {
    if (!is_host_message(bytes)) return raw_answer ? raw_answer(bytes) : Reply{};
    Request r = parse_request(bytes);
    auto it = answers.find({r.type, r.code});
    if (it != answers.end()) return it->second(r);
    if (r.type == 0 && r.code == 0) return message(0, 0, "005001021Quarl Host Server 5.0.");
    if (r.type == 0 && r.code == 1) return message(0, 1, "004096");
    if (r.type == 1 && r.code == 1) {
      char id[8];
      std::snprintf(id, sizeof id, "0%04u", static_cast<unsigned>(next_statement_id++));
      return message(1, 1, id);
    }
    if (r.type == 1 && r.code == 2) return message(1, 2, "0");
    return {};  // logout and anything else: no reply
  }

  // A new connection on the environment.
  quarl::driver::ConnBlock& new_conn() {
    SQLHDBC h = nullptr;
    EXPECT_EQ(quarl::driver::alloc_connect(*env, &h), SQL_SUCCESS);
    return *quarl::driver::find_conn(h);
  }

  SQLRETURN driver_connect(quarl::driver::ConnBlock& conn, const std::string& in,
                           SQLUSMALLINT completion = SQL_DRIVER_NOPROMPT, std::string* out = nullptr) {
    SQLCHAR buffer[1024];
    SQLSMALLINT length = 0;
    SQLRETURN rc = quarl::driver::sql_driver_connect(conn, nullptr, (SQLCHAR*)in.c_str(), buffer, sizeof buffer,
                                                     &length, completion);
    if (out) *out = reinterpret_cast<char*>(buffer);
    return rc;
  }

  // Connects through the scripted provider without a data source.
  quarl::driver::ConnBlock& connected(const std::string& extra = "") {
    auto& conn = new_conn();
    EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=secret;Provider=Scripted;Connection=HOST1" + extra), SQL_SUCCESS)
        << testing::PrintToString(take_all(conn.errors));
    return conn;
  }

  std::vector<Request> requests() {
    std::vector<Request> out;
    for (auto& s : scripted::sent())
      if (is_host_message(s.bytes)) out.push_back(parse_request(s.bytes));
    return out;
  }

  testsupport::OdbcConfig config;
  SQLHENV henv = nullptr;
  quarl::driver::EnvBlock* env = nullptr;
};

}  // namespace drivertest
