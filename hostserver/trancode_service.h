// Transaction requests over TCP: the transaction code names a program in the
// transactions folder, which runs with the request's data on its standard
// input and QUARL_TRANCODE, QUARL_LIBRARY and QUARL_ENTRY_POINT in its
// environment.  Its standard output is the reply data; a failure (a non-zero
// exit, the time limit, too much output) becomes reply data of "*****" and a
// message: the first line of its standard error, or one of ours.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "hostserver/program_runner.h"

namespace hostserver {

struct TrancodeOptions {
  std::string transactions_dir;  // empty: "transactions" next to the server program
  std::chrono::seconds time_limit{10};
};

class TrancodeService {
 public:
  explicit TrancodeService(TrancodeOptions options);

  const std::string& transactions_dir() const { return dir_; }

  // The reply data for one request: header is the 106 bytes after the
  // request's length (code, library name, entry point name), data the rest.
  std::string handle(std::string_view header, std::string_view data, const std::atomic<bool>* cancel) const;

  // A transaction code as it names a program: upper-cased, then only
  // letters, digits, "_" and "-" (nothing that can leave the folder).
  static bool valid_code(std::string_view code);

 private:
  std::string dir_;
  ProgramLimits limits_;
};

}  // namespace hostserver
