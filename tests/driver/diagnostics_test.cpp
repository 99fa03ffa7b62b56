// The diagnostics queue and SQLError's output buffers.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/core/diag.h"
#include "driver/core/dispatch.h"
#include "driver/core/handles.h"

namespace {

using namespace quarl::driver;

TEST(Diagnostics, QueueIsTakenOldestFirstThenNoData) {
  ErrorList list;
  post_error(list, kErrNotOpen);
  post_error(list, kErrMemory, "No free statement handles");
  post_error(list, kErrDuplicateCursor);
  SQLCHAR state[6], text[200];
  SQLINTEGER native = 99;
  SQLSMALLINT length = 0;
  ASSERT_EQ(take_error(&list, state, &native, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ((char*)state, "08003");
  EXPECT_STREQ((char*)text, "[Velmor Software][Quarl ODBC Driver]Connection not open");
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen((char*)text)));
  EXPECT_EQ(native, 0);
  ASSERT_EQ(take_error(&list, state, &native, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ((char*)state, "S1001");
  EXPECT_STREQ((char*)text, "[Velmor Software][Quarl ODBC Driver]No free statement handles");
  ASSERT_EQ(take_error(&list, state, &native, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ((char*)text, "[Velmor Software][Quarl ODBC Driver]Duplicate cursor name: %s");  // "%s" stays
  native = 5;
  ASSERT_EQ(take_error(&list, state, &native, text, sizeof text, &length), SQL_NO_DATA_FOUND);
  EXPECT_STREQ((char*)state, "00000");
  EXPECT_STREQ((char*)text, "");
  EXPECT_EQ(length, 0);
  EXPECT_EQ(native, 5);  // untouched
  EXPECT_EQ(take_error(nullptr, state, nullptr, nullptr, 0, nullptr), SQL_NO_DATA_FOUND);
}

TEST(Diagnostics, HostErrorItems) {
  ErrorList list;
  post_host_errors(list, "0000");
  EXPECT_TRUE(list.empty());
  // Index 99 lies outside the table: general failure.  A length past the data is cut.
  post_host_errors(list, "00150012syntax error00240005retry00990003abc00070009cut");
  SQLCHAR state[6], text[64];
  std::vector<std::string> seen;
  while (take_error(&list, state, nullptr, text, sizeof text, nullptr) != SQL_NO_DATA_FOUND)
    seen.push_back(std::string((char*)state) + " " + (char*)text);
  EXPECT_EQ(seen, (std::vector<std::string>{"37000 syntax error", "40001 retry", "S1000 abc", "S1010 cut"}));
}

TEST(Diagnostics, ComposedTextsAreBounded) {
  ErrorList list;
  post_error(list, kErrGeneral, std::string(5000, 'x'));
  EXPECT_EQ(list.records.front().text.size(), kFormattedTextMax);
}

TEST(Diagnostics, MessageBufferIsNeverOverrun) {
  const std::string message(30, 'm');
  struct Case {
    SQLSMALLINT max;
    SQLRETURN rc;
    std::string written;  // up to the terminator; "<none>" when the buffer is untouched
  } cases[] = {
      {10, SQL_SUCCESS_WITH_INFO, std::string(9, 'm')}, {31, SQL_SUCCESS, message},
      {30, SQL_SUCCESS_WITH_INFO, std::string(29, 'm')}, {1, SQL_SUCCESS_WITH_INFO, ""},
      {0, SQL_SUCCESS_WITH_INFO, "<none>"},             {-5, SQL_SUCCESS_WITH_INFO, "<none>"},
  };
  for (const auto& c : cases) {
    ErrorList list;
    post_raw_error(list, kErrGeneral, 0, message.data(), message.size());
    unsigned char buffer[64];
    std::memset(buffer, 0xAB, sizeof buffer);
    unsigned char* text = buffer + 8;
    SQLSMALLINT length = -1;
    SQLCHAR state[7];
    std::memset(state, 0xAB, sizeof state);
    ASSERT_EQ(take_error(&list, state, nullptr, text, c.max, &length), c.rc) << c.max;
    EXPECT_EQ(length, 30);
    EXPECT_EQ(state[6], 0xAB);  // five characters and the terminator
    for (int i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], 0xAB);
    size_t used = c.max > 0 ? static_cast<size_t>(c.max) : 0;
    for (size_t i = 8 + used; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0xAB) << c.max << " at " << i;
    if (c.written == "<none>") EXPECT_EQ(text[0], 0xAB);
    else EXPECT_EQ(std::string((char*)text), c.written);
  }
  // Null output pointers everywhere.
  ErrorList list;
  post_error(list, kErrGeneral);
  EXPECT_EQ(take_error(&list, nullptr, nullptr, nullptr, 100, nullptr), SQL_SUCCESS);
  EXPECT_TRUE(list.empty());
}

TEST(Diagnostics, SqlErrorChoosesTheFirstGivenHandleAndRejectsUnknownOnes) {
  SQLHENV henv = nullptr;
  ASSERT_EQ(alloc_env(&henv), SQL_SUCCESS);
  SQLHDBC hdbc = nullptr;
  ASSERT_EQ(alloc_connect(*find_env(henv), &hdbc), SQL_SUCCESS);
  post_error(find_env(henv)->errors, kErrGeneral, "on the environment");
  post_error(find_conn(hdbc)->errors, kErrGeneral, "on the connection");
  SQLCHAR text[100];
  EXPECT_EQ(dispatch_error(henv, hdbc, nullptr, nullptr, nullptr, text, sizeof text, nullptr), SQL_SUCCESS);
  EXPECT_STREQ((char*)text, "[Velmor Software][Quarl ODBC Driver]on the connection");
  EXPECT_EQ(dispatch_error(henv, hdbc, nullptr, nullptr, nullptr, text, sizeof text, nullptr), SQL_NO_DATA_FOUND);
  EXPECT_EQ(dispatch_error(henv, nullptr, nullptr, nullptr, nullptr, text, sizeof text, nullptr), SQL_SUCCESS);
  EXPECT_STREQ((char*)text, "[Velmor Software][Quarl ODBC Driver]on the environment");
  int junk = 0;
  EXPECT_EQ(dispatch_error(henv, &junk, nullptr, nullptr, nullptr, text, sizeof text, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(dispatch_error(nullptr, nullptr, &junk, nullptr, nullptr, text, sizeof text, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(dispatch_error(nullptr, nullptr, nullptr, nullptr, nullptr, text, sizeof text, nullptr), SQL_NO_DATA_FOUND);
  // An environment handle is not a connection handle.
  EXPECT_EQ(dispatch_conn(henv, [](ConnBlock&) { return SQL_SUCCESS; }), SQL_INVALID_HANDLE);
  EXPECT_EQ(dispatch_conn(hdbc, [](ConnBlock&) -> SQLRETURN { throw std::runtime_error("boom"); }), SQL_ERROR);
  EXPECT_EQ(dispatch_error(nullptr, hdbc, nullptr, nullptr, nullptr, text, sizeof text, nullptr), SQL_SUCCESS);
  EXPECT_STREQ((char*)text, "[Velmor Software][Quarl ODBC Driver]Internal error: boom");
  free_env(*find_env(henv));
  EXPECT_EQ(find_conn(hdbc), nullptr);  // connections go with their environment
}

}  // namespace
