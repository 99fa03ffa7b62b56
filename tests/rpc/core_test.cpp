// The pure parts of the RPC library: the item list, the frame's marking of
// the buffer by shape, the time stamp and the transaction-code layout.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/trancode.h"
#include "rpc/files_and_time.h"
#include "rpc/frame.h"
#include "rpc/item_list.h"
#include "rpc/session.h"

namespace {

using quarl::rpc::ItemList;

std::vector<std::string> all_items(std::string_view text) {
  ItemList items(text);
  std::vector<std::string> out;
  while (items.more()) out.push_back(items.next());
  return out;
}

TEST(ItemList, SplitsAtCommasAndDropsBlanksAroundItems) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"  A , B,C  ", {"A", "B", "C"}},
      {"A,,C", {"A", "", "C"}},
      {"A", {"A"}},
      {"", {}},
      {"     ", {}},
      {"A,", {"A"}},  // the comma is consumed; no text remains
      {",A", {"", "A"}},
      {" in file.txt , append ", {"in file.txt", "append"}},
      {"A\t, B", {"A\t", "B"}},  // only blanks are dropped
  };
  for (const auto& c : cases) EXPECT_EQ(all_items(c.text), c.items) << "text '" << c.text << "'";
}

TEST(ItemList, ExhaustedListGivesEmptyItems) {
  ItemList items("A");
  EXPECT_EQ(items.next(), "A");
  EXPECT_FALSE(items.more());
  EXPECT_EQ(items.next(), "");
  EXPECT_EQ(items.next(), "");
}

TEST(ItemList, LeadingIntegerReadsLikeAtoi) {
  struct Case {
    std::string text;
    int64_t value;
  };
  const Case cases[] = {{"42", 42},
                        {"  -1", -1},
                        {"+7x", 7},
                        {"abc", 0},
                        {"", 0},
                        {"12 34", 12},
                        // the text of an unsigned value reads back as its bit pattern
                        {"18446744073709551615", -1}};
  for (const auto& c : cases) EXPECT_EQ(quarl::rpc::leading_integer(c.text), c.value) << c.text;
}

// The frame marks the buffer by the export's shape.
TEST(Frame, MarksTheBufferByShapeAndResult) {
  using quarl::rpc::Shape;
  quarl::rpc::RpcSession session;
  auto succeed = [](quarl::rpc::RpcSession&, quarl::rpc::Buffer b) -> quarl::rpc::Status {
    b.put("out");
    return 0;
  };
  auto fail = [](quarl::rpc::RpcSession& s, quarl::rpc::Buffer b) -> quarl::rpc::Status {
    b.put("partial");
    return s.error.fail("it failed");
  };
  auto throws = [](quarl::rpc::RpcSession&, quarl::rpc::Buffer) -> quarl::rpc::Status {
    throw std::runtime_error("boom");
  };
  struct Case {
    Shape shape;
    quarl::rpc::Operation op;
    int length;
    std::string expected;
  };
  const Case cases[] = {
      {Shape::BlankAlways, succeed, 8, "        "},
      {Shape::BlankAlways, fail, 8, "*****   "},
      {Shape::KeepOnSuccess, succeed, 8, "out     "},
      {Shape::KeepOnSuccess, fail, 8, "*****   "},
      {Shape::KeepOnSuccess, fail, 3, "***"},  // the marker is cut to the buffer
      {Shape::Unchecked, fail, 8, "partial "},
      {Shape::None, fail, 8, "input..."},
  };
  for (const auto& c : cases) {
    std::string buffer = std::string("input...").substr(0, size_t(c.length));
    quarl::rpc::run_export(session, buffer.data(), int16_t(c.length), c.shape, c.op);
    EXPECT_EQ(buffer, c.expected) << int(c.shape) << " length " << c.length;
  }
  std::string buffer = "input.";
  quarl::rpc::run_export(session, buffer.data(), 6, Shape::KeepOnSuccess, throws);
  EXPECT_EQ(buffer, "***** ");
  EXPECT_EQ(session.error.text(), "Internal error: boom");
}

TEST(Frame, RefusesANegativeLengthWithoutTouchingTheBuffer) {
  quarl::rpc::RpcSession session;
  auto op = [](quarl::rpc::RpcSession&, quarl::rpc::Buffer b) -> quarl::rpc::Status {
    b.put("written");
    return 0;
  };
  std::string buffer = "untouched";
  quarl::rpc::run_export(session, buffer.data(), -5, quarl::rpc::Shape::BlankAlways, op);
  EXPECT_EQ(buffer, "untouched");
  EXPECT_EQ(session.error.text(), "Invalid buffer length -5");
  quarl::rpc::run_export(session, nullptr, 4, quarl::rpc::Shape::KeepOnSuccess, op);
  EXPECT_EQ(session.error.text(), "No buffer given");
}

TEST(TimeStamp, YearDayOfYearSecondsOfDayAndMilliseconds) {
  EXPECT_EQ(quarl::rpc::format_time_stamp({2024, 1, 5, 0, 30, 0, 250, 5}), "202400501800250");
  EXPECT_EQ(quarl::rpc::format_time_stamp({1999, 12, 31, 23, 59, 59, 999, 365}), "199936586399999");
}

TEST(TrancodeWire, RequestLayout) {
  std::string request = quarl::trancode::encode_request("ABC", "LIB", "EP", "HELLO");
  EXPECT_EQ(request, "000117ABC   LIB" + std::string(47, ' ') + "EP" + std::string(48, ' ') + "HELLO");
  // Names are cut to their fields, not changed; the text to 9999 bytes.
  std::string long_request =
      quarl::trancode::encode_request("ABCDEFGH", std::string(60, 'l'), "ep", std::string(10005, 'x'));
  EXPECT_EQ(long_request.size(), 10111u);
  EXPECT_EQ(long_request.substr(0, 12), "010111ABCDEF");
  EXPECT_EQ(long_request.substr(12, 50), std::string(50, 'l'));
  EXPECT_EQ(long_request.substr(62, 3), "ep ");
  auto names = quarl::trancode::decode_request_names(long_request.substr(6, 106));
  EXPECT_EQ(names.code, "ABCDEF");
  EXPECT_EQ(names.entry_point, "ep");
}

TEST(TrancodeWire, LengthFields) {
  EXPECT_EQ(quarl::trancode::read_length("000117"), 117u);
  EXPECT_EQ(quarl::trancode::read_length("  12ab"), 12u);
  EXPECT_EQ(quarl::trancode::read_length("abcdef"), 0u);
  EXPECT_EQ(quarl::trancode::read_length_strict("000117"), 117u);
  EXPECT_FALSE(quarl::trancode::read_length_strict(" 00117").has_value());
  EXPECT_FALSE(quarl::trancode::read_length_strict("00117").has_value());
  std::string reply = quarl::trancode::encode_reply("HDR", "data");
  EXPECT_EQ(reply.substr(0, 9), "000116HDR");
  EXPECT_EQ(reply.size(), 116u);
  EXPECT_EQ(reply.substr(112), "data");
}

}  // namespace
