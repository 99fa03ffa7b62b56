#include "driver/codec/request.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "driver/codec/param_entry.h"
#include "driver/codec/sql_text.h"

namespace quarl::codec {

StatementRequest::StatementRequest(uint16_t statement_id, unsigned code, std::optional<std::string_view> text,
                                   size_t budget, std::optional<LongValueForms> long_forms)
    : statement_id_(statement_id), code_(code), text_(text), budget_(budget), long_forms_(long_forms) {
  if (long_forms_) long_forms_->inline_room = budget_ > kRequestHead ? budget_ - kRequestHead : 0;
}

std::optional<Diag> StatementRequest::start(std::span<const ParamRecord> params) noexcept {
  if (budget_ <= kRequestHead) return Diag{kErrGeneral, "Message size too small for statement requests"};
  if (code_ == hostmsg::code::kPrepare) return std::nullopt;
  try {
    size_t room = budget_ - kRequestHead;
    size_t text_size = text_ ? text_->size() : 0;
    for (size_t i = 0; i < params.size(); ++i) {
      if (!is_bound(params[i])) continue;
      int number = static_cast<int>(i + 1);
      size_t before = entries_.size();
      // A long value goes inline while the request stays one message (one
      // reply); past that it goes ahead in pieces, which are not answered.
      if (long_forms_) {
        size_t taken = before + text_size + kMinFreeForEntry;  // a message that full is closed
        long_forms_->inline_room = taken < room ? room - taken : 0;
      }
      if (auto d = encode_parameter(number, params[i], entries_, long_forms_ ? &*long_forms_ : nullptr, &apart_))
        return d;
      if (entries_.size() - before > room)
        return Diag{kErrGeneral, "Parameter " + std::to_string(number) + " does not fit a message"};
      entry_ends_.push_back(entries_.size());
    }
  } catch (const std::bad_alloc&) {
    return Diag{kErrMemory, {}};
  }
  return std::nullopt;
}

size_t StatementRequest::build_next(char* out) {
  put_digits(out, 4, statement_id_);
  out[4] = first_ ? '1' : '0';
  size_t used = kRequestHead;
  size_t free = budget_ - kRequestHead;
  unsigned count = 0;
  while (next_entry_ < entry_ends_.size()) {
    size_t begin = next_entry_ == 0 ? 0 : entry_ends_[next_entry_ - 1];
    size_t size = entry_ends_[next_entry_] - begin;
    if (size > free) break;  // taken back: this parameter opens the next message
    std::memcpy(out + used, entries_.data() + begin, size);
    used += size;
    free -= size;
    ++count;
    ++next_entry_;
    if (free < kMinFreeForEntry) break;
  }
  bool last = false;
  if (next_entry_ == entry_ends_.size()) {
    if (text_) {
      size_t n = std::min(text_->size() - text_sent_, free);
      copy_blanking_controls(out + used, text_->data() + text_sent_, n);
      used += n;
      text_sent_ += n;
      last = text_sent_ == text_->size();
    } else {
      last = true;
    }
  }
  out[5] = last ? '1' : '0';
  put_digits(out + 6, 4, count);
  first_ = false;
  finished_ = last;
  return used;
}

SetsMessage::SetsMessage(uint16_t statement_id, size_t budget, std::optional<LongValueForms> long_forms)
    : statement_id_(statement_id), budget_(budget), long_forms_(long_forms) {
  if (long_forms_) long_forms_->inline_room = budget_ > kSetsHead ? budget_ - kSetsHead : 0;
  clear();
}

void SetsMessage::clear() {
  data_.assign(kSetsHead, '0');
  sets_ = 0;
}

SetsMessage::Add SetsMessage::add(std::span<const ParamRecord> params, std::optional<Diag>& diag) {
  entry_.clear();
  unsigned count = 0;
  for (size_t i = 0; i < params.size(); ++i) {
    if (!is_bound(params[i])) continue;
    if (auto d = encode_parameter(static_cast<int>(i + 1), params[i], entry_, long_forms_ ? &*long_forms_ : nullptr)) {
      diag = std::move(d);
      return Add::Failed;
    }
    ++count;
  }
  if (per_set_known_ && count != per_set_) {
    diag = Diag{kErrGeneral, "Every parameter set must bind the same parameters"};
    return Add::Failed;
  }
  if (kSetsHead + entry_.size() > budget_) return Add::TooLarge;
  if (data_.size() + entry_.size() > budget_) return Add::Full;
  per_set_ = count;
  per_set_known_ = true;
  data_ += entry_;
  ++sets_;
  return Add::Added;
}

std::string_view SetsMessage::data() {
  put_digits(data_.data(), 4, statement_id_);
  put_digits(data_.data() + 4, 4, sets_);
  put_digits(data_.data() + 8, 4, per_set_);
  return data_;
}

SetsReply read_sets_reply(std::string_view reply) {
  SetsReply r;
  if (reply.empty()) return r;
  r.rc = hostmsg::host_rc(reply[0]);
  if (r.rc == hostmsg::kRcError || r.rc == hostmsg::kRcSuccessWithInfo) {
    r.kind = SetsReply::HostErrors;
    r.items = reply.substr(1);
    return r;
  }
  // "0", sets run (4), rows changed ('-' or a digit, then 10 digits... as
  // the row count of a describe reply), the last set's status digit.
  std::string_view d = reply.substr(1);
  if (d.size() < 4) return r;
  r.run = static_cast<unsigned>(get_digits(d.data(), 4));
  d.remove_prefix(4);
  bool negative = !d.empty() && d[0] == '-';
  if (d.size() < (negative ? 12u : 11u)) return r;
  int64_t changed = 0;
  for (char c : d.substr(negative ? 1 : 0, 10)) changed = changed * 10 + (c - '0');
  r.changed = negative ? -changed : changed;
  d.remove_prefix(negative ? 11 : 10);
  r.last_failed = hostmsg::host_rc(d[0]) == hostmsg::kRcError;
  r.items = d.substr(1);
  r.kind = SetsReply::Ran;
  return r;
}

StatementRequest::ReplyStep StatementRequest::on_reply(std::string_view reply) const {
  if (reply.empty()) return {ReplyStep::Malformed, hostmsg::kRcError};
  int rc = hostmsg::host_rc(reply[0]);
  if (rc == hostmsg::kRcError || rc == hostmsg::kRcSuccessWithInfo) return {ReplyStep::HostErrors, rc};
  if (!finished_ && reply.size() == 1) return {ReplyStep::SendNext, rc};
  return {ReplyStep::Describe, rc};
}

}  // namespace quarl::codec
