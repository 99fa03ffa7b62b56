// Runs a program on behalf of a request: its input on standard input, its
// standard output and the start of its standard error collected, a time
// limit and a bound on its output.  A program that overruns either is killed
// together with everything it started (its own process group), so no request
// can leave work running or make the server hold unbounded data.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hostserver {

struct ProgramLimits {
  std::chrono::milliseconds time_limit{std::chrono::seconds(10)};
  size_t max_output = 1 << 20;  // standard output beyond this kills the program
  size_t max_error = 4096;      // standard error beyond this is dropped
};

struct ProgramRun {
  std::string path;               // run directly (a script needs its "#!" line)
  std::vector<std::string> args;  // after the program name
  std::vector<std::string> env;   // the whole environment, "NAME=value"
  std::string working_dir;        // empty: the server's
  std::string input;
};

struct ProgramResult {
  enum class Outcome {
    Exited,          // exit_status holds the status
    Signaled,        // killed by a signal from elsewhere (signal_number)
    TimedOut,        // killed at the time limit
    OutputTooLarge,  // killed for writing more than max_output bytes
    Cancelled,       // killed because the caller asked to stop
    CannotStart,     // start_error says why
  };
  Outcome outcome = Outcome::CannotStart;
  int exit_status = -1;
  int signal_number = 0;
  std::string output;  // standard output (complete only for Exited and Signaled)
  std::string errors;  // the first max_error bytes of standard error
  std::string start_error;

  bool succeeded() const { return outcome == Outcome::Exited && exit_status == 0; }
  // The first line of the error output, without its line end.
  std::string first_error_line() const;
};

// Blocks the calling thread until the program has ended; cancel (when given)
// is checked several times a second.  Safe to call from several threads.
ProgramResult run_program(const ProgramRun& run, const ProgramLimits& limits,
                          const std::atomic<bool>* cancel = nullptr);

}  // namespace hostserver
