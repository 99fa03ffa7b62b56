// Host procedures: programs in a procedures folder.  A procedure call names
// a library ("/"-separated parts, each a subfolder) and an entry point (the
// program in it); a coroutine call names a coroutine library whose last part
// is the program and whose other parts are the folders.  The parameter area
// goes to the program's standard input; its standard output, cut or blank
// padded to the area's length, is the returned area.  A non-zero exit fails
// the call with the first line of its standard error.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "hostserver/program_runner.h"

namespace hostserver {

struct ProcedureOptions {
  std::string procedures_dir;  // empty: "procedures" next to the server program
  std::chrono::seconds time_limit{10};
};

struct ProcedureCall {
  bool coroutine = false;
  std::string library;      // the coroutine name for a coroutine call
  std::string entry_point;  // empty for a coroutine call
  std::string area;         // the whole parameter area
  std::string user;         // who is logged in
};

struct ProcedureResult {
  bool ok = false;
  std::string area;     // on success: exactly as long as the call's area
  std::string message;  // on failure
};

class ProcedureService {
 public:
  // Standard output beyond this kills the program (the area is at most 99999 bytes).
  static constexpr size_t kMaxOutput = 1 << 20;

  explicit ProcedureService(ProcedureOptions options);

  const std::string& procedures_dir() const { return dir_; }

  // The program for a call's names (upper-cased first), or empty with the
  // reason in error.
  std::string resolve(bool coroutine, std::string_view library, std::string_view entry_point,
                      std::string& error) const;
  ProcedureResult run(const ProcedureCall& call, const std::atomic<bool>* cancel) const;

  // Letters, digits, "_" and "-" (a name is upper-cased before it is checked).
  static bool valid_part(std::string_view part);
  // Parts separated by "/", none of them empty.
  static bool valid_path(std::string_view name);

 private:
  std::string dir_;
  ProgramLimits limits_;
};

}  // namespace hostserver
