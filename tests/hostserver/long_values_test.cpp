// Long and binary values through the protocol: what a client that asked for
// them at the login reads and sends (inline, left on the host and read in
// pieces, sent ahead in parameter pieces), and that a client that did not
// ask sees the classic exchanges only.
#include <gtest/gtest.h>

#include "tests/hostserver/raw_client.h"
#include "tests/support/test_env.h"

using rawclient::Column;
using rawclient::Msg;
using rawclient::RawClient;
using rawclient::Row;

namespace {

std::string fixed(unsigned width, unsigned long long value) {
  std::string s = std::to_string(value);
  return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

// A parameter entry: number, type, precision, scale, null flag, value.
std::string entry(unsigned number, const std::string& type, const std::string& value) {
  return fixed(4, number) + type + "0010" + "00" + "0" + value;
}

// n bytes of every value 0..255, in turn.
std::string binary_bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return s;
}

// The value piece request: statement id, column, offset, length.
std::string piece_request(const std::string& id, unsigned column, unsigned long long offset,
                          unsigned long long length) {
  return id + fixed(4, column) + fixed(10, offset) + fixed(10, length);
}

class LongValuesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rawclient::use_own_build(); }

  void start(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {"--database", (dir / "host.sqlite").string()});
    server = std::make_unique<testsupport::HostServer>(extra);
  }
  std::unique_ptr<RawClient> agreed() {
    auto c = std::make_unique<RawClient>(server->port());
    Msg m = c->login_with_long_values();
    EXPECT_TRUE(c->long_values) << m.data;
    return c;
  }
  std::unique_ptr<RawClient> classic() {
    auto c = std::make_unique<RawClient>(server->port());
    EXPECT_EQ(c->login().data, "008192");  // the granted size alone
    return c;
  }
  void run(RawClient& c, const std::string& id, std::initializer_list<std::string> sql) {
    for (const auto& s : sql) {
      auto d = c.exec(id, s);
      ASSERT_EQ(d.status, '0') << s << ": " << d.first.error_text();
    }
  }
  // Sends a value in parameter pieces of at most `piece` bytes (no reply).
  void send_pieces(RawClient& c, const std::string& id, unsigned number, std::string_view value, size_t piece) {
    bool first = true;
    do {
      size_t n = std::min(piece, value.size());
      ASSERT_TRUE(c.send(1, 22, id + fixed(4, number) + (first ? "1" : "0") + std::string(value.substr(0, n))));
      value.remove_prefix(n);
      first = false;
    } while (!value.empty());
  }
  // The whole reply to a value piece request: its bytes, or the failure.
  std::string read_piece(RawClient& c, const std::string& piece, int* messages = nullptr, Msg* failure = nullptr) {
    c.send(1, 21, piece);
    std::string bytes;
    for (int n = 1;; ++n) {
      auto m = c.receive();
      if (!m) throw std::runtime_error("no reply to the value piece request");
      if (m->status() != '0') {
        if (failure) *failure = *m;
        return bytes;
      }
      bytes += m->data.substr(2);
      if (m->data[1] == '1') {
        if (messages) *messages = n;
        return bytes;
      }
    }
  }

  testsupport::TempDir dir;
  std::unique_ptr<testsupport::HostServer> server;
};

constexpr const char* kTable =
    "CREATE TABLE docs (id INTEGER PRIMARY KEY, body TEXT, data BLOB, code VARCHAR(300), hash BINARY(16), "
    "part VARBINARY(40))";

TEST_F(LongValuesTest, AClientThatDidNotAskSeesTheClassicExchanges) {
  start();
  auto c = classic();
  std::string id = c->alloc();
  run(*c, id, {kTable, "INSERT INTO docs VALUES (1, 'short', x'00FF', 'abc', x'01', x'02')",
               "INSERT INTO docs (id, body) VALUES (2, printf('%.1000c', 'x'))"});
  auto d = c->exec(id, "SELECT body, data, code, hash, part FROM docs ORDER BY id");
  ASSERT_EQ(d.status, '0');
  // Four precision digits; blobs as hexadecimal LONGVARCHAR, nothing longer than 999.
  std::vector<Column> expected{{"body", -1, 999, 0, 1}, {"data", -1, 999, 0, 1}, {"code", 12, 999, 0, 1},
                               {"hash", -1, 999, 0, 1}, {"part", -1, 999, 0, 1}};
  EXPECT_EQ(d.columns, expected);
  auto f = c->fetch_all(id, d.columns);
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0][1], "00FF");
  EXPECT_NE(f.failure.error_text().find("longer than the 999 bytes a character value can carry"), std::string::npos)
      << f.failure.data;

  // The forms and requests of long values are not taken from it.
  std::string ins = "INSERT INTO docs (id, data) VALUES (3, ?)";
  auto binary = c->statement(9, id, ins, entry(1, "-03", "00201"), 1);
  EXPECT_NE(binary.first.error_text().find("has SQL type -3, which the host does not take"), std::string::npos);
  auto inline_text = c->statement(9, id, ins, entry(1, "12", "X000000000201"), 1);
  EXPECT_NE(inline_text.first.error_text().find("Malformed value of parameter 1"), std::string::npos);
  for (unsigned code : {21u, 22u}) {
    Msg m = c->request(1, code, piece_request(id, 1, 0, 10));
    EXPECT_EQ(m.error_text(), "Unknown request: type 1 code " + std::to_string(code));
  }
}

TEST_F(LongValuesTest, AHostWithoutThemOffersAndGrantsNothing) {
  start({"--no-long-values"});
  RawClient c(server->port());
  Msg version = c.request(0, 0);
  EXPECT_EQ(version.data.back(), '.');
  EXPECT_EQ(c.login_with_long_values().data, "008192");
  EXPECT_FALSE(c.long_values);
}

TEST_F(LongValuesTest, AgreedClientsReadLongAndBinaryValues) {
  start();
  RawClient probe(server->port());
  EXPECT_EQ(probe.request(0, 0).data, "005000021Quarl Host V5R0M5.+LONG1");
  auto c = std::make_unique<RawClient>(server->port());
  // The grant names the largest value the host stores (16 MiB by default).
  EXPECT_EQ(c->login_with_long_values().data, "008192+LONG10016777216");
  std::string id = c->alloc();
  const std::string pattern = "d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80 ";  // 1 + 2 + 1 + 2 + 1 + 4 + 1 bytes
  std::string text_30k;
  for (int i = 0; i < 2500; ++i) text_30k += pattern;
  run(*c, id,
      {kTable, "INSERT INTO docs VALUES (1, '', x'', 'abc', x'00112233445566778899AABBCCDDEEFF', x'00')",
       "INSERT INTO docs (id, body, data) VALUES (2, printf('%.999c', 'a'), randomblob(1000))",
       "INSERT INTO docs (id, body) VALUES (3, replace(printf('%.2500c', 'x'), 'x', '" + pattern + "'))",
       "INSERT INTO docs (id, code) VALUES (4, printf('%.2000c', 'c'))"});

  auto d = c->exec(id, "SELECT id, body, data, code, hash, part FROM docs ORDER BY id");
  ASSERT_EQ(d.status, '0');
  // Ten precision digits; the binary types; long types as long as the limit.
  std::vector<Column> expected{{"id", 2, 19, 0, 0},           {"body", -1, 16777216, 0, 1},
                               {"data", -4, 16777216, 0, 1},  {"code", 12, 1200, 0, 1},
                               {"hash", -2, 16, 0, 1},        {"part", -3, 40, 0, 1}};
  EXPECT_EQ(d.columns, expected);

  // One fetch: rows 1 and 2 (values up to a fetch's size inline).  Row 3
  // does not fit a fetch: the next one brings it alone, its text left on the
  // host with its length and the UTF-16 units it makes.
  std::vector<Row> got;
  for (int fetch = 0; fetch < 2; ++fetch) {
    c->send(1, 4, id);
    std::string rows;
    for (;;) {
      auto m = c->receive();
      ASSERT_TRUE(m && m->status() == '0') << (m ? m->data : "no reply");
      rows += m->data.substr(2);
      if (m->data[1] == '1') break;
    }
    bool end = false;
    ASSERT_TRUE(rawclient::parse_rows(rows, d.columns, got, end, true));
    EXPECT_FALSE(end);
    EXPECT_EQ(got.size(), fetch == 0 ? 2u : 3u);
    if (fetch == 0) {
      EXPECT_NE(rows.find("X0000001000"), std::string::npos);  // inline: "X" and ten digits
    }
  }
  EXPECT_EQ(got[0][1], "");
  EXPECT_EQ(got[0][4], std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16));
  EXPECT_EQ(got[1][1], std::string(999, 'a'));
  EXPECT_EQ(got[1][2]->size(), 1000u);
  size_t units = 0;
  for (size_t i = 0; i < text_30k.size(); ++i) {
    auto b = static_cast<unsigned char>(text_30k[i]);
    if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
  }
  EXPECT_EQ(got[2][1], "L" + fixed(10, text_30k.size()) + fixed(10, units));

  // Pieces of the held text: any offset and length, as many messages as they take.
  EXPECT_EQ(read_piece(*c, piece_request(id, 2, 0, 10)), text_30k.substr(0, 10));
  int messages = 0;
  EXPECT_EQ(read_piece(*c, piece_request(id, 2, 5, 25000), &messages), text_30k.substr(5, 25000));
  EXPECT_EQ(messages, 4);  // 8176 bytes a message
  EXPECT_EQ(read_piece(*c, piece_request(id, 2, text_30k.size() - 3, 100)), text_30k.substr(text_30k.size() - 3));
  EXPECT_EQ(read_piece(*c, piece_request(id, 2, text_30k.size() + 5, 100)), "");
  Msg failure;
  read_piece(*c, piece_request(id, 1, 0, 10), nullptr, &failure);
  EXPECT_EQ(failure.error_text(), "Column 1 has no text or binary value to read");

  // The next fetch goes on after it, and the held value is gone.
  auto rest = c->fetch_all(id, d.columns);
  ASSERT_EQ(rest.rows.size(), 1u);
  EXPECT_EQ(rest.rows[0][3], std::string(2000, 'c'));
  EXPECT_TRUE(rest.end_marker);
  read_piece(*c, piece_request(id, 2, 0, 10), nullptr, &failure);
  EXPECT_NE(failure.error_text().find("holds no value on the host"), std::string::npos) << failure.data;
}

TEST_F(LongValuesTest, AgreedClientsSendLongValuesInlineOrAheadInPieces) {
  start({"--max-value-mb", "1"});
  auto c = agreed();
  std::string id = c->alloc();
  run(*c, id, {kTable});
  std::string big = binary_bytes(300000);
  std::string ins = "INSERT INTO docs (id, body, data) VALUES (?, ?, ?)";
  // Inline ("X") and in the classic form, binary and text.
  std::string blob_inline = binary_bytes(5000);
  auto d = c->statement(9, id, ins,
                        entry(1, "04", "0000000001") + entry(2, "-01", "X" + fixed(10, 1200) + std::string(1200, 't')) +
                            entry(3, "-04", "X" + fixed(10, blob_inline.size()) + blob_inline),
                        3);
  ASSERT_EQ(d.status, '0') << d.first.error_text();
  // Ahead in pieces ("L"), the statement request after them.
  send_pieces(*c, id, 3, big, 7000);
  send_pieces(*c, id, 2, "", 1);
  d = c->statement(9, id, ins,
                   entry(1, "04", "0000000002") + entry(2, "-01", "L0000000000") +
                       entry(3, "-04", "L" + fixed(10, big.size())),
                   3);
  ASSERT_EQ(d.status, '0') << d.first.error_text();
  auto q = c->statement(9, id, "SELECT length(body), length(data), data = ? FROM docs ORDER BY id",
                        entry(1, "-04", "X" + fixed(10, blob_inline.size()) + blob_inline), 1);
  ASSERT_EQ(q.status, '0');
  auto f = c->fetch_all(id, q.columns);
  ASSERT_EQ(f.rows.size(), 2u);
  EXPECT_EQ(f.rows[0], (Row{"0000000000000001200", "0000000000000005000", "0000000000000000001"}));
  EXPECT_EQ(f.rows[1], (Row{"0000000000000000000", "0000000000000300000", "0000000000000000000"}));

  // A request names only what came ahead: a length that differs, a value
  // longer than the host stores, a value in a parameter set are refused.
  send_pieces(*c, id, 2, "abc", 2);
  d = c->statement(9, id, ins, entry(1, "04", "0000000003") + entry(2, "12", "L0000000004"), 2);
  EXPECT_EQ(d.first.error_text(), "Parameter 2: the host received 3 bytes of its value, not the 4 its entry announces");
  send_pieces(*c, id, 2, std::string((1 << 20) + 1, 'z'), 9000);
  d = c->statement(9, id, ins, entry(1, "04", "0000000003") + entry(2, "12", "L" + fixed(10, (1 << 20) + 1)), 2);
  EXPECT_EQ(d.first.error_text(), "Parameter 2: the value is longer than the host stores (1048576 bytes)");
  // The refused values are gone with their request.
  d = c->statement(9, id, ins, entry(1, "04", "0000000003") + entry(2, "12", "L0000000003"), 2);
  EXPECT_EQ(d.first.error_text(), "Parameter 2: the host received 0 bytes of its value, not the 3 its entry announces");

  ASSERT_EQ(c->statement(10, id, "INSERT INTO docs (id, body) VALUES (?, ?)").status, '0');
  send_pieces(*c, id, 2, "abc", 10);
  Msg sets = c->request(1, 20, id + "0001" + "0002" + entry(1, "04", "0000000009") + entry(2, "12", "L0000000003"));
  EXPECT_NE(sets.data.find("Parameter 2: a value sent apart cannot be part of a parameter set"), std::string::npos)
      << sets.data;
}

}  // namespace
