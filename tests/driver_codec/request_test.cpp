#include "driver/codec/request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/hostmsg.h"
#include "driver/codec/param_entry.h"

namespace quarl::codec {
namespace {

struct Message {
  std::string data;
  char first, last;
  int count;
  std::string body;  // entries and text
};

// Every message of a request, as sent (each reply assumed a plain success).
std::vector<Message> build_all(StatementRequest& r, size_t budget = kRequestBudget) {
  std::vector<Message> out;
  while (!r.finished()) {
    std::vector<char> buffer(budget + 8, '\x7f');
    size_t n = r.build_next(buffer.data());
    EXPECT_LE(n, budget);
    for (size_t i = n; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '\x7f') << "written past the message";
    std::string d(buffer.data(), n);
    out.push_back({d, d[4], d[5], std::stoi(d.substr(6, 4)), d.substr(10)});
    EXPECT_EQ(d.substr(0, 4), "0042");
    if (out.size() > 100) break;
  }
  return out;
}

std::vector<int32_t> values;  // storage the parameter records point at

std::vector<ParamRecord> int_params(int n) {
  values.assign(static_cast<size_t>(n), 0);
  std::vector<ParamRecord> params;
  for (int i = 0; i < n; ++i) {
    values[static_cast<size_t>(i)] = i + 1;
    params.push_back({SQL_C_LONG, SQL_INTEGER, 10, 0, &values[static_cast<size_t>(i)], nullptr});
  }
  return params;
}

std::string entry_of(int number, const ParamRecord& p) {
  std::string e;
  EXPECT_FALSE(encode_parameter(number, p, e));
  return e;
}

TEST(StatementRequest, ExecuteWithTwoIntegersIsOneMessage) {
  int32_t a = 7, b = -7;
  std::vector<ParamRecord> params = {{SQL_C_LONG, SQL_INTEGER, 10, 0, &a, nullptr},
                                     {SQL_C_LONG, SQL_INTEGER, 10, 0, &b, nullptr}};
  StatementRequest r(42, hostmsg::code::kExecute, std::nullopt);
  ASSERT_FALSE(r.start(params));
  auto m = build_all(r);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].data, "0042" "1" "1" "0002" "0001" "04" "0010" "00" "0" "0000000007"
                       "0002" "04" "0010" "00" "0" "-0000000007");
}

TEST(StatementRequest, TextFollowsTheParametersAndUnboundRecordsAreSkipped) {
  int32_t a = 5;
  std::vector<ParamRecord> params(3, ParamRecord{});
  params[2] = {SQL_C_LONG, SQL_INTEGER, 10, 0, &a, nullptr};
  StatementRequest r(42, hostmsg::code::kExecDirect, std::string_view("select ?\tfrom t"));
  ASSERT_FALSE(r.start(params));
  auto m = build_all(r);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].data, "0042" "1" "1" "0001" "0003040010000" "0000000005" "select ? from t");
}

TEST(StatementRequest, PrepareCarriesNoParametersAndEmptyTextIsOneMessage) {
  auto params = int_params(3);
  params[1].c_type = SQL_C_BINARY;  // would be refused if a prepare read it
  StatementRequest prep(42, hostmsg::code::kPrepare, std::string_view("select 1"));
  ASSERT_FALSE(prep.start(params));
  auto m = build_all(prep);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].data, "0042" "1" "1" "0000" "select 1");

  StatementRequest empty(42, hostmsg::code::kExecDirect, std::string_view(""));
  ASSERT_FALSE(empty.start({}));
  m = build_all(empty);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].data, "0042" "1" "1" "0000");
}

TEST(StatementRequest, ManyParametersSpreadOverMessagesInOrder) {
  auto params = int_params(200);  // 200 entries of 23 bytes: three messages
  std::string text(500, 's');
  StatementRequest r(42, hostmsg::code::kExecDirect, std::string_view(text));
  ASSERT_FALSE(r.start(params));
  auto m = build_all(r);
  ASSERT_EQ(m.size(), 3u);
  std::string all, expected;
  int total = 0;
  for (size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].first, i == 0 ? '1' : '0');
    EXPECT_EQ(m[i].last, i + 1 == m.size() ? '1' : '0');
    total += m[i].count;
    all += m[i].body;
  }
  // 1786 free bytes take 77 entries (the 78th would leave fewer than 22).
  EXPECT_EQ(m[0].count, 77);
  EXPECT_EQ(m[1].count, 77);
  EXPECT_EQ(total, 200);
  for (int i = 0; i < 200; ++i) expected += entry_of(i + 1, params[static_cast<size_t>(i)]);
  EXPECT_EQ(all, expected + text);
}

TEST(StatementRequest, EntryThatDoesNotFitIsTakenBackWhole) {
  // budget 63: 53 bytes free; after a 23-byte INTEGER entry 30 remain, and a
  // 46-byte CHAR entry does not fit: it opens the next message.
  int32_t a = 1;
  std::string chars(30, 'c');
  SQLLEN n = 30;
  std::vector<ParamRecord> params = {{SQL_C_LONG, SQL_INTEGER, 10, 0, &a, nullptr},
                                     {SQL_C_CHAR, SQL_VARCHAR, 30, 0, chars.data(), &n}};
  StatementRequest r(42, hostmsg::code::kExecDirect, std::string_view("xy"), 63);
  ASSERT_FALSE(r.start(params));
  auto m = build_all(r, 63);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].first, '1');
  EXPECT_EQ(m[0].last, '0');
  EXPECT_EQ(m[0].count, 1);
  EXPECT_EQ(m[0].body, entry_of(1, params[0]));  // no text in a message closed early
  EXPECT_EQ(m[1].first, '0');
  EXPECT_EQ(m[1].last, '1');
  EXPECT_EQ(m[1].count, 1);
  EXPECT_EQ(m[1].body, entry_of(2, params[1]) + "xy");
}

TEST(StatementRequest, FewerThan22BytesFreeClosesTheMessage) {
  // budget 100: 90 free; three 23-byte entries leave 21, where a 14-byte BIT
  // entry would fit, but the message is closed.
  auto params = int_params(3);
  unsigned char bit = 1;
  params.push_back({SQL_C_BIT, SQL_BIT, 1, 0, &bit, nullptr});
  StatementRequest r(42, hostmsg::code::kExecute, std::nullopt, 100);
  ASSERT_FALSE(r.start(params));
  auto m = build_all(r, 100);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].count, 3);
  EXPECT_EQ(m[0].last, '0');
  EXPECT_EQ(m[1].count, 1);
  EXPECT_EQ(m[1].last, '1');
  EXPECT_EQ(m[1].body, entry_of(4, params[3]));
}

TEST(StatementRequest, LongTextIsSplitAndControlBytesBlanked) {
  std::string text(4000, 'a');
  text[0] = '\t';
  text[1786] = '\x1f';
  StatementRequest r(42, hostmsg::code::kExecDirect, std::string_view(text));
  ASSERT_FALSE(r.start({}));
  auto m = build_all(r);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].body.size(), 1786u);
  EXPECT_EQ(m[1].body.size(), 1786u);
  EXPECT_EQ(m[2].body.size(), 4000u - 2 * 1786);
  std::string expected = text;
  expected[0] = ' ';
  expected[1786] = ' ';
  EXPECT_EQ(m[0].body + m[1].body + m[2].body, expected);
  EXPECT_EQ(std::string() + m[0].first + m[0].last + m[1].first + m[1].last + m[2].first + m[2].last, "100001");
}

TEST(StatementRequest, EveryParameterIsCheckedBeforeAnythingIsBuilt) {
  auto params = int_params(150);
  double bad = 1.0;
  params.push_back({SQL_C_DOUBLE, SQL_DATE, 10, 2, &bad, nullptr});
  StatementRequest r(42, hostmsg::code::kExecDirect, std::string_view("insert"));
  std::optional<Diag> d = r.start(params);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->index, kErrRestrictedType);
  EXPECT_EQ(d->text, "Unsupported setparam conversion fCType=8, fSqlType=9");

  StatementRequest tiny(42, hostmsg::code::kExecDirect, std::string_view("x"), 10);
  ASSERT_TRUE(tiny.start({}));

  // An entry larger than an empty message cannot be sent.
  std::string chars(100, 'c');
  SQLLEN n = 100;
  std::vector<ParamRecord> big = {{SQL_C_CHAR, SQL_VARCHAR, 100, 0, chars.data(), &n}};
  StatementRequest small(42, hostmsg::code::kExecDirect, std::string_view("x"), 100);
  d = small.start(big);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->text, "Parameter 1 does not fit a message");
}

TEST(StatementRequest, RepliesDecideTheNextStep) {
  using Step = StatementRequest::ReplyStep;
  auto params = int_params(200);
  StatementRequest r(42, hostmsg::code::kExecDirect, std::string_view("x"));
  ASSERT_FALSE(r.start(params));
  std::vector<char> buffer(kRequestBudget);
  r.build_next(buffer.data());
  ASSERT_FALSE(r.finished());
  struct Case {
    std::string reply;
    Step::Kind kind;
    int rc;
  } middle[] = {
      {"", Step::Malformed, SQL_ERROR},
      {"0", Step::SendNext, SQL_SUCCESS},
      {"5", Step::SendNext, SQL_NO_DATA_FOUND},
      {"00000000000", Step::Describe, SQL_SUCCESS},
      {"1" "00030004info0000", Step::HostErrors, SQL_SUCCESS_WITH_INFO},
      {"2" "00150005error0000", Step::HostErrors, SQL_ERROR},
      {"9", Step::HostErrors, SQL_ERROR},
  };
  for (const Case& c : middle) {
    Step s = r.on_reply(c.reply);
    EXPECT_EQ(s.kind, c.kind) << c.reply;
    EXPECT_EQ(s.rc, c.rc) << c.reply;
  }
  while (!r.finished()) r.build_next(buffer.data());
  // The answer to the last message is always read as a describe reply.
  EXPECT_EQ(r.on_reply("0").kind, Step::Describe);
  EXPECT_EQ(r.on_reply("3").kind, Step::Describe);
  EXPECT_EQ(r.on_reply("3").rc, SQL_INVALID_HANDLE);
}

}  // namespace
}  // namespace quarl::codec

namespace quarl::codec {
namespace {

TEST(SetsMessage, WholeSetsAsLongAsTheyFit) {
  int32_t values[3] = {1, 22, 333};
  auto set = [&](int i) {
    return std::vector<ParamRecord>{ParamRecord{SQL_C_LONG, SQL_INTEGER, 0, 0, &values[i], nullptr}};
  };
  // A set is 23 bytes; a budget of 12 + 2 sets.
  SetsMessage m(42, 12 + 2 * 23);
  std::optional<Diag> d;
  EXPECT_EQ(m.add(set(0), d), SetsMessage::Add::Added);
  EXPECT_EQ(m.add(set(1), d), SetsMessage::Add::Added);
  EXPECT_EQ(m.add(set(2), d), SetsMessage::Add::Full);
  const std::string entry = "0001" "04" "0000" "00" "0";  // parameter 1, INTEGER, not null
  EXPECT_EQ(std::string(m.data()), "0042" "0002" "0001" + entry + "0000000001" + entry + "0000000022");
  m.clear();
  EXPECT_EQ(m.add(set(2), d), SetsMessage::Add::Added);
  EXPECT_EQ(std::string(m.data()), "0042" "0001" "0001" + entry + "0000000333");
  // A set larger than an empty message, and one with a value that has no wire form.
  SetsMessage small(42, 20);
  EXPECT_EQ(small.add(set(0), d), SetsMessage::Add::TooLarge);
  double x = 1.5;
  std::vector<ParamRecord> bad{ParamRecord{SQL_C_DOUBLE, SQL_DATE, 0, 0, &x, nullptr}};
  EXPECT_EQ(m.add(bad, d), SetsMessage::Add::Failed);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->index, kErrRestrictedType);
}

TEST(SetsMessage, RepliesTellHowManySetsRanAndHowTheLastEnded) {
  struct Case {
    std::string reply;
    SetsReply::Kind kind;
    unsigned run;
    int64_t changed;
    bool last_failed;
    std::string items;
  } cases[] = {
      {"0" "0003" "0000000003" "0", SetsReply::Ran, 3, 3, false, ""},
      {"0" "0002" "0000000001" "9" "00250004dup!0000", SetsReply::Ran, 2, 1, true, "00250004dup!0000"},
      {"0" "0001" "-0000000001" "0", SetsReply::Ran, 1, -1, false, ""},
      {"9" "00070004seq!0000", SetsReply::HostErrors, 0, 0, false, "00070004seq!0000"},
      {"0" "0001" "00000", SetsReply::Malformed, 1, 0, false, ""},
      {"", SetsReply::Malformed, 0, 0, false, ""},
  };
  for (const Case& c : cases) {
    SetsReply r = read_sets_reply(c.reply);
    EXPECT_EQ(r.kind, c.kind) << c.reply;
    if (r.kind == SetsReply::Malformed) continue;
    EXPECT_EQ(r.run, c.run) << c.reply;
    EXPECT_EQ(r.changed, c.changed) << c.reply;
    EXPECT_EQ(r.last_failed, c.last_failed) << c.reply;
    EXPECT_EQ(r.items, c.items) << c.reply;
  }
}

TEST(StatementRequest, LongValuesInlineWhileTheRequestStaysOneMessage) {
  // Two values of 4000 bytes in messages of 6000: the first inline, the
  // second ahead in pieces, so that the request is one message (one reply).
  std::string a(4000, 'a'), b(4000, 'b'), small(1200, 's');
  SQLLEN a_length = 4000, b_length = 4000, small_length = 1200;
  std::vector<ParamRecord> params = {{SQL_C_CHAR, SQL_LONGVARCHAR, 4000, 0, a.data(), &a_length},
                                     {SQL_C_BINARY, SQL_LONGVARBINARY, 4000, 0, b.data(), &b_length},
                                     {SQL_C_CHAR, SQL_VARCHAR, 1200, 0, small.data(), &small_length}};
  StatementRequest r(42, hostmsg::code::kExecDirect, std::string_view("insert into t values (?, ?, ?)"), 6000,
                     LongValueForms{1 << 20, 0});
  ASSERT_FALSE(r.start(params));
  ASSERT_EQ(r.apart_values().size(), 1u);
  EXPECT_EQ(r.apart_values()[0].number, 2);
  EXPECT_EQ(r.apart_values()[0].view(), b);
  auto m = build_all(r, 6000);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].body, "0001-01400000" "0" "X0000004000" + a + "0002-04400000" "0" "L0000004000" +
                           "0003121200000" "X0000001200" + small + "insert into t values (?, ?, ?)");
}

}  // namespace
}  // namespace quarl::codec
