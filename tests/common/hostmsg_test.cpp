#include "common/hostmsg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>


namespace quarl {
namespace {

using hostmsg::strip_control;

TEST(HostMessage, HeaderRoundTrip) {
  char m[14];
  hostmsg::write_header(m, {'7', 12, 1, 9, 1796});
  EXPECT_EQ(std::string(m, 14), "#@!71210091796");
  auto h = hostmsg::read_header(m);
  EXPECT_EQ(h.sequence, '7');
  EXPECT_EQ(h.sub_id, 12u);
  EXPECT_EQ(h.type, 1u);
  EXPECT_EQ(h.code, 9u);
  EXPECT_EQ(h.length, 1796u);
}

TEST(HostMessage, StatusDigits) {
  EXPECT_EQ(hostmsg::host_rc('0'), 0);
  EXPECT_EQ(hostmsg::host_rc('1'), 1);
  EXPECT_EQ(hostmsg::host_rc('3'), -2);
  EXPECT_EQ(hostmsg::host_rc('4'), 99);
  EXPECT_EQ(hostmsg::host_rc('5'), 100);
  EXPECT_EQ(hostmsg::host_rc('2'), -1);
  EXPECT_EQ(hostmsg::host_rc('x'), -1);
}

TEST(HostMessage, StripControl) {
  struct Case {
    std::string bytes;
    size_t kept_at;
  } cases[] = {
      {"#@!", 0},
      {"\r\n\x1bRx03abc#@!", 10},           // CR LF, ESC R x, count 3, three bytes
      {"\x1bRA....03abc#@!", 12},           // ESC R A: 7 bytes, count, bytes
      {"\x1b$x#@!", 3},                      // ESC $: 3 bytes
      {"\x1b\"xy#@!", 4},                    // ESC ": 4 bytes
      {"\x1b^abcd#@!", 6},                   // ESC ^: 6 bytes
      {"\x1bQ#@!", 2},                       // ESC other: 2 bytes
      {"\x80\xff#@!", 2},                    // high bytes count as control bytes
      {"\x1bRxff", 5},                       // a count past the end stops at the end
      {"\x1b", 1},
      {"\x1bRA", 3},
      {std::string("\0\0\0", 3), 3},
  };
  for (auto& c : cases) EXPECT_EQ(strip_control(c.bytes.data(), c.bytes.size()), c.kept_at) << c.bytes;
}

TEST(HostMessage, ErrorItems) {
  std::vector<std::pair<unsigned, std::string>> seen;
  auto collect = [&](unsigned i, std::string_view t) { seen.emplace_back(i, std::string(t)); };
  EXPECT_EQ(hostmsg::for_each_error_item("00150012syntax error0001000200xx", collect), 2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(15u, std::string("syntax error")));
  EXPECT_EQ(seen[1], std::make_pair(1u, std::string("00")));
  EXPECT_EQ(hostmsg::for_each_error_item("0000", collect), 0);
  seen.clear();
  // A length that runs past the data is cut to what is there.
  EXPECT_EQ(hostmsg::for_each_error_item("00039999abc", collect), 1);
  EXPECT_EQ(seen[0].second, "abc");
  EXPECT_EQ(hostmsg::for_each_error_item("001", collect), 0);
}

}  // namespace
}  // namespace quarl
