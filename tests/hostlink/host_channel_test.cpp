// HostMessages over a provider connection: sequence characters, what the
// receive filters out, and replies that give their message back.
#include "hostlink/host_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/scripted_provider.h"

namespace quarl::hostlink {
namespace {

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted::reset();
    ASSERT_EQ(scripted::load(&table), 0);
    ASSERT_TRUE(channel.attach(&table, 1, 8192));
    channel.sub_id = 5;
  }
  static long releases() {
    auto calls = scripted::calls();
    return std::count(calls.begin(), calls.end(), "release");
  }
  ProviderTable table{};
  HostChannel channel;
  ReceiveOptions options;
};

TEST_F(ChannelTest, ControlMessagesTakeTheNextSequenceAndLeaveTheSendBufferAlone) {
  std::memcpy(channel.out(), "0042", 4);
  ASSERT_TRUE(channel.send(1, 9, 4));
  ASSERT_TRUE(channel.send_control(0, 5, "0042"));
  ASSERT_TRUE(channel.send(1, 9, 4));
  auto sent = scripted::sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].bytes, "#@!0050005" "0004" "0042");
  EXPECT_EQ(sent[2].bytes, "#@!1051009" "0004" "0042");  // the request area is as it was
  EXPECT_FALSE(channel.send_control(0, 5, std::string(9000, 'x')));
}

TEST_F(ChannelTest, ReceivingUntilADeadlineKeepsTheReceiveTimeOut) {
  channel.receive_timeout = 60;
  scripted::queue_timeout();
  scripted::queue_message(scripted::reply(1, 9, "0"));
  auto deadline = HostChannel::Clock::now() + std::chrono::seconds(30);
  Reply r = channel.receive_until(deadline, options);
  ASSERT_TRUE(r);
  EXPECT_EQ(r.code(), 9u);
  // The provider's waits count whole seconds, rounded up; a time-out on the
  // way does not lower the connection's receive time-out.
  auto calls = scripted::calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "receive 30"), 2);
  EXPECT_EQ(channel.receive_timeout, 60);
  // A deadline that has passed polls once and reports the time-out.
  Reply late = channel.receive_until(HostChannel::Clock::now() - std::chrono::seconds(1), options);
  EXPECT_EQ(late.outcome(), Outcome::Timeout);
  EXPECT_EQ(scripted::calls().back(), "receive 0");
  EXPECT_EQ(channel.receive_timeout, 60);
}

TEST_F(ChannelTest, SequenceCharactersGoRoundTheTenDigits) {
  channel.transmit_timeout = 33;
  for (int i = 0; i < 11; ++i) ASSERT_TRUE(channel.send(0, 0, 0));
  std::string seqs;
  for (auto& s : scripted::sent()) seqs += s.bytes[3];
  EXPECT_EQ(seqs, "90123456789");
  EXPECT_EQ(scripted::sent()[0].bytes, "#@!90500000000");
  EXPECT_EQ(scripted::sent()[0].timeout, 33);
}

TEST_F(ChannelTest, RepeatsJunkAndIgnoredCodeAreSkipped) {
  scripted::queue_message("junk");
  scripted::queue_message(scripted::reply_seq('1', 1, 14, "x"));
  scripted::queue_message("\r\n\x1bRx03abc" + scripted::reply_seq('2', 1, 4, "0A"));
  scripted::queue_message(scripted::reply_seq('2', 1, 4, "repeat"));
  scripted::queue_message(scripted::reply_seq('3', 1, 4, "0B"));
  Reply first = channel.receive(60, options);
  ASSERT_TRUE(first);
  EXPECT_EQ(first.data(), "0A");
  EXPECT_EQ(first.code(), 4u);
  first.release();
  Reply second = channel.receive(60, options);
  ASSERT_TRUE(second);
  EXPECT_EQ(second.data(), "0B");
  // Without the filter of code 14 the message is taken.
  scripted::queue_message(scripted::reply_seq('4', 1, 14, "x"));
  EXPECT_EQ(channel.receive(60, {false, false}).code(), 14u);
}

// A hostile host that keeps sending what the receive skips (junk, ignored
// codes, repeats), each within the time-out, kept the caller waiting
// forever; the time-out bounds the whole wait.
TEST_F(ChannelTest, SkippedMessagesDoNotStretchTheTimeOut) {
  scripted::set_receive_delay(std::chrono::milliseconds(300));
  for (int i = 0; i < 30; ++i)
    scripted::queue_message(i % 3 == 0   ? std::string("junk")
                            : i % 3 == 1 ? scripted::reply_seq(char('0' + i % 10), 1, 14, "x")
                                         : scripted::reply_seq(char('0' + (i - 1) % 10), 1, 4, "repeat"));
  scripted::queue_message(scripted::reply_seq('a', 1, 4, "0late"));
  channel.receive_timeout = 60;
  Reply r = channel.receive(1, options);
  EXPECT_EQ(r.outcome(), Outcome::Timeout) << "took " << r.data();
  EXPECT_EQ(channel.receive_timeout, 10);
  // Each wait after a skipped message was given what was left of the time-out.
  auto calls = scripted::calls();
  EXPECT_LE(std::count(calls.begin(), calls.end(), "receive 1"), 5);
}

TEST_F(ChannelTest, UnawaitedRepliesAreDroppedAheadOfTheNextOne) {
  ASSERT_TRUE(channel.send_unawaited(1, 2, 0));
  ASSERT_TRUE(channel.send(1, 4, 0));
  channel.await_no_reply(1, 4);
  ASSERT_TRUE(channel.send(1, 9, 0));
  scripted::queue_message(scripted::reply_seq('1', 1, 2, "0"));
  // A cancel's acknowledgement may come between them and is taken.
  scripted::queue_message(scripted::reply_seq('2', 1, 19, "0"));
  scripted::queue_message(scripted::reply_seq('3', 1, 4, "5"));
  scripted::queue_message(scripted::reply_seq('4', 1, 9, "0X"));
  EXPECT_EQ(channel.receive(60, options).code(), 19u);
  Reply r = channel.receive(60, options);
  ASSERT_TRUE(r);
  EXPECT_EQ(r.code(), 9u);
  EXPECT_EQ(r.data(), "0X");
  EXPECT_EQ(channel.unawaited_replies(), 0u);
  r.release();
  // Another reply in its place: it will not come, and the next reply of its
  // code is the caller's.
  ASSERT_TRUE(channel.send_unawaited(1, 2, 0));
  scripted::queue_message(scripted::reply_seq('5', 1, 9, "0Y"));
  scripted::queue_message(scripted::reply_seq('6', 1, 2, "0Z"));
  EXPECT_EQ(channel.receive(60, options).data(), "0Y");
  EXPECT_EQ(channel.receive(60, options).data(), "0Z");
}

TEST_F(ChannelTest, WhyNoReplyCame) {
  EXPECT_EQ(channel.receive(0, options).outcome(), Outcome::Timeout);
  EXPECT_EQ(channel.receive_timeout, 60);  // a poll changes nothing
  EXPECT_EQ(channel.receive(30, options).outcome(), Outcome::Timeout);
  EXPECT_EQ(channel.receive_timeout, 10);  // later receives wait less

  scripted::queue_message(scripted::reply_seq('4', 1, 4, "0").substr(0, 12));
  EXPECT_EQ(channel.receive(60, options).outcome(), Outcome::Malformed);
  std::string lying = scripted::reply_seq('5', 1, 4, "01");
  lying[13] = '9';  // announces 9 bytes, brings 2
  scripted::queue_message(lying);
  EXPECT_EQ(channel.receive(60, options).outcome(), Outcome::Malformed);
  scripted::queue({scripted::Incoming::Error, {}});
  EXPECT_EQ(channel.receive(60, options).outcome(), Outcome::ReceiveError);

  options.non_host_is_error = true;
  scripted::queue_message("junk");
  Reply foreign = channel.receive(60, options);
  EXPECT_EQ(foreign.outcome(), Outcome::NonHost);
  EXPECT_EQ(foreign.non_host_text(), "junk");

  scripted::fail("send");
  EXPECT_EQ(channel.transact(1, 1, 0).outcome(), Outcome::SendFailed);
  EXPECT_EQ(releases(), 3);  // every message taken in was given back
}

TEST_F(ChannelTest, FailedExchangesCarryTheProvidersWordsUntilAMessageIsAccepted) {
  scripted::set_last_error("HOST1: Broken pipe");
  scripted::fail("send");
  Reply refused = channel.transact(1, 1, 0);
  EXPECT_EQ(refused.outcome(), Outcome::SendFailed);
  EXPECT_EQ(refused.provider_error(), "HOST1: Broken pipe");
  EXPECT_EQ(channel.provider_error(), "HOST1: Broken pipe");
  scripted::fail("send", 0);
  scripted::queue_message("junk");
  EXPECT_EQ(channel.receive(0, options).outcome(), Outcome::Timeout);  // the words stay, the junk is noted
  EXPECT_EQ(channel.receive(0, options).skipped_text(), "junk");
  EXPECT_EQ(channel.receive(0, options).provider_error(), "HOST1: Broken pipe");
  scripted::queue_message(scripted::reply(1, 4, "0"));
  ASSERT_TRUE(channel.receive(60, options));
  EXPECT_EQ(channel.provider_error(), "");
  Reply timed_out = channel.receive(0, options);
  EXPECT_EQ(timed_out.skipped_text(), "");
  EXPECT_EQ(timed_out.provider_error(), "");
  // A request too long for a message is ours to refuse: no provider's words.
  scripted::fail("send");
  EXPECT_EQ(channel.transact(1, 1, 0).provider_error(), "HOST1: Broken pipe");
  EXPECT_EQ(channel.transact(1, 1, 8192).provider_error(), "");
}

TEST_F(ChannelTest, MessagesNeverExceedTheMessageSizeInUse) {
  channel.set_message_size(60000);
  EXPECT_EQ(channel.message_size(), 8192u);  // never above the send buffer
  EXPECT_FALSE(channel.send(1, 9, 8192 - 13));
  EXPECT_TRUE(channel.send(1, 9, 8192 - 14));
  channel.set_message_size(100);  // the host granted less
  EXPECT_EQ(channel.max_data_length(), 86u);
  EXPECT_FALSE(channel.send(1, 9, 87));
  EXPECT_TRUE(channel.send(1, 9, 86));
  EXPECT_EQ(scripted::sent().size(), 2u);
}

TEST_F(ChannelTest, ReplyGivesBackItsOwnMessageOnly) {
  scripted::set_responder([](const std::string& sent) {
    return std::vector<scripted::Incoming>{{scripted::Incoming::Message, scripted::reply(1, 1, "0" + sent.substr(14))}};
  });
  std::memcpy(channel.out(), "a", 1);
  Reply a = channel.transact(1, 1, 1);
  ASSERT_TRUE(a);
  EXPECT_EQ(a.data(), "0a");
  std::memcpy(channel.out(), "b", 1);
  Reply b = channel.transact(1, 1, 1);  // gives a's message back first
  EXPECT_EQ(releases(), 1);
  EXPECT_EQ(a.data(), "");  // a's view is gone with its message
  EXPECT_EQ(b.data(), "0b");
  a.release();  // must not give back b's message
  EXPECT_EQ(releases(), 1);
  EXPECT_EQ(b.data(), "0b");
  {
    Reply moved = std::move(b);
    EXPECT_EQ(moved.data(), "0b");
    EXPECT_EQ(b.data(), "");
  }
  EXPECT_EQ(releases(), 2);  // released once, by the Reply that held it last
  b.release();
  EXPECT_EQ(releases(), 2);
}

TEST_F(ChannelTest, StatusDigitsAndErrorItems) {
  struct Case {
    std::string data;
    int rc;
    bool items;
    std::string first_text;
  } cases[] = {
      {"0", 0, false, ""},
      {"10003" "0004warn" "0000", 1, true, "warn"},
      {"90015" "0006syntax" "0001" "0002xx" "0000", -1, true, "syntax"},
      {"9", -1, true, ""},
      {"90000", -1, true, ""},  // an empty list
      {"5", 100, false, ""},
      {"3", -2, false, ""},
      {"4", 99, false, ""},
      {"", -1, true, ""},  // no status at all: an error
  };
  for (const auto& c : cases) {
    scripted::queue_message(scripted::reply(1, 4, c.data));
    Reply r = channel.receive(60, options);
    ASSERT_TRUE(r) << c.data;
    EXPECT_EQ(r.rc(), c.rc) << c.data;
    EXPECT_EQ(r.carries_error_items(), c.items) << c.data;
    EXPECT_EQ(r.first_error_text(), c.first_text) << c.data;
    EXPECT_EQ(r.after_status(), c.data.empty() ? "" : c.data.substr(1)) << c.data;
  }
}

TEST_F(ChannelTest, DrainPollsAndReleasesWhatIsWaiting) {
  scripted::queue_message("a");
  scripted::queue_message("b");
  scripted::clear_log();
  channel.drain();
  EXPECT_EQ(scripted::calls(), (std::vector<std::string>{"receive 0", "release", "receive 0", "release", "receive 0"}));
}

}  // namespace
}  // namespace quarl::hostlink
