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
  StatementRequest(uint16_t statement_id, unsigned code, std::optional<std::string_view> text,
                   size_t budget = kRequestBudget);

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
  std::string entries_;              // every entry, back to back
  std::vector<size_t> entry_ends_;   // end offset of each entry in entries_
  size_t next_entry_ = 0;
  size_t text_sent_ = 0;
  bool first_ = true;
  bool finished_ = false;
};

}  // namespace quarl::codec
