#include "hostserver/trancode_service.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/platform/system.h"
#include "hostserver/program_folders.h"
#include "common/text.h"
#include "common/trancode.h"

namespace hostserver {
namespace fs = std::filesystem;
namespace tc = quarl::trancode;

namespace {

std::string failure(std::string_view message) { return std::string(tc::kFailureMarker) + std::string(message); }

}  // namespace

TrancodeService::TrancodeService(TrancodeOptions options) : dir_(std::move(options.transactions_dir)) {
  if (dir_.empty()) dir_ = default_program_folder("transactions");
  limits_.time_limit = options.time_limit;
  // The client's transfer buffer takes at most this much reply data.
  limits_.max_output = tc::kTransferSize;
  limits_.max_error = 4096;
}

bool TrancodeService::valid_code(std::string_view code) {
  if (code.empty()) return false;
  for (char c : code)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) return false;
  return true;
}

std::string TrancodeService::handle(std::string_view header, std::string_view data,
                                    const std::atomic<bool>* cancel) const {
  tc::RequestNames names = tc::decode_request_names(header);
  std::string code = quarl::to_upper(names.code);
  if (!valid_code(code)) return failure("Invalid transaction code " + names.code);
  if (names.library.find('\0') != std::string::npos || names.entry_point.find('\0') != std::string::npos)
    return failure("Invalid library or entry point name");

  std::string path = (fs::path(dir_) / code).string();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0)
    return failure("Unknown transaction code " + code);

  ProgramRun run;
  run.path = path;
  run.working_dir = dir_;
  run.env = {"PATH=/usr/local/bin:/usr/bin:/bin", "LC_ALL=C", "QUARL_TRANCODE=" + code,
             "QUARL_LIBRARY=" + names.library, "QUARL_ENTRY_POINT=" + names.entry_point};
  run.input = std::string(data);
  ProgramResult result = run_program(run, limits_, cancel);

  using Outcome = ProgramResult::Outcome;
  switch (result.outcome) {
    case Outcome::Exited:
      if (result.exit_status == 0) return std::move(result.output);
      if (auto line = result.first_error_line(); !line.empty()) return failure(line);
      return failure("Transaction " + code + " failed with exit status " + std::to_string(result.exit_status));
    case Outcome::Signaled:
      if (auto line = result.first_error_line(); !line.empty()) return failure(line);
      return failure("Transaction " + code + " was killed by signal " + std::to_string(result.signal_number));
    case Outcome::TimedOut:
      return failure("Transaction " + code + " exceeded its time limit of " +
                     std::to_string(limits_.time_limit.count() / 1000) + " seconds");
    case Outcome::OutputTooLarge:
      return failure("Transaction " + code + " wrote more than " + std::to_string(limits_.max_output) + " bytes");
    case Outcome::Cancelled:
      return failure("Transaction " + code + " was stopped: the server is shutting down");
    case Outcome::CannotStart:
      return failure("Transaction " + code + " cannot be started: " + result.start_error);
  }
  return failure("Transaction " + code + " failed");
}

}  // namespace hostserver
