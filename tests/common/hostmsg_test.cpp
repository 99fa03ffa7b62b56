#include "common/hostmsg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/host_channel.h"
#include "tests/support/scripted_provider.h"

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

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted::reset();
    ASSERT_EQ(scripted::load(&table), 0);
    ASSERT_TRUE(channel.attach(&table, 1, 8192));
    channel.sub_id = 5;
  }
  ProviderTable table{};
  HostChannel channel;
  HostChannel::Options options;
};

TEST_F(ChannelTest, SequenceCharactersGoRoundTheTenDigits) {
  std::string seqs;
  for (int i = 0; i < 11; ++i) {
    ASSERT_TRUE(channel.send(0, 0, 0, 60));
  }
  for (auto& s : scripted::sent()) seqs += s.bytes[3];
  EXPECT_EQ(seqs, "90123456789");
  EXPECT_EQ(scripted::sent()[0].bytes, "#@!90500000000");
  EXPECT_EQ(scripted::sent()[0].timeout, 60);
}

TEST_F(ChannelTest, RepeatsJunkAndIgnoredCodeAreSkipped) {
  scripted::queue_message("junk");
  scripted::queue_message(scripted::reply_seq('1', 1, 14, "x"));
  scripted::queue_message("\r\n\x1bRx03abc" + scripted::reply_seq('2', 1, 4, "0A"));
  scripted::queue_message(scripted::reply_seq('2', 1, 4, "repeat"));
  scripted::queue_message(scripted::reply_seq('3', 1, 4, "0B"));
  ASSERT_EQ(channel.receive(60, options), HostChannel::Recv::Ok);
  EXPECT_EQ(std::string(channel.data, channel.length), "0A");
  EXPECT_EQ(channel.code, 4u);
  channel.release();
  ASSERT_EQ(channel.receive(60, options), HostChannel::Recv::Ok);
  EXPECT_EQ(std::string(channel.data, channel.length), "0B");
}

TEST_F(ChannelTest, NonHostMessagesCanBeErrors) {
  options.non_host_is_error = true;
  scripted::queue_message("junk");
  EXPECT_EQ(channel.receive(60, options), HostChannel::Recv::NonHost);
  EXPECT_EQ(channel.non_host_text, "junk");
}

TEST_F(ChannelTest, TimeoutsAndMalformedMessages) {
  EXPECT_EQ(channel.receive(0, options), HostChannel::Recv::Timeout);
  EXPECT_EQ(channel.receive_timeout, 60);
  EXPECT_EQ(channel.receive(30, options), HostChannel::Recv::Timeout);
  EXPECT_EQ(channel.receive_timeout, 10);
  scripted::queue_message(scripted::reply_seq('4', 1, 4, "0").substr(0, 12));
  EXPECT_EQ(channel.receive(60, options), HostChannel::Recv::Malformed);
  std::string lying = scripted::reply_seq('5', 1, 4, "01");
  lying[13] = '9';  // announces 9 bytes, brings 2
  scripted::queue_message(lying);
  EXPECT_EQ(channel.receive(60, options), HostChannel::Recv::Malformed);
  scripted::queue({scripted::Incoming::Error, {}});
  EXPECT_EQ(channel.receive(60, options), HostChannel::Recv::Error);
}

TEST_F(ChannelTest, MessagesNeverExceedTheSendBuffer) {
  channel.set_message_size(60000);
  EXPECT_EQ(channel.message_size(), 8192u);
  EXPECT_FALSE(channel.send(1, 9, 8192 - 13, 60));
  EXPECT_TRUE(channel.send(1, 9, 8192 - 14, 60));
}

TEST_F(ChannelTest, DrainPollsAndReleasesWhatIsWaiting) {
  scripted::queue_message("a");
  scripted::queue_message("b");
  scripted::clear_log();
  channel.drain();
  EXPECT_EQ(scripted::calls(), (std::vector<std::string>{"receive 0", "release", "receive 0", "release", "receive 0"}));
}

}  // namespace
}  // namespace quarl
