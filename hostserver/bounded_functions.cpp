#include "hostserver/bounded_functions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "hostserver/database.h"

namespace hostserver {

namespace {

// Counts the bytes a call has compared and asks the client, every few
// million, whether its work must stop.
class Meter {
 public:
  explicit Meter(sqlite3_context* context) : client_(static_cast<ClientDb*>(sqlite3_user_data(context))) {}
  // True when the call must end now.
  bool add(uint64_t work) {
    done_ += work;
    if (done_ < kCheckEvery) return false;
    done_ = 0;
    return client_->must_stop();
  }

 private:
  static constexpr uint64_t kCheckEvery = uint64_t{1} << 22;
  ClientDb* client_;
  uint64_t done_ = 0;
};

void stopped(sqlite3_context* context) { sqlite3_result_error_code(context, SQLITE_INTERRUPT); }

// instr(X, Y): the place of Y's first occurrence in X, in characters (in
// bytes when both are blobs), 0 when it does not occur.
void bounded_instr(sqlite3_context* context, int, sqlite3_value** argv) {
  int haystack_type = sqlite3_value_type(argv[0]), needle_type = sqlite3_value_type(argv[1]);
  if (haystack_type == SQLITE_NULL || needle_type == SQLITE_NULL) return;
  int64_t haystack_length = sqlite3_value_bytes(argv[0]), needle_length = sqlite3_value_bytes(argv[1]);
  int64_t position = 1;
  sqlite3_value* copies[2] = {nullptr, nullptr};
  auto done = [&] {
    sqlite3_value_free(copies[0]);
    sqlite3_value_free(copies[1]);
  };
  if (needle_length > 0) {
    const unsigned char* haystack;
    const unsigned char* needle;
    bool text = true;
    if (haystack_type == SQLITE_BLOB && needle_type == SQLITE_BLOB) {
      haystack = static_cast<const unsigned char*>(sqlite3_value_blob(argv[0]));
      needle = static_cast<const unsigned char*>(sqlite3_value_blob(argv[1]));
      text = false;
    } else if (haystack_type != SQLITE_BLOB && needle_type != SQLITE_BLOB) {
      haystack = sqlite3_value_text(argv[0]);
      needle = sqlite3_value_text(argv[1]);
    } else {
      // A blob against text: both as text.
      copies[0] = sqlite3_value_dup(argv[0]);
      haystack = sqlite3_value_text(copies[0]);
      haystack_length = sqlite3_value_bytes(copies[0]);
      copies[1] = sqlite3_value_dup(argv[1]);
      needle = sqlite3_value_text(copies[1]);
      needle_length = sqlite3_value_bytes(copies[1]);
    }
    if (!needle || (haystack_length && !haystack)) {
      sqlite3_result_error_nomem(context);
      return done();
    }
    Meter meter(context);
    const unsigned char first = needle[0];
    while (needle_length <= haystack_length &&
           (haystack[0] != first || std::memcmp(haystack, needle, static_cast<size_t>(needle_length)) != 0)) {
      if (meter.add(haystack[0] == first ? static_cast<uint64_t>(needle_length) : 1)) {
        stopped(context);
        return done();
      }
      ++position;
      do {
        --haystack_length;
        ++haystack;
      } while (text && (haystack[0] & 0xc0) == 0x80);
    }
    if (needle_length > haystack_length) position = 0;
  }
  sqlite3_result_int64(context, position);
  done();
}

// replace(X, Y, Z): X with every occurrence of Y replaced by Z; X itself
// when Y is empty.
void bounded_replace(sqlite3_context* context, int, sqlite3_value** argv) {
  const unsigned char* source = sqlite3_value_text(argv[0]);
  if (!source) return;
  const int64_t source_length = sqlite3_value_bytes(argv[0]);
  const unsigned char* pattern = sqlite3_value_text(argv[1]);
  if (!pattern) return;
  if (pattern[0] == 0) {
    sqlite3_result_value(context, argv[0]);
    return;
  }
  const int64_t pattern_length = sqlite3_value_bytes(argv[1]);
  const unsigned char* replacement = sqlite3_value_text(argv[2]);
  if (!replacement) return;
  const int replacement_length = sqlite3_value_bytes(argv[2]);
  // Built in SQLite's memory, under the client's budget and length limit.
  sqlite3_str* out = sqlite3_str_new(sqlite3_context_db_handle(context));
  Meter meter(context);
  int64_t at = 0, kept_from = 0;
  auto keep = [&](int64_t until) {
    if (until > kept_from)
      sqlite3_str_append(out, reinterpret_cast<const char*>(source + kept_from), static_cast<int>(until - kept_from));
  };
  while (at <= source_length - pattern_length) {
    bool may_match = source[at] == pattern[0];
    if (meter.add(may_match ? static_cast<uint64_t>(pattern_length) : 1)) {
      sqlite3_free(sqlite3_str_finish(out));
      return stopped(context);
    }
    if (may_match && std::memcmp(source + at, pattern, static_cast<size_t>(pattern_length)) == 0) {
      keep(at);
      sqlite3_str_append(out, reinterpret_cast<const char*>(replacement), replacement_length);
      at += pattern_length;
      kept_from = at;
    } else {
      ++at;
    }
  }
  keep(source_length);
  int error = sqlite3_str_errcode(out);
  int length = sqlite3_str_length(out);
  char* text = sqlite3_str_finish(out);
  if (error == SQLITE_TOOBIG) return sqlite3_result_error_toobig(context);
  if (error != SQLITE_OK) return sqlite3_result_error_nomem(context);
  if (!text) return sqlite3_result_text(context, "", 0, SQLITE_STATIC);
  sqlite3_result_text(context, text, length, sqlite3_free);
}

// The length of the UTF-8 character at p as SQLite's trim takes it: a byte
// of 0xc0 or more takes the continuation bytes after it.
size_t character_length(const unsigned char* p) {
  const unsigned char* q = p;
  if (*q++ >= 0xc0)
    while ((*q & 0xc0) == 0x80) ++q;
  return static_cast<size_t>(q - p);
}

// trim, ltrim, rtrim (X[, Y]): X without the characters of Y (a blank
// without Y) at its start, its end or both; of characters listed more than
// once, or that begin alike, the first listed counts.
template <bool kFromStart, bool kFromEnd>
void bounded_trim(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
  const unsigned char* in = sqlite3_value_text(argv[0]);
  if (!in) return;
  int64_t in_length = sqlite3_value_bytes(argv[0]);
  const unsigned char* set = argc == 1 ? reinterpret_cast<const unsigned char*>(" ") : sqlite3_value_text(argv[1]);
  if (!set) return;
  if (*set == 0) {
    sqlite3_result_text(context, reinterpret_cast<const char*>(in), static_cast<int>(in_length), SQLITE_TRANSIENT);
    return;
  }
  size_t set_length = std::strlen(reinterpret_cast<const char*>(set));
  // A short list (the usual blank or a few characters) is scanned, as SQLite
  // does: that costs little per character and builds nothing per call.  Up
  // to kLookedUp different characters of a longer list are looked up by
  // their bytes; a list longer still is scanned with the time budget
  // watching.
  constexpr size_t kScanned = 32;
  constexpr size_t kLookedUp = 4096;
  std::unordered_map<std::string_view, size_t> characters;
  std::vector<size_t> lengths;
  try {
    for (size_t at = 0, index = 0; set_length > kScanned && at < set_length && characters.size() <= kLookedUp;
         ++index) {
      size_t length = character_length(set + at);
      if (characters.emplace(std::string_view(reinterpret_cast<const char*>(set + at), length), index).second &&
          std::find(lengths.begin(), lengths.end(), length) == lengths.end())
        lengths.push_back(length);
      at += length;
    }
  } catch (const std::bad_alloc&) {
    return sqlite3_result_error_nomem(context);
  }
  const bool scan = set_length <= kScanned || characters.size() > kLookedUp;
  Meter meter(context);
  // The length of the listed character at the start (or end) of the rest,
  // the earliest listed when several are; 0 when none is there.
  auto listed_at = [&](bool at_end, bool& stop) -> size_t {
    auto matches = [&](const unsigned char* character, size_t length) {
      if (static_cast<int64_t>(length) > in_length) return false;
      const unsigned char* where = at_end ? in + in_length - static_cast<int64_t>(length) : in;
      return std::memcmp(where, character, length) == 0;
    };
    if (scan) {
      stop = meter.add(set_length);
      for (size_t at = 0; at < set_length;) {
        size_t length = character_length(set + at);
        if (matches(set + at, length)) return length;
        at += length;
      }
      return 0;
    }
    size_t best_index = SIZE_MAX, best_length = 0;
    stop = meter.add(lengths.size());
    for (size_t length : lengths) {
      if (static_cast<int64_t>(length) > in_length) continue;
      const char* where = reinterpret_cast<const char*>(at_end ? in + in_length - static_cast<int64_t>(length) : in);
      auto found = characters.find(std::string_view(where, length));
      if (found != characters.end() && found->second < best_index) best_index = found->second, best_length = length;
    }
    return best_length;
  };
  bool stop = false;
  if constexpr (kFromStart)
    while (in_length > 0) {
      size_t length = listed_at(false, stop);
      if (stop) return stopped(context);
      if (length == 0) break;
      in += length;
      in_length -= static_cast<int64_t>(length);
    }
  if constexpr (kFromEnd)
    while (in_length > 0) {
      size_t length = listed_at(true, stop);
      if (stop) return stopped(context);
      if (length == 0) break;
      in_length -= static_cast<int64_t>(length);
    }
  sqlite3_result_text(context, reinterpret_cast<const char*>(in), static_cast<int>(in_length), SQLITE_TRANSIENT);
}

}  // namespace

bool install_bounded_functions(sqlite3* db, ClientDb* client) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  struct Function {
    const char* name;
    int arguments;
    void (*call)(sqlite3_context*, int, sqlite3_value**);
  } functions[] = {
      {"instr", 2, bounded_instr},
      {"replace", 3, bounded_replace},
      {"trim", 1, bounded_trim<true, true>},
      {"trim", 2, bounded_trim<true, true>},
      {"ltrim", 1, bounded_trim<true, false>},
      {"ltrim", 2, bounded_trim<true, false>},
      {"rtrim", 1, bounded_trim<false, true>},
      {"rtrim", 2, bounded_trim<false, true>},
  };
  for (const auto& f : functions)
    if (sqlite3_create_function_v2(db, f.name, f.arguments, kFlags, client, f.call, nullptr, nullptr, nullptr) !=
        SQLITE_OK)
      return false;
  return true;
}

}  // namespace hostserver
