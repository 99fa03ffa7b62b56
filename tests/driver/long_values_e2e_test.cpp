// Long text and binary values end to end through unixODBC, each Quarl driver
// and a real quarl-hostserver: SQLGetData hands a value out in pieces that
// end at every boundary that matters (inside a UTF-8 sequence, between the
// two halves of a UTF-16 surrogate pair, between the two hexadecimal digits
// of a byte), with 01004 between pieces and the length of what is left; and
// SQLPutData takes a value in pieces split the same ways.  Values short
// enough for the classic form, inline in the row, and left on the host.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "common/utf.h"
#include "tests/support/test_env.h"

namespace {

// Characters of one to four UTF-8 bytes; the last is a surrogate pair in UTF-16.
std::string text_of(size_t bytes) {
  static const std::string pattern = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  std::string s;
  while (s.size() + pattern.size() <= bytes) s += pattern;
  return s + std::string(bytes - s.size(), 'z');
}
std::string bytes_of(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
  return s;
}
std::u16string utf16(const std::string& utf8) {
  std::u16string out(quarl::utf16_units_of(utf8.data(), utf8.size()), u'\0');
  quarl::utf8_to_utf16(utf8.data(), utf8.size(), out.data(), out.size());
  return out;
}
std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// Sizes: the classic three-digit form, inline in the row, left on the host.
constexpr size_t kSizes[] = {997, 5001, 300007};

class LongValuesEndToEnd : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    config.add_dsn("Long", {{"Driver", GetParam()},
                            {"Provider", "TCP/IP"},
                            {"Connection", server.address()},
                            {"UID", "DEMO"},
                            {"PWD", quarl::scramble("DEMO")}});
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv)));
    SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, henv, &hdbc)));
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLDriverConnect(hdbc, nullptr, (SQLCHAR*)"DSN=Long", SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
        << diag(SQL_HANDLE_DBC, hdbc);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &st)));
    exec("CREATE TABLE v (k INTEGER PRIMARY KEY, txt TEXT, bin BLOB)");
    for (size_t i = 0; i < std::size(kSizes); ++i) {
      std::string t = text_of(kSizes[i]), b = bytes_of(kSizes[i]);
      SQLLEN tl = static_cast<SQLLEN>(t.size()), bl = static_cast<SQLLEN>(b.size());
      SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, t.size(), 0, t.data(), tl, &tl);
      SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY, b.size(), 0, b.data(), bl, &bl);
      exec("INSERT INTO v VALUES (" + std::to_string(i) + ", ?, ?)");
      SQLFreeStmt(st, SQL_RESET_PARAMS);
    }
  }
  void TearDown() override {
    if (st) SQLFreeHandle(SQL_HANDLE_STMT, st);
    if (hdbc) {
      SQLDisconnect(hdbc);
      SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
    }
    if (henv) SQLFreeHandle(SQL_HANDLE_ENV, henv);
  }
  // Wide C types reach the ODBC 2 driver as narrow ones: unixODBC converts them itself.
  bool wide_reaches_driver() const { return std::string(GetParam()) != "Quarl"; }
  std::string diag(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {}, text[600] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length))) return "none";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }
  void exec(const std::string& sql) {
    SQLFreeStmt(st, SQL_CLOSE);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS))) << sql << ": " << diag(SQL_HANDLE_STMT, st);
  }

  // Reads column of the current row in pieces of a buffer of size bytes:
  // each piece but the last fills the buffer (its content units), comes
  // with 01004 and the length of what is left before it (in bytes of the C
  // type, unit bytes each); then SQL_NO_DATA.  Returns the pieces joined.
  std::string pieces(SQLUSMALLINT column, SQLSMALLINT c_type, SQLLEN size, size_t full_length) {
    size_t terminator = c_type == SQL_C_BINARY ? 0 : c_type == SQL_C_WCHAR ? 2 : 1;
    size_t room = static_cast<size_t>(size) - terminator;
    std::string joined;
    std::vector<char> buffer(static_cast<size_t>(size) + 8);
    for (int call = 0;; ++call) {
      std::memset(buffer.data(), 0x55, buffer.size());
      SQLLEN length = 0;
      SQLRETURN rc = SQLGetData(st, column, c_type, buffer.data(), size, &length);
      if (rc == SQL_NO_DATA) {
        EXPECT_EQ(joined.size(), full_length);
        return joined;
      }
      EXPECT_EQ(static_cast<size_t>(length), full_length - joined.size()) << "call " << call;
      if (rc == SQL_SUCCESS_WITH_INFO) {
        EXPECT_EQ(diag(SQL_HANDLE_STMT, st).substr(0, 5), "01004") << "call " << call;
        joined.append(buffer.data(), room);
      } else {
        EXPECT_EQ(rc, SQL_SUCCESS) << diag(SQL_HANDLE_STMT, st);
        if (rc != SQL_SUCCESS) return joined;
        joined.append(buffer.data(), static_cast<size_t>(length));
        EXPECT_EQ(static_cast<size_t>(length), full_length - (joined.size() - static_cast<size_t>(length)));
      }
      for (size_t i = room; i < room + terminator && rc == SQL_SUCCESS_WITH_INFO; ++i)
        EXPECT_EQ(buffer[i], '\0') << "the piece is terminated";
      EXPECT_EQ(buffer[static_cast<size_t>(size)], 0x55) << "nothing is written past the buffer";
      if (call > 400000) {
        ADD_FAILURE() << "no end";
        return joined;
      }
    }
  }

  testsupport::OdbcConfig config;
  testsupport::TempDir data;
  testsupport::HostServer server{{"--database", (data / "long.sqlite").string()}};
  SQLHENV henv = SQL_NULL_HENV;
  SQLHDBC hdbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
};

TEST_P(LongValuesEndToEnd, GetDataPiecesEndAtEveryBoundary) {
  // Buffer sizes in bytes, by C type; odd room makes pieces end inside UTF-8
  // sequences, surrogate pairs and digit pairs.
  struct Case {
    SQLUSMALLINT column;
    SQLSMALLINT c_type;
    std::vector<SQLLEN> sizes;
  } cases[] = {
      {1, SQL_C_CHAR, {2, 3, 5, 4097}},
      {1, SQL_C_WCHAR, {4, 6, 8, 4098}},
      {1, SQL_C_BINARY, {1, 3, 4096}},
      {2, SQL_C_BINARY, {1, 3, 4096}},
      {2, SQL_C_CHAR, {2, 4, 4096}},
      {2, SQL_C_WCHAR, {4, 8, 4098}},
  };
  for (size_t i = 0; i < std::size(kSizes); ++i) {
    std::string t = text_of(kSizes[i]), b = bytes_of(kSizes[i]);
    std::u16string w = utf16(t);
    std::string wide_bytes(reinterpret_cast<const char*>(w.data()), 2 * w.size());
    std::u16string wide_hex = utf16(hex(b));
    std::string wide_hex_bytes(reinterpret_cast<const char*>(wide_hex.data()), 2 * wide_hex.size());
    for (const Case& c : cases) {
      if (c.c_type == SQL_C_WCHAR && !wide_reaches_driver()) continue;
      for (SQLLEN size : c.sizes) {
        // A held value in tiny pieces takes very many calls: small buffers for the short values only.
        if (kSizes[i] > 100000 && size < 4096) continue;
        SCOPED_TRACE(std::to_string(kSizes[i]) + " bytes, column " + std::to_string(c.column) + ", C type " +
                     std::to_string(c.c_type) + ", buffer " + std::to_string(size));
        exec("SELECT txt, bin FROM v WHERE k = " + std::to_string(i));
        ASSERT_EQ(SQLFetch(st), SQL_SUCCESS);
        const std::string& want = c.column == 1 ? (c.c_type == SQL_C_WCHAR ? wide_bytes : t)
                                                : (c.c_type == SQL_C_BINARY   ? b
                                                   : c.c_type == SQL_C_CHAR   ? hex(b)
                                                                              : wide_hex_bytes);
        std::string got = pieces(c.column, c.c_type, size, want.size());
        EXPECT_TRUE(got == want) << "the pieces differ from the value";
      }
    }
  }
}

TEST_P(LongValuesEndToEnd, PutDataPiecesSplitAnywhere) {
  // Piece sizes in bytes of the C type: 1 and 7 split UTF-8 sequences and
  // hexadecimal digit pairs; 6 bytes of UTF-16 (3 units) split surrogate pairs.
  struct Case {
    const char* what;
    SQLSMALLINT c_type, sql_type;
    size_t piece;
  } cases[] = {
      {"text as bytes", SQL_C_CHAR, SQL_LONGVARCHAR, 7},
      {"text byte by byte", SQL_C_CHAR, SQL_LONGVARCHAR, 1},
      {"text as UTF-16", SQL_C_WCHAR, SQL_WLONGVARCHAR, 6},
      {"bytes", SQL_C_BINARY, SQL_LONGVARBINARY, 7},
      {"bytes as hexadecimal text", SQL_C_CHAR, SQL_LONGVARBINARY, 7},
  };
  for (const Case& c : cases) {
    if (c.c_type == SQL_C_WCHAR && !wide_reaches_driver()) continue;
    for (size_t size : {kSizes[0], kSizes[1], kSizes[2]}) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(size) + " bytes");
      bool binary = c.sql_type == SQL_LONGVARBINARY;
      std::string value = binary ? bytes_of(size) : text_of(size);
      std::string sent = value;
      if (c.c_type == SQL_C_WCHAR) {
        std::u16string w = utf16(value);
        sent.assign(reinterpret_cast<const char*>(w.data()), 2 * w.size());
      } else if (binary && c.c_type == SQL_C_CHAR) {
        sent = hex(value);
      }
      // Large values in larger pieces (a multiple of the small one, so the splits stay odd).
      size_t piece = size > 100000 ? c.piece * 9363 : c.piece;
      SQLLEN at_exec = SQL_DATA_AT_EXEC;
      SQLFreeStmt(st, SQL_CLOSE);
      SQLBindParameter(st, 1, SQL_PARAM_INPUT, c.c_type, c.sql_type, size, 0, reinterpret_cast<SQLPOINTER>(1), 0,
                       &at_exec);
      std::string sql = std::string("INSERT INTO v (k, ") + (binary ? "bin" : "txt") + ") VALUES (100, ?)";
      ASSERT_EQ(SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS), SQL_NEED_DATA) << diag(SQL_HANDLE_STMT, st);
      SQLPOINTER token = nullptr;
      ASSERT_EQ(SQLParamData(st, &token), SQL_NEED_DATA);
      for (size_t at = 0; at < sent.size(); at += piece) {
        size_t n = std::min(piece, sent.size() - at);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLPutData(st, sent.data() + at, static_cast<SQLLEN>(n))))
            << "at " << at << ": " << diag(SQL_HANDLE_STMT, st);
      }
      ASSERT_TRUE(SQL_SUCCEEDED(SQLParamData(st, &token))) << diag(SQL_HANDLE_STMT, st);
      SQLFreeStmt(st, SQL_RESET_PARAMS);

      exec(std::string("SELECT ") + (binary ? "bin" : "txt") + ", length(CAST(" + (binary ? "bin" : "txt") +
           " AS BLOB)) FROM v WHERE k = 100");
      ASSERT_EQ(SQLFetch(st), SQL_SUCCESS);
      std::string got(size + 1, '\0');
      SQLLEN length = 0;
      ASSERT_EQ(SQLGetData(st, 1, SQL_C_BINARY, got.data(), static_cast<SQLLEN>(got.size()), &length), SQL_SUCCESS);
      got.resize(static_cast<size_t>(length));
      EXPECT_TRUE(got == value) << "stored " << length << " bytes that differ";
      exec("DELETE FROM v WHERE k = 100");
    }
  }
}

TEST_P(LongValuesEndToEnd, PiecesThatDoNotMakeAValueAreRefused) {
  // Half a UTF-16 surrogate pair, half a hexadecimal digit pair, a digit that is none.
  struct Case {
    SQLSMALLINT c_type, sql_type;
    std::string bytes;
    const char* message;
  } cases[] = {
      {SQL_C_WCHAR, SQL_WLONGVARCHAR, std::string("a\0\x3D\xD8", 4), "the wide text ends inside a character"},
      {SQL_C_CHAR, SQL_LONGVARBINARY, "ABC", "need two hexadecimal digits a byte"},
      {SQL_C_CHAR, SQL_LONGVARBINARY, "A-", "no hexadecimal digit pair"},
  };
  for (const Case& c : cases) {
    if (c.c_type == SQL_C_WCHAR && !wide_reaches_driver()) continue;
    SCOPED_TRACE(c.message);
    SQLLEN at_exec = SQL_DATA_AT_EXEC;
    SQLFreeStmt(st, SQL_CLOSE);
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, c.c_type, c.sql_type, 0, 0, reinterpret_cast<SQLPOINTER>(1), 0,
                     &at_exec);
    ASSERT_EQ(SQLExecDirect(st, (SQLCHAR*)"INSERT INTO v (k, txt) VALUES (200, ?)", SQL_NTS), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(SQLParamData(st, &token), SQL_NEED_DATA);
    SQLRETURN rc = SQLPutData(st, const_cast<char*>(c.bytes.data()), static_cast<SQLLEN>(c.bytes.size()));
    if (SQL_SUCCEEDED(rc)) rc = SQLParamData(st, &token);
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_NE(diag(SQL_HANDLE_STMT, st).find(c.message), std::string::npos) << diag(SQL_HANDLE_STMT, st);
    SQLCancel(st);
    SQLFreeStmt(st, SQL_RESET_PARAMS);
  }
  exec("SELECT count(*) FROM v WHERE k = 200");
  ASSERT_EQ(SQLFetch(st), SQL_SUCCESS);
  SQLINTEGER count = -1;
  SQLGetData(st, 1, SQL_C_SLONG, &count, 0, nullptr);
  EXPECT_EQ(count, 0);
}

TEST_P(LongValuesEndToEnd, ParameterArraysWithValuesNoMessageOfSetsHolds) {
  if (!wide_reaches_driver()) GTEST_SKIP() << "the ODBC 2 driver takes one set of parameters";
  // Three sets, column-wise; the middle one's values take more than a message.
  constexpr size_t kWidth = 30000;
  std::vector<char> texts(3 * kWidth), blobs(3 * kWidth);
  SQLLEN text_lengths[3], blob_lengths[3];
  SQLINTEGER keys[3] = {300, 301, 302};
  size_t sizes[3] = {10, 25000, 999};
  for (size_t i = 0; i < 3; ++i) {
    std::string t = text_of(sizes[i]), b = bytes_of(sizes[i]);
    std::memcpy(&texts[i * kWidth], t.data(), t.size());
    std::memcpy(&blobs[i * kWidth], b.data(), b.size());
    text_lengths[i] = blob_lengths[i] = static_cast<SQLLEN>(sizes[i]);
  }
  SQLUSMALLINT status[3] = {};
  SQLULEN processed = 0;
  SQLFreeStmt(st, SQL_CLOSE);
  SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(3), 0);
  SQLSetStmtAttr(st, SQL_ATTR_PARAM_STATUS_PTR, status, 0);
  SQLSetStmtAttr(st, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
  SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, keys, 0, nullptr);
  SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, kWidth, 0, texts.data(), kWidth, text_lengths);
  SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY, kWidth, 0, blobs.data(), kWidth,
                   blob_lengths);
  ASSERT_EQ(SQLExecDirect(st, (SQLCHAR*)"INSERT INTO v VALUES (?, ?, ?)", SQL_NTS), SQL_SUCCESS)
      << diag(SQL_HANDLE_STMT, st);
  EXPECT_EQ(processed, 3u);
  EXPECT_EQ(std::vector<SQLUSMALLINT>(status, status + 3), std::vector<SQLUSMALLINT>(3, SQL_PARAM_SUCCESS));
  SQLLEN rows = 0;
  SQLRowCount(st, &rows);
  EXPECT_EQ(rows, 3);
  SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLFreeStmt(st, SQL_RESET_PARAMS);
  exec("SELECT k, length(CAST(txt AS BLOB)), length(bin) FROM v WHERE k >= 300 ORDER BY k");
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(SQLFetch(st), SQL_SUCCESS);
    SQLINTEGER k = 0, text_length = 0, blob_length = 0;
    SQLGetData(st, 1, SQL_C_SLONG, &k, 0, nullptr);
    SQLGetData(st, 2, SQL_C_SLONG, &text_length, 0, nullptr);
    SQLGetData(st, 3, SQL_C_SLONG, &blob_length, 0, nullptr);
    EXPECT_EQ(k, keys[i]);
    EXPECT_EQ(static_cast<size_t>(text_length), sizes[i]);
    EXPECT_EQ(static_cast<size_t>(blob_length), sizes[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, LongValuesEndToEnd, ::testing::Values("Quarl", "Quarl Unicode"),
                         [](const auto& info) { return std::string(info.param).find("Unicode") != std::string::npos ? "Unicode" : "Odbc2"; });

}  // namespace
