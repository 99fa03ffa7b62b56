// Programs run for requests: input, output, environment and status, the
// limits, and the end of everything a program started.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/platform/process.h"
#include "tests/support/test_env.h"

namespace {

using quarl::platform::ProcessLimits;
using quarl::platform::ProcessCommand;
using Outcome = quarl::platform::ProcessResult::Outcome;

ProcessCommand shell(const std::string& script, std::string input = "") {
  ProcessCommand command;
  command.path = "/bin/sh";
  command.args = {"-c", script};
  command.env = {"PATH=/usr/bin:/bin", "GREETING=hello"};
  command.input = std::move(input);
  return command;
}

ProcessLimits limits(int milliseconds, size_t max_output = 1 << 20) {
  ProcessLimits l;
  l.time_limit = std::chrono::milliseconds(milliseconds);
  l.max_output = max_output;
  return l;
}

// Whether a process is gone (or a zombie nobody waits for).
bool gone(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

std::string first_line(const std::filesystem::path& file) {
  std::string text = testsupport::read_file(file);
  return text.substr(0, text.find('\n'));
}

TEST(Process, InputOutputEnvironmentAndStatus) {
  std::string big(1 << 20, 'i');  // more than a pipe holds: written while output is read
  auto copied = quarl::platform::run_process(shell("cat", big), limits(60000, 2 << 20));
  EXPECT_TRUE(copied.succeeded());
  EXPECT_EQ(copied.output, big);

  auto env = quarl::platform::run_process(
      shell("printf %s \"$GREETING\"; echo bad >&2; echo worse >&2; exit 3"), limits(60000));
  EXPECT_EQ(env.outcome, Outcome::Exited);
  EXPECT_EQ(env.exit_status, 3);
  EXPECT_EQ(env.output, "hello");
  EXPECT_EQ(env.first_error_line(), "bad");

  auto killed = quarl::platform::run_process(shell("kill -TERM $$"), limits(60000));
  EXPECT_EQ(killed.outcome, Outcome::Signaled);
  EXPECT_EQ(killed.signal_number, 15);

  // A program that ignores its input is not harmed by it, nor is the caller.
  EXPECT_TRUE(quarl::platform::run_process(shell("exit 0", big), limits(60000)).succeeded());

  ProcessCommand missing;
  missing.path = "/nonexistent/program";
  auto not_started = quarl::platform::run_process(missing, limits(60000));
  EXPECT_EQ(not_started.outcome, Outcome::CannotStart);
  EXPECT_EQ(not_started.start_error, "No such file or directory");
}

TEST(Process, EverythingAProgramStartedEndsWithIt) {
  testsupport::TempDir dir;
  auto child = [&](const std::string& name) {
    // A child in a session of its own, orphaned at once, that holds the
    // program's output open and would live for five minutes.
    std::string file = (dir / name).string();
    return "(setsid sh -c 'echo $$ > " + file + "; exec sleep 300' &); while [ ! -s " + file +
           " ]; do sleep 0.01; done; ";
  };
  struct Case {
    const char* what;
    std::string script;
    int time_limit_ms;
    size_t max_output;
    bool cancel;
    Outcome outcome;
  } cases[] = {
      {"ends", child("ends") + "echo started", 60000, 1 << 20, false, Outcome::Exited},
      {"times-out", child("times-out") + "exec sleep 300", 500, 1 << 20, false, Outcome::TimedOut},
      {"talks", child("talks") + "exec yes", 60000, 1000, false, Outcome::OutputTooLarge},
      {"cancelled", child("cancelled") + "exec sleep 300", 60000, 1 << 20, true, Outcome::Cancelled},
  };
  for (auto& c : cases) {
    std::atomic<bool> cancel{false};
    std::thread canceller;
    if (c.cancel)
      canceller = std::thread([&] {
        while (first_line(dir / c.what).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cancel = true;
      });
    auto result = quarl::platform::run_process(shell(c.script), limits(c.time_limit_ms, c.max_output), &cancel);
    if (canceller.joinable()) canceller.join();
    EXPECT_EQ(result.outcome, c.outcome) << c.what;
    if (c.outcome == Outcome::Exited) {
      EXPECT_EQ(result.output, "started\n");
    }
    std::string pid = first_line(dir / c.what);
    ASSERT_FALSE(pid.empty()) << c.what;
    EXPECT_TRUE(gone(pid)) << c.what << ": pid " << pid << " outlived the run";
  }
}

TEST(Process, PathsAndFolders) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "tool", "#!/bin/sh\n");
  std::filesystem::permissions(dir / "tool", std::filesystem::perms::owner_all);
  testsupport::write_file(dir / "data", "x");
  std::filesystem::create_symlink(dir / "tool", dir / "link");
  EXPECT_TRUE(quarl::platform::is_executable_file(dir / "tool"));
  EXPECT_FALSE(quarl::platform::is_executable_file(dir / "data"));
  EXPECT_FALSE(quarl::platform::is_executable_file(dir.path()));
  EXPECT_EQ(quarl::platform::real_path(dir / "link"), quarl::platform::real_path(dir / "tool"));
  EXPECT_FALSE(quarl::platform::real_path(dir / "nothing"));
  auto made = quarl::platform::make_temp_folder("quarl-test");
  ASSERT_TRUE(made);
  EXPECT_TRUE(std::filesystem::is_directory(*made));
  std::filesystem::remove_all(*made);
}

}  // namespace
