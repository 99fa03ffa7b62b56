#include "common/attributes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/scramble.h"

namespace quarl {
namespace {

struct Parsed {
  AttrParse result;
  ConnAttributes block;
};

Parsed parse(std::string_view text, char sep = ';') {
  Parsed p{};
  std::memset(&p.block, 0, sizeof p.block);
  p.result = parse_attribute_string(text, sep, p.block);
  return p;
}

TEST(AttributeString, KeysValuesAndDefaults) {
  auto p = parse("DSN=A;Description=x;");
  EXPECT_EQ(p.result, AttrParse::Complete);
  EXPECT_EQ(p.block.get(kAttrDsn), "A");
  EXPECT_EQ(p.block.get(kAttrDescription), "x");
  EXPECT_TRUE(p.block.attr[kAttrProvider].given);
  EXPECT_EQ(p.block.get(kAttrProvider), "TCP/IP");
  EXPECT_FALSE(p.block.attr[kAttrUid].given);
}

TEST(AttributeString, SpacesCaseAndTrailingValueBlanks) {
  auto p = parse("  dsn = A ;uid=  bob;");
  EXPECT_EQ(p.block.get(kAttrDsn), "A ");
  EXPECT_EQ(p.block.get(kAttrUid), "bob");
}

TEST(AttributeString, StoredNamesAreNotKeywords) {
  auto p = parse("DataDescriptionFile=cfg;ClientConfig=other;");
  EXPECT_EQ(p.block.get(kAttrClientConfig), "cfg");
  auto q = parse("ClientConfig=cfg;");
  EXPECT_FALSE(q.block.attr[kAttrClientConfig].given);
}

TEST(AttributeString, OddSegments) {
  // A segment without '=', an unknown key, a repeated key.
  auto p = parse("junk;Foo=bar;UID=a;UID=b;");
  EXPECT_EQ(p.result, AttrParse::Complete);
  EXPECT_EQ(p.block.get(kAttrUid), "b");
  // An unknown key at the end without a separator stops the parse: no provider default.
  auto q = parse("UID=a;DRIVER={Quarl}");
  EXPECT_EQ(q.result, AttrParse::Incomplete);
  EXPECT_FALSE(q.block.attr[kAttrProvider].given);
  // A key without '=' at the end stops it too.
  EXPECT_EQ(parse("UID=a;PWD").result, AttrParse::Incomplete);
  // A last value without separator completes.
  auto r = parse("UID=a;Provider=X");
  EXPECT_EQ(r.result, AttrParse::Complete);
  EXPECT_EQ(r.block.get(kAttrProvider), "X");
}

TEST(AttributeString, KeyLengthLimitAndValueCut) {
  EXPECT_EQ(find_attribute_keyword("DataDescriptionFile"), kAttrClientConfig);
  EXPECT_EQ(find_attribute_keyword(std::string(21, 'D')), -1);
  // 20 characters is the longest key still compared: trailing blanks are removed first.
  auto p = parse("UID                 =x;");
  EXPECT_EQ(p.block.get(kAttrUid), "x");
  std::string long_value(300, 'v');
  auto q = parse("Description=" + long_value + ";");
  EXPECT_EQ(q.block.get(kAttrDescription), std::string(255, 'v'));
}

TEST(PasswordScrambling, IsItsOwnInverseAndStopsAtZero) {
  EXPECT_EQ(scramble("abc"), std::string(3, '\x60'));
  EXPECT_EQ(scramble(scramble("secret")), "secret");
  char text[] = "abc";
  scramble_in_place(text);
  scramble_in_place(text);
  EXPECT_STREQ(text, "abc");
  // Position 2 holding the byte 2 scrambles to zero: the stored value ends before it.
  EXPECT_EQ(scramble(std::string("a\x02z")), "`");
  std::string long_pwd(40, 'x');
  long_pwd[32] = ' ';  // ' ' is 32, at position 33 it does not vanish, at 32 it would
  EXPECT_EQ(scramble(long_pwd).size(), 40u);
  long_pwd[31] = ' ';
  EXPECT_EQ(scramble(long_pwd).size(), 31u);
}

}  // namespace
}  // namespace quarl
