// The host's side of long and binary values (common/long_values.h), for
// clients that agreed to them at the login: how such values are written into
// rows, the values that parameter pieces bring before a statement request,
// and the two requests of the option (value pieces out, parameter pieces in).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "hostserver/module.h"
#include "hostserver/owned_bytes.h"
#include "hostserver/row_encoder.h"
#include "hostserver/type_mapping.h"

namespace hostserver {

class Session;

// How the session's columns are described.
WireTypes wire_types(Session& s);

// ---- rows ----

// A text or binary value of a column with the long forms: the classic form
// up to 999 bytes, else inline ("X") or, with apart, left on the host ("L",
// its length and UTF-16 units); went_apart tells which.
Encoded encode_long_value(RowWriter& out, const ColumnShape& shape, const CellView& cell, bool apart,
                          bool& went_apart);

// The bytes a text or binary column's value travels as (numbers as their text).
std::string_view long_value_bytes(const CellView& cell, char (&number)[32]);

// ---- parameter values sent apart ----

// The values a statement's parameter pieces have brought, by parameter
// number, until the next statement request takes them.  A piece that cannot
// be kept (too long, out of memory) leaves a failure in the value's place,
// which a request that names the value reports.
class ApartValues {
 public:
  // limit: the longest value; budget: what the client's statements may hold
  // together, session_bytes of which they hold already.
  void add(unsigned number, bool first, std::string_view bytes, uint64_t limit, uint64_t session_bytes,
           uint64_t budget);
  // The value of parameter number, which must be as long as its entry says;
  // false with problem set otherwise.
  bool take(unsigned number, uint64_t length, OwnedBytes& out, std::string& problem);
  uint64_t bytes() const { return bytes_; }
  // Forgets everything (when a statement request ends).
  void clear();

 private:
  struct Value {
    OwnedBytes bytes;
    std::string failure;
  };
  std::map<unsigned, Value> values_;
  uint64_t bytes_ = 0;
};

// The values a client's statements may hold for their next requests: this
// many times the value limit.
inline constexpr uint64_t kApartBudgetValues = 4;

struct HostStatement;
struct SqlContext;
struct ParamEntry;
// Gives each entry sent apart its value; false with problem set when one
// is missing or a piece failed.
bool take_apart_values(HostStatement& st, std::vector<ParamEntry>& entries, std::string& problem);

// Type 1 code 21 (value pieces) and 22 (parameter pieces).
void register_long_value_handlers(HandlerTable& table, const SqlContext& context);

}  // namespace hostserver
