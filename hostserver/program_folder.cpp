#include "hostserver/program_folder.h"

#include "common/platform/process.h"
#include "hostserver/program_folders.h"
#include "hostserver/server_log.h"

namespace hostserver {
namespace fs = std::filesystem;

ProgramFolder::ProgramFolder(std::string noun, std::string_view default_dir, ProgramFolderOptions options)
    : noun_(std::move(noun)), dir_(options.dir), options_(std::move(options)) {
  if (dir_.empty()) dir_ = default_program_folder(std::string(default_dir));
}

bool ProgramFolder::valid_part(std::string_view part) {
  if (part.empty()) return false;
  for (char c : part)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) return false;
  return true;
}

bool ProgramFolder::valid_path(std::string_view name) {
  for (size_t start = 0;;) {
    size_t slash = name.find('/', start);
    if (!valid_part(name.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start)))
      return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

ProgramFolder::Found ProgramFolder::find(std::string_view relative) const {
  Found out;
  if (!valid_path(relative)) return out;
  auto program = quarl::platform::real_path(fs::path(dir_) / relative);
  if (!program || !quarl::platform::is_executable_file(*program)) return out;
  if (!options_.allow_links_out) {
    auto folder = quarl::platform::real_path(dir_);
    auto inside = folder ? program->lexically_relative(*folder) : fs::path();
    if (inside.empty() || *inside.begin() == "..") {
      out.lookup = Lookup::LeadsOutside;
      return out;
    }
  }
  out.lookup = Lookup::Found;
  out.program = std::move(*program);
  return out;
}

ProgramFolder::Answer ProgramFolder::run(const Call& call, const std::atomic<bool>* cancel) const {
  quarl::platform::ProcessCommand command;
  command.path = call.program.string();
  command.working_dir = call.program.parent_path().string();
  command.env = {"PATH=/usr/local/bin:/usr/bin:/bin", "LC_ALL=C"};
  command.env.insert(command.env.end(), call.env.begin(), call.env.end());
  command.input = call.input;
  quarl::platform::ProcessLimits limits;
  limits.time_limit = options_.time_limit;
  limits.max_output = options_.max_output;
  limits.max_error = 4096;
  auto result = quarl::platform::run_process(command, limits, cancel);

  using Outcome = quarl::platform::ProcessResult::Outcome;
  Answer answer;
  const std::string name = noun_ + " " + call.shown;
  std::string line = result.first_error_line();
  switch (result.outcome) {
    case Outcome::Exited:
      if (result.exit_status == 0) {
        answer.ok = true;
        answer.output = std::move(result.output);
        return answer;
      }
      answer.message = !line.empty() ? line : name + " failed with exit status " + std::to_string(result.exit_status);
      return answer;
    case Outcome::Signaled:
      answer.message = !line.empty() ? line : name + " was killed by signal " + std::to_string(result.signal_number);
      return answer;
    case Outcome::TimedOut:
      answer.message = name + " exceeded its time limit of " + seconds_text(options_.time_limit.count());
      break;
    case Outcome::OutputTooLarge:
      answer.message = name + " wrote more than " + std::to_string(options_.max_output) + " bytes";
      break;
    case Outcome::Cancelled:
      answer.message = name + " was stopped: the client or the server went away";
      break;
    case Outcome::CannotStart:
      answer.message = name + " cannot be started: " + result.start_error;
      break;
  }
  log_line("program", answer.message);
  return answer;
}

}  // namespace hostserver
