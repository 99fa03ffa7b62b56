#include "hostserver/procedure_service.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/platform/system.h"
#include "hostserver/program_folders.h"
#include "common/text.h"

namespace hostserver {
namespace fs = std::filesystem;

ProcedureService::ProcedureService(ProcedureOptions options) : dir_(std::move(options.procedures_dir)) {
  if (dir_.empty()) dir_ = default_program_folder("procedures");
  limits_.time_limit = options.time_limit;
  limits_.max_output = kMaxOutput;
  limits_.max_error = 4096;
}

bool ProcedureService::valid_part(std::string_view part) {
  if (part.empty()) return false;
  for (char c : part)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) return false;
  return true;
}

bool ProcedureService::valid_path(std::string_view name) {
  for (size_t start = 0;;) {
    size_t slash = name.find('/', start);
    if (!valid_part(name.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start)))
      return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

std::string ProcedureService::resolve(bool coroutine, std::string_view library, std::string_view entry_point,
                                      std::string& error) const {
  std::string lib = quarl::to_upper(library), entry = quarl::to_upper(entry_point);
  fs::path path(dir_);
  std::string shown;
  if (coroutine) {
    if (!valid_path(lib)) {
      error = "Invalid coroutine name " + std::string(library);
      return {};
    }
    path /= lib;
    shown = lib;
  } else {
    if (!valid_path(lib)) {
      error = "Invalid library name " + std::string(library);
      return {};
    }
    if (!valid_part(entry)) {
      error = "Invalid entry point name " + std::string(entry_point);
      return {};
    }
    path = path / lib / entry;
    shown = lib + " entry point " + entry;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0) {
    error = (coroutine ? "Unknown coroutine " : "Unknown procedure ") + shown;
    return {};
  }
  return path.string();
}

ProcedureResult ProcedureService::run(const ProcedureCall& call, const std::atomic<bool>* cancel) const {
  ProcedureResult out;
  std::string path = resolve(call.coroutine, call.library, call.entry_point, out.message);
  if (path.empty()) return out;
  std::string name = call.coroutine ? quarl::to_upper(call.library)
                                    : quarl::to_upper(call.library) + "/" + quarl::to_upper(call.entry_point);

  ProgramRun run;
  run.path = path;
  run.working_dir = fs::path(path).parent_path().string();
  run.env = {"PATH=/usr/local/bin:/usr/bin:/bin",
             "LC_ALL=C",
             "QUARL_CALL=" + std::string(call.coroutine ? "coroutine" : "procedure"),
             "QUARL_LIBRARY=" + quarl::to_upper(call.library),
             "QUARL_ENTRY_POINT=" + quarl::to_upper(call.entry_point),
             "QUARL_USER=" + call.user,
             "QUARL_AREA_LENGTH=" + std::to_string(call.area.size())};
  run.input = call.area;
  ProgramResult result = run_program(run, limits_, cancel);

  using Outcome = ProgramResult::Outcome;
  std::string line = result.first_error_line();
  switch (result.outcome) {
    case Outcome::Exited:
      if (result.exit_status == 0) {
        out.ok = true;
        out.area = std::move(result.output);
        out.area.resize(call.area.size(), ' ');
        return out;
      }
      out.message = !line.empty() ? line
                                  : "Procedure " + name + " failed with exit status " +
                                        std::to_string(result.exit_status);
      return out;
    case Outcome::Signaled:
      out.message = !line.empty() ? line
                                  : "Procedure " + name + " was killed by signal " +
                                        std::to_string(result.signal_number);
      return out;
    case Outcome::TimedOut:
      out.message = "Procedure " + name + " exceeded its time limit of " +
                    std::to_string(limits_.time_limit.count() / 1000) + " seconds";
      return out;
    case Outcome::OutputTooLarge:
      out.message = "Procedure " + name + " wrote more than " + std::to_string(limits_.max_output) + " bytes";
      return out;
    case Outcome::Cancelled:
      out.message = "Procedure " + name + " was stopped: the client or the server went away";
      return out;
    case Outcome::CannotStart:
      out.message = "Procedure " + name + " cannot be started: " + result.start_error;
      return out;
  }
  out.message = "Procedure " + name + " failed";
  return out;
}

}  // namespace hostserver
