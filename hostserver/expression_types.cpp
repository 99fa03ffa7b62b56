// The program of a statement is read as EXPLAIN lists it, and what each
// register can hold is followed through it (a forward data-flow over the
// program's jumps, to a fixed point): literals, table columns (by their
// declared types), arithmetic, functions and aggregates by what SQLite
// documents they return, and values that pass through sorters and temporary
// tables as the records they were built from.  Anything the analysis does
// not know makes the result "anything"; an opcode it does not know makes the
// whole analysis give up, so that a later SQLite can only make descriptions
// wider, never wrong.
#include "hostserver/expression_types.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace hostserver {
namespace {

using K = ValueKinds;
constexpr uint8_t kNumber = K::kInteger | K::kReal;

// ---- abstract values ----

// What one register can hold at one point of the program.
struct Abs {
  uint8_t bits = 0;
  // -1: nothing known yet (or a NULL, which fits any column); -2: computed
  // or mixed; >= 0: the value of the declared column columns[tag].
  int16_t tag = -1;
  uint64_t records = 0;  // MakeRecord results it can be (bit per record)

  bool operator==(const Abs& o) const { return bits == o.bits && tag == o.tag && records == o.records; }
  bool operator!=(const Abs& o) const { return !(*this == o); }
};

constexpr int16_t kNoTag = -1, kComputed = -2;

Abs join(const Abs& a, const Abs& b) {
  Abs r;
  r.bits = a.bits | b.bits;
  r.records = a.records | b.records;
  if (a.tag == kNoTag) r.tag = b.tag;
  else if (b.tag == kNoTag || a.tag == b.tag) r.tag = a.tag;
  else r.tag = kComputed;
  return r;
}

Abs computed(uint8_t bits) { return Abs{bits, kComputed, 0}; }
Abs null_value() { return Abs{K::kNull, kNoTag, 0}; }

// The storage classes a value can be converted to in arithmetic.
uint8_t numeric_of(uint8_t bits) {
  uint8_t r = bits & kNumber;
  if (bits & (K::kText | K::kBlob | K::kAny)) r |= kNumber;
  return r;
}

bool may_be_null(uint8_t bits) { return (bits & (K::kNull | K::kAny)) != 0 || bits == 0; }

// +, -, *, / and %: integers stay integers (an overflow turns into a real,
// which the column then refuses as too large), any real makes a real.
Abs arithmetic(const Abs& a, const Abs& b) {
  uint8_t x = numeric_of(a.bits), y = numeric_of(b.bits);
  uint8_t r = 0;
  if (x && y) {
    if ((x & K::kInteger) && (y & K::kInteger)) r |= K::kInteger;
    if ((x | y) & K::kReal) r |= K::kReal;
  }
  // A NULL operand, or a division by zero, gives NULL.
  r |= K::kNull;
  return computed(r);
}

// ---- the program ----

enum class Op : uint8_t {
  Unknown,
  // Jumps and control.
  Init, Goto, Gosub, Return, InitCoroutine, Yield, EndCoroutine, Jump, Halt, HaltIfNull,
  // Conditional jumps to P2 that write no register.
  Branch,
  // Opcodes that write no register and do not jump.
  Quiet,
  // Writers.
  Integer, Int64, Real, String, Blob, Null, BeginSubrtn, SoftNull, Variable, Move, Copy, SCopy, IntCopy,
  Column, Rowid, IdxRowid, Sequence, NewRowid, Count, Offset, OffsetLimit, RowData, SorterData, MakeRecord,
  Function, AggStep, AggFinal, AggValue, Add, Subtract, Multiply, Divide, Remainder, BitAnd, BitOr, ShiftLeft,
  ShiftRight, BitNot, Not, IsTrue, ZeroOrNull, AddImm, MustBeInt, RealAffinity, Cast, Affinity, Concat, CollSeq,
  MemMax, IfPos, IfNotZero, DecrJumpZero, IfNullRow, VColumn, Param, ReadCookie, Pagecount, MaxPgcnt, JournalMode,
  // Cursors.
  OpenRead, OpenWrite, ReopenIdx, OpenEphemeral, OpenAutoindex, SorterOpen, OpenPseudo, OpenDup, VOpen, IdxInsert,
  SorterInsert, Insert, ResultRow,
};

const std::unordered_map<std::string_view, Op>& opcodes() {
  static const std::unordered_map<std::string_view, Op> table = [] {
    std::unordered_map<std::string_view, Op> t;
    for (const char* name : {"If", "IfNot", "IsType", "SeekLT", "SeekLE", "SeekGE", "SeekGT", "IfNotOpen", "IfNoHope",
                             "NoConflict", "NotFound", "Found", "SeekRowid", "NotExists", "Last", "IfSmaller",
                             "SorterSort", "Sort", "Rewind", "IsNull", "NotNull", "Ne", "Eq", "Gt", "Le", "Lt", "Ge",
                             "ElseEq", "SorterNext", "Prev", "Next", "IdxLE", "IdxGT", "IdxLT", "IdxGE", "RowSetTest",
                             "FkIfZero", "VNext", "VFilter", "Filter", "Once", "SeekScan", "SequenceTest",
                             "SorterCompare", "Program"})
      t.emplace(name, Op::Branch);
    for (const char* name : {"Savepoint", "AutoCommit", "Transaction", "Compare", "Permutation", "TypeCheck",
                             "SetCookie", "Close", "ColumnsUsed", "SeekHit", "RowCell", "Delete", "ResetCount",
                             "NullRow", "SeekEnd", "IdxDelete", "DeferredSeek", "FinishSeek", "Clear", "ResetSorter",
                             "RowSetAdd", "FkCounter", "FkCheck", "Expire", "CursorLock", "CursorUnlock", "TableLock",
                             "VBegin", "ClrSubtype", "FilterAdd", "Trace", "CursorHint", "ReleaseReg", "Noop",
                             "Explain", "Abortable", "AggInverse", "LoadAnalysis", "ParseSchema", "SqlExec"})
      t.emplace(name, Op::Quiet);
    const std::pair<const char*, Op> named[] = {
        {"Init", Op::Init}, {"Goto", Op::Goto}, {"Gosub", Op::Gosub}, {"Return", Op::Return},
        {"InitCoroutine", Op::InitCoroutine}, {"Yield", Op::Yield}, {"EndCoroutine", Op::EndCoroutine},
        {"Jump", Op::Jump}, {"Halt", Op::Halt}, {"HaltIfNull", Op::HaltIfNull}, {"Integer", Op::Integer},
        {"Int64", Op::Int64}, {"Real", Op::Real}, {"String8", Op::String}, {"String", Op::String},
        {"Blob", Op::Blob}, {"Null", Op::Null}, {"BeginSubrtn", Op::BeginSubrtn}, {"SoftNull", Op::SoftNull},
        {"Variable", Op::Variable}, {"Move", Op::Move}, {"Copy", Op::Copy}, {"SCopy", Op::SCopy},
        {"IntCopy", Op::IntCopy}, {"Column", Op::Column}, {"Rowid", Op::Rowid}, {"IdxRowid", Op::IdxRowid},
        {"Sequence", Op::Sequence}, {"NewRowid", Op::NewRowid}, {"Count", Op::Count}, {"Offset", Op::Offset},
        {"OffsetLimit", Op::OffsetLimit}, {"RowData", Op::RowData}, {"SorterData", Op::SorterData},
        {"MakeRecord", Op::MakeRecord}, {"Function", Op::Function}, {"PureFunc", Op::Function},
        {"AggStep", Op::AggStep}, {"AggStep1", Op::AggStep}, {"AggFinal", Op::AggFinal},
        {"AggValue", Op::AggValue}, {"Add", Op::Add}, {"Subtract", Op::Subtract}, {"Multiply", Op::Multiply},
        {"Divide", Op::Divide}, {"Remainder", Op::Remainder}, {"BitAnd", Op::BitAnd}, {"BitOr", Op::BitOr},
        {"ShiftLeft", Op::ShiftLeft}, {"ShiftRight", Op::ShiftRight}, {"BitNot", Op::BitNot}, {"Not", Op::Not},
        {"IsTrue", Op::IsTrue}, {"ZeroOrNull", Op::ZeroOrNull}, {"AddImm", Op::AddImm},
        {"MustBeInt", Op::MustBeInt}, {"RealAffinity", Op::RealAffinity}, {"Cast", Op::Cast},
        {"Affinity", Op::Affinity}, {"Concat", Op::Concat}, {"CollSeq", Op::CollSeq}, {"MemMax", Op::MemMax},
        {"IfPos", Op::IfPos}, {"IfNotZero", Op::IfNotZero}, {"DecrJumpZero", Op::DecrJumpZero},
        {"IfNullRow", Op::IfNullRow}, {"VColumn", Op::VColumn}, {"Param", Op::Param},
        {"ReadCookie", Op::ReadCookie}, {"Pagecount", Op::Pagecount}, {"MaxPgcnt", Op::MaxPgcnt},
        {"JournalMode", Op::JournalMode}, {"OpenRead", Op::OpenRead}, {"OpenWrite", Op::OpenWrite},
        {"ReopenIdx", Op::ReopenIdx}, {"OpenEphemeral", Op::OpenEphemeral}, {"OpenAutoindex", Op::OpenAutoindex},
        {"SorterOpen", Op::SorterOpen}, {"OpenPseudo", Op::OpenPseudo}, {"OpenDup", Op::OpenDup},
        {"VOpen", Op::VOpen}, {"IdxInsert", Op::IdxInsert}, {"SorterInsert", Op::SorterInsert},
        {"Insert", Op::Insert}, {"ResultRow", Op::ResultRow},
    };
    for (auto& [name, op] : named) t.emplace(name, op);
    return t;
  }();
  return table;
}

struct Insn {
  Op op;
  int p1, p2, p3;
  std::string p4;
  int p5;
};

// The greatest register an instruction touches, or -1.
int highest_register(const Insn& i) {
  switch (i.op) {
    case Op::Integer: case Op::Int64: case Op::Real: case Op::String: case Op::Blob: case Op::Variable:
    case Op::Rowid: case Op::IdxRowid: case Op::Sequence: case Op::NewRowid: case Op::Count: case Op::RowData:
    case Op::BeginSubrtn: case Op::ReadCookie: case Op::Pagecount: case Op::MaxPgcnt: case Op::JournalMode:
    case Op::OpenPseudo:
      return i.p2;
    case Op::Null: return std::max(i.p2, i.p3);
    case Op::Move: return std::max(i.p1, i.p2) + i.p3;
    case Op::Copy: return std::max(i.p1, i.p2) + i.p3 + 1;
    case Op::SCopy: case Op::IntCopy: case Op::BitNot: case Op::Not: case Op::IsTrue: case Op::ZeroOrNull:
      return std::max(i.p1, i.p2);
    case Op::Column: case Op::Offset: case Op::VColumn: case Op::Param: case Op::IfNullRow: return i.p3;
    case Op::OffsetLimit: return std::max({i.p1, i.p2, i.p3});
    case Op::SorterData: case Op::IdxInsert: case Op::SorterInsert: case Op::Insert: return i.p2;
    case Op::MakeRecord: return std::max(i.p1 + i.p2, i.p3);
    case Op::Function: return std::max(i.p2 + std::max(0, std::atoi(i.p4.c_str() + std::min(i.p4.size(), i.p4.find('(') + 1))) - 1, i.p3);
    case Op::AggStep: return std::max(i.p2 + i.p5, i.p3);
    case Op::AggFinal: return i.p1;
    case Op::AggValue: return std::max(i.p1, i.p3);
    case Op::Add: case Op::Subtract: case Op::Multiply: case Op::Divide: case Op::Remainder: case Op::BitAnd:
    case Op::BitOr: case Op::ShiftLeft: case Op::ShiftRight: case Op::Concat:
      return std::max({i.p1, i.p2, i.p3});
    case Op::AddImm: case Op::MustBeInt: case Op::RealAffinity: case Op::Cast: case Op::CollSeq: case Op::MemMax:
    case Op::IfPos: case Op::IfNotZero: case Op::DecrJumpZero: case Op::Gosub: case Op::Return:
    case Op::InitCoroutine: case Op::Yield: case Op::EndCoroutine:
      return i.op == Op::MemMax ? std::max(i.p1, i.p2) : i.p1;
    case Op::Affinity: return i.p1 + i.p2;
    case Op::ResultRow: return i.p1 + i.p2;
    default: return -1;
  }
}

// Function name and argument count from P4 ("upper(1)").
std::pair<std::string, int> function_of(const std::string& p4) {
  size_t open = p4.find('(');
  std::string name = p4.substr(0, open);
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  int args = open == std::string::npos ? 0 : std::atoi(p4.c_str() + open + 1);
  return {name, args};
}

bool one_of(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// What a scalar function or an aggregate returns, from its arguments.
Abs function_result(const std::string& name, const std::vector<Abs>& args) {
  auto arg = [&](size_t i) { return i < args.size() ? args[i] : computed(K::kAny); };
  auto all_args = [&] {
    Abs r;
    for (auto& a : args) r = join(r, a);
    return r;
  };
  if (one_of(name, {"count", "length", "octet_length", "instr", "unicode", "random", "changes", "total_changes",
                    "last_insert_rowid", "sign", "glob", "like", "row_number", "rank", "dense_rank", "ntile",
                    "json_array_length", "json_valid", "unixepoch", "sqlite_compileoption_used"}))
    return computed(K::kInteger | K::kNull);
  if (one_of(name, {"avg", "total", "round", "julianday", "pi", "sqrt", "exp", "ln", "log", "log2", "log10", "pow",
                    "power", "mod", "degrees", "radians", "sin", "cos", "tan", "asin", "acos", "atan", "atan2",
                    "asinh", "acosh", "atanh", "sinh", "cosh", "tanh", "percent_rank", "cume_dist"}))
    return computed(K::kReal | K::kNull);
  if (one_of(name, {"upper", "lower", "trim", "ltrim", "rtrim", "replace", "printf", "format", "quote", "hex",
                    "char", "date", "time", "datetime", "strftime", "typeof", "group_concat", "string_agg",
                    "sqlite_version", "sqlite_source_id", "soundex", "concat", "concat_ws", "json", "json_array",
                    "json_object", "json_quote", "json_type", "json_patch", "json_remove", "json_replace",
                    "json_set", "json_insert", "json_group_array", "json_group_object", "timediff",
                    "sqlite_compileoption_get"}))
    return computed(K::kText | K::kNull);
  if (one_of(name, {"randomblob", "zeroblob", "unhex"})) return computed(K::kBlob | K::kNull);
  // The value of the first argument, unchanged.
  if (one_of(name, {"nullif", "likely", "unlikely", "likelihood", "lag", "lead", "first_value", "last_value",
                    "nth_value"}))
    return join(arg(0), null_value());
  // One of the arguments, unchanged.
  if (one_of(name, {"min", "max", "coalesce", "ifnull", "iif"})) return join(all_args(), null_value());
  // The rest depend on what their first argument can be; while nothing is
  // known of it yet, nothing is known of them (the flow comes back later).
  uint8_t first = arg(0).bits;
  if (first == 0) return Abs{};
  if (one_of(name, {"substr", "substring"}))
    return computed(((first & K::kBlob) ? K::kBlob : 0) | ((first & ~K::kBlob & ~K::kNull) ? K::kText : 0) |
                    K::kNull);
  if (one_of(name, {"abs", "ceil", "ceiling", "floor", "trunc", "sum"})) {
    uint8_t n = numeric_of(first);
    if (name != "abs" && name != "sum" && (n & K::kReal) == 0 && n != 0) n = K::kInteger;
    return computed(n | K::kNull);
  }
  return computed(K::kAny);
}

// The storage classes a declared column's values are taken to have.
uint8_t value_bits(const ColumnShape& shape) {
  switch (shape.type) {
    case HostType::Bit: case HostType::BigInt: case HostType::Integer: case HostType::SmallInt:
      return K::kInteger | K::kNull;
    case HostType::Double: return kNumber | K::kNull;
    case HostType::Numeric: return (shape.scale == 0 ? K::kInteger : kNumber) | K::kNull;
    case HostType::LongVarchar: return (shape.hex ? K::kBlob : K::kText) | K::kNull;
    default: return K::kText | K::kNull;
  }
}

// A table or index opened by root page: what Column reads from it.
struct Source {
  bool known = false;
  std::vector<Abs> columns;
};

class Analysis {
 public:
  Analysis(sqlite3* db, std::vector<Insn> program, int registers, int result_columns)
      : db_(db), program_(std::move(program)), registers_(registers), result_columns_(result_columns) {}

  bool run(std::vector<ValueKinds>& out);

 private:
  // ---- schema ----
  std::string schema_name(int database);
  Source open_source(int database, int root_page);
  int16_t shape_tag(const std::string& declared);

  // ---- flow ----
  void successors(size_t at, std::vector<size_t>& out) const;
  void step(size_t at, std::vector<Abs>& regs);
  Abs column_value(int cursor, int column);
  Abs reg(const std::vector<Abs>& regs, int r) const {
    return r >= 0 && r < registers_ ? regs[static_cast<size_t>(r)] : computed(K::kAny);
  }
  void set(std::vector<Abs>& regs, int r, const Abs& v) {
    if (r >= 0 && r < registers_) regs[static_cast<size_t>(r)] = v;
  }
  template <typename T, typename V>
  void merge_fact(std::map<T, V>& facts, const T& key, const V& value) {
    auto [it, fresh] = facts.emplace(key, value);
    if (fresh) {
      facts_changed_ = true;
      return;
    }
    V joined = join_fact(it->second, value);
    if (joined != it->second) {
      it->second = joined;
      facts_changed_ = true;
    }
  }
  static Abs join_fact(const Abs& a, const Abs& b) { return join(a, b); }
  static uint64_t join_fact(uint64_t a, uint64_t b) { return a | b; }

  sqlite3* db_;
  std::vector<Insn> program_;
  int registers_;
  int result_columns_;
  std::vector<ColumnShape> shapes_;
  std::map<std::string, int16_t> shape_tags_;

  // Facts that hold for the whole program.
  std::map<int, Source> sources_;                // cursor -> table or index
  std::map<int, int> pseudo_;                    // pseudo cursor -> its content register
  std::map<int, bool> opened_;                   // sorters, temporary tables, pseudo cursors
  std::map<int, int> same_table_;                // cursor -> the cursor it duplicates
  int table_of(int cursor) const {
    for (int hops = 0; hops < 64; ++hops) {
      auto it = same_table_.find(cursor);
      if (it == same_table_.end() || it->second == cursor) break;
      cursor = it->second;
    }
    return cursor;
  }
  std::map<int, uint64_t> cursor_records_;       // cursor -> records put into it
  std::map<size_t, std::vector<Abs>> record_fields_;  // MakeRecord (by index) -> its fields
  std::map<int, Abs> aggregate_args_;            // accumulator register -> first argument
  std::map<int, std::string> aggregate_names_;   // accumulator register -> function
  std::vector<size_t> record_index_;             // instruction -> index of its MakeRecord
  bool facts_changed_ = false;
  bool unknown_cursor_ = false;
};

std::string Analysis::schema_name(int database) {
  std::string name = database == 1 ? "temp" : "main";
  if (database <= 1) return name;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT name FROM pragma_database_list WHERE seq = ?", -1, &raw, nullptr) != SQLITE_OK)
    return name;
  sqlite3_bind_int(raw, 1, database);
  if (sqlite3_step(raw) == SQLITE_ROW) name = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
  sqlite3_finalize(raw);
  return name;
}

int16_t Analysis::shape_tag(const std::string& declared) {
  auto it = shape_tags_.find(declared);
  if (it != shape_tags_.end()) return it->second;
  ColumnShape shape;
  describe_declared(declared, shape);
  auto tag = static_cast<int16_t>(shapes_.size());
  shapes_.push_back(shape);
  shape_tags_.emplace(declared, tag);
  return tag;
}

// Rows of a query with text parameters, each value as text.
std::vector<std::vector<std::string>> rows_of(sqlite3* db, const std::string& sql,
                                              std::initializer_list<std::string> args) {
  std::vector<std::vector<std::string>> rows;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) return rows;
  int i = 1;
  for (const auto& a : args) sqlite3_bind_text(raw, i++, a.data(), static_cast<int>(a.size()), SQLITE_TRANSIENT);
  while (sqlite3_step(raw) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int c = 0, n = sqlite3_column_count(raw); c < n; ++c) {
      auto* t = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
      row.emplace_back(t ? t : "");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(raw);
  return rows;
}

Source Analysis::open_source(int database, int root_page) {
  Source source;
  std::string schema = schema_name(database);
  auto objects = rows_of(db_, "SELECT type, name, tbl_name FROM " + quoted_name(schema) + ".sqlite_schema WHERE rootpage = ?",
                         {std::to_string(root_page)});
  if (objects.size() != 1) return source;
  const std::string& type = objects[0][0];
  const std::string& table = objects[0][2];
  // The table's columns in storage order; tables whose storage order
  // differs from their declaration (generated or hidden columns, WITHOUT
  // ROWID) are not followed.
  auto columns = rows_of(db_, "SELECT type, hidden FROM pragma_table_xinfo(?, ?)", {table, schema});
  auto listed = rows_of(db_, "SELECT wr FROM pragma_table_list WHERE name = ? AND schema = ?", {table, schema});
  if (columns.empty() || listed.size() != 1 || listed[0][0] != "0") return source;
  for (auto& c : columns)
    if (c[1] != "0") return source;
  std::vector<Abs> table_columns;
  for (auto& c : columns) {
    int16_t tag = shape_tag(c[0]);
    table_columns.push_back(Abs{value_bits(shapes_[static_cast<size_t>(tag)]), tag, 0});
  }
  if (type == "table") {
    source.columns = std::move(table_columns);
    source.known = true;
    return source;
  }
  if (type != "index") return source;
  // An index: its key columns, then the rowid.
  auto parts = rows_of(db_, "SELECT cid FROM pragma_index_xinfo(?, ?) ORDER BY seqno", {objects[0][1], schema});
  for (auto& p : parts) {
    int cid = std::atoi(p[0].c_str());
    if (cid >= 0 && static_cast<size_t>(cid) < table_columns.size()) source.columns.push_back(table_columns[static_cast<size_t>(cid)]);
    else if (cid == -1) source.columns.push_back(computed(K::kInteger));
    else source.columns.push_back(computed(K::kAny));  // an expression
  }
  source.known = true;
  return source;
}

void Analysis::successors(size_t at, std::vector<size_t>& out) const {
  out.clear();
  const Insn& i = program_[at];
  size_t n = program_.size();
  auto add = [&](long target) {
    if (target >= 0 && static_cast<size_t>(target) < n) out.push_back(static_cast<size_t>(target));
  };
  auto next = [&] { add(static_cast<long>(at) + 1); };
  switch (i.op) {
    case Op::Halt: return;
    case Op::Init:
    case Op::Goto:
    case Op::Gosub: add(i.p2); return;
    case Op::Jump: add(i.p1), add(i.p2), add(i.p3); return;
    case Op::InitCoroutine:
      if (i.p2 != 0) add(i.p2);
      else next();
      return;
    case Op::Return:
      next();
      for (size_t g = 0; g < n; ++g)
        if (program_[g].op == Op::Gosub && program_[g].p1 == i.p1) add(static_cast<long>(g) + 1);
      return;
    case Op::Yield:
    case Op::EndCoroutine:
      // Back and forth between a co-routine and its caller: every place
      // either side can resume.
      for (size_t y = 0; y < n; ++y) {
        const Insn& o = program_[y];
        if (o.op == Op::Yield && o.p1 == i.p1) {
          add(static_cast<long>(y) + 1);
          if (o.p2 != 0) add(o.p2);
        }
        if (o.op == Op::InitCoroutine && o.p1 == i.p1) add(o.p3);
      }
      return;
    case Op::Branch:
    case Op::IfPos:
    case Op::IfNotZero:
    case Op::DecrJumpZero:
    case Op::IfNullRow:
      next();
      add(i.p2);
      return;
    case Op::MustBeInt:
      next();
      if (i.p2 != 0) add(i.p2);
      return;
    default: next(); return;
  }
}

Abs Analysis::column_value(int cursor, int column) {
  if (auto s = sources_.find(cursor); s != sources_.end()) {
    if (!s->second.known || column < 0 || static_cast<size_t>(column) >= s->second.columns.size())
      return computed(K::kAny);
    return s->second.columns[static_cast<size_t>(column)];
  }
  // Sorters, temporary tables and pseudo cursors: the records put into them.
  auto records = cursor_records_.find(table_of(cursor));
  if (records == cursor_records_.end()) {
    if (!opened_.count(cursor)) unknown_cursor_ = true;
    return Abs{};  // nothing put into it yet
  }
  Abs v;
  for (size_t r = 0; r < 64; ++r) {
    if (!(records->second & (uint64_t{1} << r))) continue;
    auto fields = record_fields_.find(r);
    if (fields == record_fields_.end()) continue;
    if (column < 0 || static_cast<size_t>(column) >= fields->second.size()) return computed(K::kAny);
    v = join(v, fields->second[static_cast<size_t>(column)]);
  }
  return v;
}

void Analysis::step(size_t at, std::vector<Abs>& regs) {
  const Insn& i = program_[at];
  switch (i.op) {
    case Op::Integer: case Op::Int64: case Op::Rowid: case Op::IdxRowid: case Op::Sequence: case Op::NewRowid:
    case Op::Count: case Op::ReadCookie: case Op::Pagecount: case Op::MaxPgcnt:
      set(regs, i.p2, computed(K::kInteger));
      break;
    case Op::IntCopy: set(regs, i.p2, computed(K::kInteger)); break;
    case Op::Offset: set(regs, i.p3, computed(K::kInteger | K::kNull)); break;
    case Op::OffsetLimit: set(regs, i.p2, computed(K::kInteger)); break;
    case Op::Real: set(regs, i.p2, computed(K::kReal)); break;
    case Op::String: case Op::JournalMode: set(regs, i.p2, computed(K::kText)); break;
    case Op::Blob: set(regs, i.p2, computed(K::kBlob)); break;
    case Op::Null:
      for (int r = i.p2; r <= std::max(i.p2, i.p3); ++r) set(regs, r, null_value());
      break;
    case Op::BeginSubrtn: set(regs, i.p2, null_value()); break;
    case Op::SoftNull: set(regs, i.p1, null_value()); break;
    case Op::IfNullRow: set(regs, i.p3, join(reg(regs, i.p3), null_value())); break;
    case Op::Variable: case Op::VColumn: case Op::Param:
      set(regs, i.op == Op::Variable ? i.p2 : i.p3, computed(K::kAny));
      break;
    case Op::Move:
      for (int k = 0; k < std::max(i.p3, 1); ++k) {
        set(regs, i.p2 + k, reg(regs, i.p1 + k));
        set(regs, i.p1 + k, Abs{});
      }
      break;
    case Op::Copy:
      for (int k = 0; k <= i.p3; ++k) set(regs, i.p2 + k, reg(regs, i.p1 + k));
      break;
    case Op::SCopy: set(regs, i.p2, reg(regs, i.p1)); break;
    case Op::Column: set(regs, i.p3, column_value(i.p1, i.p2)); break;
    case Op::RowData: {
      auto r = cursor_records_.find(table_of(i.p1));
      set(regs, i.p2, Abs{K::kBlob, kComputed, r == cursor_records_.end() ? 0 : r->second});
      break;
    }
    case Op::SorterData: {
      auto r = cursor_records_.find(table_of(i.p1));
      uint64_t records = r == cursor_records_.end() ? 0 : r->second;
      set(regs, i.p2, Abs{K::kBlob, kComputed, records});
      if (records) merge_fact(cursor_records_, table_of(i.p3), records);
      break;
    }
    case Op::MakeRecord: {
      size_t index = record_index_[at];
      std::vector<Abs> fields;
      for (int k = 0; k < i.p2; ++k) fields.push_back(reg(regs, i.p1 + k));
      auto [it, fresh] = record_fields_.emplace(index, fields);
      if (fresh) {
        facts_changed_ = true;
      } else {
        for (size_t k = 0; k < fields.size() && k < it->second.size(); ++k) {
          Abs j = join(it->second[k], fields[k]);
          if (j != it->second[k]) it->second[k] = j, facts_changed_ = true;
        }
      }
      set(regs, i.p3, Abs{K::kBlob, kComputed, uint64_t{1} << index});
      break;
    }
    case Op::IdxInsert: case Op::SorterInsert: case Op::Insert:
      if (uint64_t records = reg(regs, i.p2).records) merge_fact(cursor_records_, table_of(i.p1), records);
      break;
    case Op::Function: {
      auto [name, count] = function_of(i.p4);
      std::vector<Abs> args;
      for (int k = 0; k < count; ++k) args.push_back(reg(regs, i.p2 + k));
      set(regs, i.p3, function_result(name, args));
      break;
    }
    case Op::AggStep: {
      auto [name, count] = function_of(i.p4);
      aggregate_names_[i.p3] = name;
      if (i.p5 > 0 || count > 0) merge_fact(aggregate_args_, i.p3, reg(regs, i.p2));
      break;
    }
    case Op::AggFinal:
    case Op::AggValue: {
      auto [name, count] = function_of(i.p4);
      auto a = aggregate_args_.find(i.p1);
      std::vector<Abs> args;
      if (count > 0) args.push_back(a == aggregate_args_.end() ? Abs{} : a->second);
      set(regs, i.op == Op::AggFinal ? i.p1 : i.p3, function_result(name, args));
      break;
    }
    case Op::Add: case Op::Subtract: case Op::Multiply: case Op::Divide: case Op::Remainder:
      set(regs, i.p3, arithmetic(reg(regs, i.p1), reg(regs, i.p2)));
      break;
    case Op::BitAnd: case Op::BitOr: case Op::ShiftLeft: case Op::ShiftRight:
      set(regs, i.p3, computed(K::kInteger | K::kNull));
      break;
    case Op::BitNot: case Op::Not: set(regs, i.p2, computed(K::kInteger | K::kNull)); break;
    case Op::IsTrue: set(regs, i.p2, computed(K::kInteger)); break;
    case Op::ZeroOrNull: set(regs, i.p2, computed(K::kInteger | K::kNull)); break;
    case Op::AddImm: case Op::MustBeInt: case Op::MemMax: case Op::IfPos: case Op::IfNotZero:
    case Op::DecrJumpZero: case Op::Gosub: case Op::InitCoroutine: case Op::Yield:
      set(regs, i.p1, computed(K::kInteger));
      break;
    case Op::CollSeq:
      if (i.p1 != 0) set(regs, i.p1, computed(K::kInteger));
      break;
    case Op::RealAffinity: {
      Abs v = reg(regs, i.p1);
      if (v.bits & K::kInteger) v.bits = static_cast<uint8_t>((v.bits & ~K::kInteger) | K::kReal);
      set(regs, i.p1, v);
      break;
    }
    case Op::Cast: {
      Abs v = reg(regs, i.p1);
      uint8_t null = may_be_null(v.bits) ? K::kNull : 0;
      uint8_t bits = i.p2 == 'A' ? K::kBlob : i.p2 == 'B' ? K::kText : i.p2 == 'D' ? K::kInteger
                     : i.p2 == 'E' ? K::kReal : kNumber;
      set(regs, i.p1, computed(bits | null));
      break;
    }
    case Op::Affinity:
      // Text that looks like a number becomes one; a REAL affinity makes
      // integers reals.  The value stays the column's value.
      for (int k = 0; k < i.p2 && static_cast<size_t>(k) < i.p4.size(); ++k) {
        Abs v = reg(regs, i.p1 + k);
        char a = i.p4[static_cast<size_t>(k)];
        if (a == 'E' && (v.bits & K::kInteger)) v.bits = static_cast<uint8_t>((v.bits & ~K::kInteger) | K::kReal);
        if ((a == 'C' || a == 'D' || a == 'E') && (v.bits & K::kText)) v.bits |= kNumber;
        set(regs, i.p1 + k, v);
      }
      break;
    case Op::Concat: set(regs, i.p3, computed(K::kText | K::kNull)); break;
    default: break;
  }
}

bool Analysis::run(std::vector<ValueKinds>& out) {
  size_t n = program_.size();
  // Cursors opened on tables and indexes, pseudo cursors, MakeRecords.
  record_index_.assign(n, 0);
  size_t records = 0;
  for (size_t at = 0; at < n; ++at) {
    const Insn& i = program_[at];
    switch (i.op) {
      case Op::Unknown: return false;
      case Op::OpenRead: case Op::OpenWrite: case Op::ReopenIdx:
        if (!sources_.count(i.p1)) sources_.emplace(i.p1, open_source(i.p3, i.p2));
        break;
      case Op::VOpen: sources_.emplace(i.p1, Source{}); break;
      case Op::OpenPseudo:
        pseudo_[i.p1] = i.p2;
        opened_[i.p1] = true;
        break;
      case Op::OpenEphemeral: case Op::OpenAutoindex: case Op::SorterOpen:
        opened_[i.p1] = true;
        break;
      case Op::OpenDup:
        // Another cursor on the same temporary table: one set of records.
        opened_[i.p1] = true;
        same_table_[i.p1] = i.p2;
        break;
      case Op::MakeRecord:
        if (records == 64) return false;
        record_index_[at] = records++;
        break;
      default: break;
    }
  }
  std::vector<std::vector<Abs>> in(n, std::vector<Abs>(static_cast<size_t>(registers_)));
  std::vector<bool> reached(n, false);
  std::vector<size_t> next;
  for (int round = 0; round < 16; ++round) {
    facts_changed_ = false;
    unknown_cursor_ = false;
    std::deque<size_t> work;
    std::vector<bool> queued(n, false);
    work.push_back(0);
    queued[0] = true;
    reached[0] = true;
    if (round > 0)
      for (size_t at = 1; at < n; ++at)
        if (reached[at]) work.push_back(at), queued[at] = true;
    while (!work.empty()) {
      size_t at = work.front();
      work.pop_front();
      queued[at] = false;
      std::vector<Abs> regs = in[at];
      // Pseudo cursors read the record in their content register.
      if (program_[at].op == Op::Column && pseudo_.count(program_[at].p1)) {
        uint64_t held = reg(regs, pseudo_[program_[at].p1]).records;
        if (held) merge_fact(cursor_records_, table_of(program_[at].p1), held);
      }
      step(at, regs);
      successors(at, next);
      for (size_t s : next) {
        bool changed = !reached[s];
        reached[s] = true;
        for (size_t r = 0; r < regs.size(); ++r) {
          Abs j = join(in[s][r], regs[r]);
          if (j != in[s][r]) in[s][r] = j, changed = true;
        }
        if (changed && !queued[s]) work.push_back(s), queued[s] = true;
      }
    }
    if (!facts_changed_) break;
    if (round == 15) return false;
  }
  if (unknown_cursor_) return false;
  // The result rows: what each column's register holds where a row goes out.
  std::vector<Abs> result(static_cast<size_t>(result_columns_));
  bool any = false;
  for (size_t at = 0; at < n; ++at) {
    const Insn& i = program_[at];
    if (i.op != Op::ResultRow || !reached[at]) continue;
    if (i.p2 != result_columns_) return false;
    any = true;
    for (int c = 0; c < i.p2; ++c) result[static_cast<size_t>(c)] = join(result[static_cast<size_t>(c)], reg(in[at], i.p1 + c));
  }
  if (!any) return false;
  out.clear();
  for (const Abs& v : result) {
    ValueKinds k;
    k.bits = v.bits;
    if (v.records) k.bits |= K::kAny;  // a record is never a result value
    if (v.tag >= 0) k.column = shapes_[static_cast<size_t>(v.tag)];
    out.push_back(std::move(k));
  }
  return true;
}

}  // namespace

std::string quoted_name(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::vector<ValueKinds> result_value_kinds(sqlite3* db, sqlite3_stmt* stmt) {
  std::vector<ValueKinds> out;
  int columns = sqlite3_column_count(stmt);
  if (columns == 0 || sqlite3_stmt_isexplain(stmt) != 0) return out;
  const char* sql = sqlite3_sql(stmt);
  if (sql == nullptr) return out;
  std::string text = std::string("EXPLAIN ") + sql;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, text.c_str(), static_cast<int>(text.size()), &raw, nullptr) != SQLITE_OK || !raw) {
    sqlite3_finalize(raw);
    return out;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> explain(raw, sqlite3_finalize);
  std::vector<Insn> program;
  int registers = 0;
  constexpr size_t kMaxInstructions = 20000;
  while (sqlite3_step(raw) == SQLITE_ROW) {
    if (program.size() == kMaxInstructions) return out;
    auto* name = reinterpret_cast<const char*>(sqlite3_column_text(raw, 1));
    auto* p4 = reinterpret_cast<const char*>(sqlite3_column_text(raw, 5));
    auto found = opcodes().find(name ? name : "");
    Insn i{found == opcodes().end() ? Op::Unknown : found->second, sqlite3_column_int(raw, 2),
           sqlite3_column_int(raw, 3), sqlite3_column_int(raw, 4), p4 ? p4 : "", sqlite3_column_int(raw, 6)};
    if (i.op == Op::Unknown) return out;
    registers = std::max(registers, highest_register(i) + 1);
    program.push_back(std::move(i));
  }
  // Registers times instructions bounds the work and the memory (16 bytes a
  // register a place: at most 8 MiB); larger programs are left to the
  // fallback.
  if (program.empty() || registers > 4000 || program.size() * static_cast<size_t>(registers) > (size_t{1} << 19))
    return out;
  Analysis analysis(db, std::move(program), registers, columns);
  if (!analysis.run(out)) out.clear();
  return out;
}

}  // namespace hostserver
