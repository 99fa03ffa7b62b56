// Statement requests (execute direct 9, prepare 10, execute 11): the host
// statement id, the parameter entries and the SQL text, laid out over as many
// messages as they need.  Built one message at a time, because each message
// is answered before the next is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/codec/diag.h"
#include "driver/codec/param_entry.h"
#include "driver/codec/records.h"

namespace quarl::codec {

// Data bytes of one statement request message.
inline constexpr size_t kRequestBudget = 1796;
// Statement id (4), first flag (1), last flag (1), entry count (4).
inline constexpr size_t kRequestHead = 10;
// A message with fewer bytes free than this takes no further entry.
inline constexpr size_t kMinFreeForEntry = 22;

// The exchange, as execute_statement runs it:
//   StatementRequest req(id, code, text);          // text must outlive req
//   if (auto d = req.start(params)) post it, SQL_ERROR (nothing was sent)
//   do {
//     n = req.build_next(send buffer data area); send type 1, code, n; wait
//     step = req.on_reply(reply data)
//     HostErrors: post the items after the status digit, return step.rc
//     SendNext:   continue
//     Describe:   DescribeReader (continuations received with the same code),
//                 ResultSet::apply; a result other than SQL_SUCCESS ends it
//   } while (!req.finished());
class StatementRequest {
 public:
  // text: the cleaned SQL text (codes 9 and 10); none for code 11.
  // long_forms: the connection agreed to long values (common/long_values.h);
  // values too long for an entry then travel apart (apart_values()).
  StatementRequest(uint16_t statement_id, unsigned code, std::optional<std::string_view> text,
                   size_t budget = kRequestBudget, std::optional<LongValueForms> long_forms = std::nullopt);

  // Reads and encodes every bound parameter (not for a prepare, which never
  // carries parameters).  Every check happens here, before anything is sent:
  // a diag ends the request.  params[i] is parameter number i + 1; records
  // that are not bound are skipped.
  std::optional<Diag> start(std::span<const ParamRecord> params) noexcept;

  // Writes the next message's data (at most the budget) to out; returns its
  // length.  Only while !finished().
  size_t build_next(char* out);
  bool finished() const { return finished_; }
  unsigned code() const { return code_; }
  // The values that go to the host in parameter pieces before the first
  // message (after start()).
  const std::vector<ApartValue>& apart_values() const { return apart_; }

  // What to do with the reply to the message just sent.  reply: the data
  // from the status digit on.
  struct ReplyStep {
    enum Kind {
      HostErrors,  // post the error items after the status digit; return rc
      Describe,    // read reply.substr(1) as a describe reply; its result decides
      SendNext,    // a bare success for a message that was not the last
      Malformed,   // an empty reply: post diag; return SQL_ERROR
    } kind;
    int rc;
  };
  ReplyStep on_reply(std::string_view reply) const;

 private:
  uint16_t statement_id_;
  unsigned code_;
  std::optional<std::string_view> text_;
  size_t budget_;
  std::optional<LongValueForms> long_forms_;
  std::vector<ApartValue> apart_;
  std::string entries_;              // every entry, back to back
  std::vector<size_t> entry_ends_;   // end offset of each entry in entries_
  size_t next_entry_ = 0;
  size_t text_sent_ = 0;
  bool first_ = true;
  bool finished_ = false;
};

// Parameter arrays (code 20, execute with parameter sets): the prepared
// statement runs once per set.  A message carries whole sets: statement id
// (4), number of sets (4), entries per set (4), then the entries of each set
// in turn.  Built set by set, as many as the message holds.
inline constexpr size_t kSetsHead = 12;

class SetsMessage {
 public:
  // long_forms: as for StatementRequest, but nothing travels apart.
  SetsMessage(uint16_t statement_id, size_t budget, std::optional<LongValueForms> long_forms = std::nullopt);

  enum class Add {
    Added,     // the set is in the message
    Full,      // it does not fit what is left: send the message, then add it again
    TooLarge,  // it does not fit an empty message
    Failed,    // a value has no wire form (diag)
  };
  // Encodes the bound records of one set (params[i] is parameter i + 1);
  // every set must bind the same parameters.  The message is unchanged
  // unless the set is Added.
  Add add(std::span<const ParamRecord> params, std::optional<Diag>& diag);

  unsigned sets() const { return sets_; }
  // The message data, head filled in.
  std::string_view data();
  void clear();

 private:
  uint16_t statement_id_;
  size_t budget_;
  std::optional<LongValueForms> long_forms_;
  std::string data_;
  std::string entry_;
  unsigned sets_ = 0;
  unsigned per_set_ = 0;
  bool per_set_known_ = false;
};

// The reply to a parameter sets message.
struct SetsReply {
  enum Kind {
    Ran,         // run sets ran; the last failed when last_failed (items follow)
    HostErrors,  // the request failed as a whole: the items after the status digit
    Malformed,
  } kind = Malformed;
  int rc = 0;                 // the status digit's return code (HostErrors)
  unsigned run = 0;
  int64_t changed = 0;
  bool last_failed = false;
  std::string_view items;     // error items (failed set or whole request)
};
SetsReply read_sets_reply(std::string_view reply);

}  // namespace quarl::codec
