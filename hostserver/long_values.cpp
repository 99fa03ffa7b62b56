#include "hostserver/long_values.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "common/long_values.h"
#include "common/number_text.h"
#include "common/utf.h"
#include "hostserver/server.h"
#include "hostserver/server_log.h"
#include "hostserver/session.h"
#include "hostserver/sql_session.h"

namespace hostserver {

namespace lv = quarl::longvalues;
namespace code = quarl::hostmsg::code;

WireTypes wire_types(Session& s) {
  uint64_t limit = s.server().options().max_value_bytes;
  return WireTypes{s.long_values(), static_cast<unsigned>(std::min<uint64_t>(limit, UINT_MAX))};
}

// ---- rows ----

std::string_view long_value_bytes(const CellView& cell, char (&number)[32]) {
  if (cell.kind == SQLITE_INTEGER) {
    auto r = std::to_chars(number, number + sizeof number, cell.integer);
    return std::string_view(number, static_cast<size_t>(r.ptr - number));
  }
  if (cell.kind == SQLITE_FLOAT) return std::string_view(number, quarl::write_double_text(number, cell.real));
  return cell.bytes;
}

Encoded encode_long_value(RowWriter& out, const ColumnShape& shape, const CellView& cell, bool apart,
                          bool& went_apart) {
  went_apart = false;
  if (cell.kind == SQLITE_NULL) return out.put('N') ? Encoded::Ok : Encoded::NoRoom;
  char number[32];
  std::string_view bytes = long_value_bytes(cell, number);
  size_t n = bytes.size();
  if (n <= lv::kMaxShort) {
    if (out.room() < 3 + n) return Encoded::NoRoom;
    char* p = out.take(3 + n);
    quarl::put_fixed_digits(p, 3, n);
    std::memcpy(p + 3, bytes.data(), n);
    return Encoded::Ok;
  }
  if (!apart) {
    if (out.room() < 1 + lv::kLengthDigits + n) return Encoded::NoRoom;
    char* p = out.take(1 + lv::kLengthDigits + n);
    *p = lv::kInline;
    quarl::put_fixed_digits(p + 1, lv::kLengthDigits, n);
    std::memcpy(p + 1 + lv::kLengthDigits, bytes.data(), n);
    return Encoded::Ok;
  }
  // Left on the host: its length, and the UTF-16 units a text makes, so
  // that a client reading it as wide characters knows their number.
  if (out.room() < 1 + 2 * lv::kLengthDigits) return Encoded::NoRoom;
  bool binary = shape.type == HostType::Binary || shape.type == HostType::VarBinary ||
                shape.type == HostType::LongVarBinary;
  uint64_t units = binary ? 0 : quarl::utf16_units_of(bytes.data(), n);
  char* p = out.take(1 + 2 * lv::kLengthDigits);
  *p = lv::kApart;
  quarl::put_fixed_digits(p + 1, lv::kLengthDigits, n);
  quarl::put_fixed_digits(p + 1 + lv::kLengthDigits, lv::kLengthDigits, units);
  went_apart = true;
  return Encoded::Ok;
}

// ---- parameter values sent apart ----

OwnedBytes::~OwnedBytes() { std::free(data_); }

void OwnedBytes::swap(OwnedBytes& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
}

bool OwnedBytes::append(std::string_view bytes) {
  if (bytes.size() > capacity_ - size_) {
    size_t want = std::max(size_ + bytes.size(), capacity_ < 4096 ? size_t{4096} : capacity_ * 2);
    void* grown = std::realloc(data_, want);
    if (!grown) return false;
    data_ = static_cast<char*>(grown);
    capacity_ = want;
  }
  if (!bytes.empty()) std::memcpy(data_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  return true;
}

char* OwnedBytes::release() {
  char* p = data_;
  data_ = nullptr;
  size_ = capacity_ = 0;
  return p;
}

void ApartValues::add(unsigned number, bool first, std::string_view bytes, uint64_t limit, uint64_t session_bytes,
                      uint64_t budget) {
  Value& v = values_[number];
  if (first) {
    bytes_ -= v.bytes.size();
    v = Value{};
  }
  if (!v.failure.empty()) return;  // the first failure is what a request reports
  std::string name = "Parameter " + std::to_string(number);
  auto fail = [&](std::string text) {
    bytes_ -= v.bytes.size();
    v.bytes = OwnedBytes();
    v.failure = std::move(text);
  };
  if (v.bytes.size() + bytes.size() > limit)
    return fail(name + ": the value is longer than the host stores (" + std::to_string(limit) + " bytes)");
  if (session_bytes + bytes.size() > budget)
    return fail(name + ": the values sent ahead of requests would exceed the " + std::to_string(budget) +
                " bytes the host keeps for a client");
  if (!v.bytes.append(bytes)) return fail(name + ": the host has no memory for its value");
  bytes_ += bytes.size();
}

bool ApartValues::take(unsigned number, uint64_t length, OwnedBytes& out, std::string& problem) {
  auto it = values_.find(number);
  if (it != values_.end() && !it->second.failure.empty()) {
    problem = it->second.failure;
    return false;
  }
  uint64_t got = it == values_.end() ? 0 : it->second.bytes.size();
  if (got != length) {
    problem = "Parameter " + std::to_string(number) + ": the host received " + std::to_string(got) +
              " bytes of its value, not the " + std::to_string(length) + " its entry announces";
    return false;
  }
  if (it != values_.end()) {
    bytes_ -= got;
    out = std::move(it->second.bytes);
    values_.erase(it);
  }
  return true;
}

void ApartValues::clear() {
  values_.clear();
  bytes_ = 0;
}

namespace {

// The bytes all statements of the client hold for their next requests.
uint64_t session_apart_bytes(const SqlSession& ss) {
  uint64_t n = 0;
  for (const auto& [id, st] : ss.statements) n += st->apart.bytes();
  return n;
}

// A client that did not agree to long values asked for them: the answer
// of any request the host does not know.
bool refused_unless_agreed(Session& s, const Request& r) {
  if (s.long_values()) return false;
  s.reply_error(r, kErrNotCapable,
                "Unknown request: type " + std::to_string(r.type) + " code " + std::to_string(r.code));
  return true;
}

bool read_number(std::string_view field, uint64_t& out) {
  out = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<uint64_t>(c - '0');
  }
  return !field.empty();
}

// Type 1 code 21: a piece of a value of the row the client has last been
// sent, left on the host because it was too long for a fetch.
void value_piece(const SqlContext& context, Session& s, Request& r) {
  if (refused_unless_agreed(s, r)) return;
  SqlSession* ss = sql_session(context, s, r);
  if (!ss) return;
  HostStatement* st = find_statement(*ss, s, r);
  if (!st) return;
  std::string_view d = r.data;
  uint64_t column = 0, offset = 0, length = 0;
  if (d.size() != lv::kPieceRequestSize || !read_number(d.substr(4, 4), column) ||
      !read_number(d.substr(8, 10), offset) || !read_number(d.substr(18, 10), length)) {
    s.reply_error(r, kErrArgument, "Malformed value piece request");
    return;
  }
  if (!st->cursor || !st->cursor->held_row_sent()) {
    s.reply_error(r, kErrSequence,
                  "Statement " + std::to_string(st->id) + " holds no value on the host: its row was fetched past");
    return;
  }
  const std::vector<ColumnShape>& columns = st->cursor->columns();
  if (column < 1 || column > columns.size() || !columns[column - 1].long_forms) {
    s.reply_error(r, kErrColumnNumber, "Column " + std::to_string(column) + " has no text or binary value to read");
    return;
  }
  CellView cell = st->cursor->held_cell(column - 1);
  char number[32];
  std::string_view bytes = cell.kind == SQLITE_NULL ? std::string_view() : long_value_bytes(cell, number);
  uint64_t start = std::min<uint64_t>(offset, bytes.size());
  std::string_view wanted = bytes.substr(start, std::min<uint64_t>(length, bytes.size() - start));
  // As many messages as the piece takes; a cancel of the statement stops them.
  size_t per_message = s.max_data() - 2;
  ss->working_on = static_cast<int>(st->id);
  struct Done {
    SqlSession& ss;
    ~Done() { ss.working_on = -1; }
  } done{*ss};
  std::string message;
  do {
    if (cancelled(*ss)) {
      s.reply_error(r, kErrCanceled, "The statement was cancelled while a value was read");
      return;
    }
    size_t n = std::min(per_message, wanted.size());
    message.assign(1, kStatusOk);
    message += n == wanted.size() ? '1' : '0';
    message.append(wanted.substr(0, n));
    s.reply(r, message);
    wanted.remove_prefix(n);
  } while (!wanted.empty());
}

// Type 1 code 22: a piece of a parameter value for the statement's next
// request.  Never answered (a failure is the request's to report).
void param_piece(Session& s, Request& r) {
  if (refused_unless_agreed(s, r)) return;
  try {
    SqlSession* ss = s.find_data<SqlSession>();
    std::string_view d = r.data;
    uint64_t id = 0, number = 0;
    if (!ss || !ss->db || d.size() < lv::kParamPieceHead || !read_number(d.substr(0, 4), id)) return;
    auto it = ss->statements.find(static_cast<unsigned>(id));
    if (it == ss->statements.end()) return;  // the request will miss the value
    ApartValues& apart = it->second->apart;
    // A piece that names no parameter is dropped: the request misses its bytes.
    if (!read_number(d.substr(4, 4), number) || number == 0 || (d[8] != '0' && d[8] != '1')) return;
    uint64_t limit = s.server().options().max_value_bytes;
    apart.add(static_cast<unsigned>(number), d[8] == '1', d.substr(lv::kParamPieceHead), limit,
              session_apart_bytes(*ss), kApartBudgetValues * limit);
  } catch (const std::exception& e) {
    log_line("error", "#" + std::to_string(s.id()) + " " + s.peer() + " parameter piece: " + e.what());
  }
}

}  // namespace

bool take_apart_values(HostStatement& st, std::vector<ParamEntry>& entries, std::string& problem) {
  for (auto& e : entries)
    if (e.apart && !e.null && !st.apart.take(e.number, e.apart_length, e.owned, problem)) return false;
  return true;
}

void register_long_value_handlers(HandlerTable& table, const SqlContext& context) {
  table.add(quarl::hostmsg::kDatabase, code::kValuePiece,
            [&context](Session& s, Request& r) { value_piece(context, s, r); });
  table.add(quarl::hostmsg::kDatabase, code::kParamPiece, param_piece);
}

}  // namespace hostserver
