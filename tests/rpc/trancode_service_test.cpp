// The host side of transaction requests: the program runner's limits and the
// service's checks, with real programs in a temporary transactions folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/trancode.h"
#include "hostserver/program_runner.h"
#include "hostserver/trancode_service.h"
#include "tests/support/test_env.h"

namespace {

using hostserver::ProgramLimits;
using hostserver::ProgramResult;
using hostserver::ProgramRun;
using Outcome = hostserver::ProgramResult::Outcome;

ProgramRun shell(const std::string& script, std::string input = "") {
  ProgramRun run;
  run.path = "/bin/sh";
  run.args = {"-c", script};
  run.env = {"PATH=/usr/bin:/bin", "GREETING=hello"};
  run.input = std::move(input);
  return run;
}

ProgramLimits limits(int milliseconds, size_t max_output = 1 << 20) {
  ProgramLimits l;
  l.time_limit = std::chrono::milliseconds(milliseconds);
  l.max_output = max_output;
  return l;
}

TEST(ProgramRunner, InputOutputEnvironmentAndStatus) {
  std::string big(1 << 20, 'i');  // more than a pipe holds: written while output is read
  auto copied = hostserver::run_program(shell("cat", big), limits(20000, 2 << 20));
  EXPECT_TRUE(copied.succeeded());
  EXPECT_EQ(copied.output, big);

  auto env = hostserver::run_program(shell("printf %s \"$GREETING\"; echo bad >&2; echo worse >&2; exit 3"),
                                     limits(20000));
  EXPECT_EQ(env.outcome, Outcome::Exited);
  EXPECT_EQ(env.exit_status, 3);
  EXPECT_EQ(env.output, "hello");
  EXPECT_EQ(env.first_error_line(), "bad");

  // A program that ignores its input is not harmed by it, nor is the caller.
  auto ignoring = hostserver::run_program(shell("exit 0", big), limits(20000));
  EXPECT_TRUE(ignoring.succeeded());

  ProgramRun missing;
  missing.path = "/nonexistent/program";
  auto not_started = hostserver::run_program(missing, limits(20000));
  EXPECT_EQ(not_started.outcome, Outcome::CannotStart);
  EXPECT_EQ(not_started.start_error, "No such file or directory");
}

TEST(ProgramRunner, OverrunsAreKilledWithWhatTheyStarted) {
  auto slow = hostserver::run_program(shell("sleep 30"), limits(200));
  EXPECT_EQ(slow.outcome, Outcome::TimedOut);

  auto chatty = hostserver::run_program(shell("yes"), limits(20000, 1000));
  EXPECT_EQ(chatty.outcome, Outcome::OutputTooLarge);

  // A background child that keeps the output open ends with the program.
  testsupport::TempDir dir;
  auto spawner = hostserver::run_program(
      shell("sleep 30 & echo $! > '" + (dir / "pid").string() + "'; echo started"), limits(20000));
  EXPECT_TRUE(spawner.succeeded());
  EXPECT_EQ(spawner.output, "started\n");
  std::string pid = testsupport::read_file(dir / "pid");
  pid.pop_back();
  EXPECT_FALSE(std::filesystem::exists("/proc/" + pid + "/cmdline") &&
               testsupport::read_file("/proc/" + pid + "/cmdline").rfind("sleep", 0) == 0);

  std::atomic<bool> cancel{true};
  auto cancelled = hostserver::run_program(shell("sleep 30"), limits(20000), &cancel);
  EXPECT_EQ(cancelled.outcome, Outcome::Cancelled);
}

class TrancodeService : public ::testing::Test {
 protected:
  void SetUp() override {
    add("ECHO", "exec cat");
    add("NAMES", "printf '%s|%s|%s|' \"$QUARL_TRANCODE\" \"$QUARL_LIBRARY\" \"$QUARL_ENTRY_POINT\"; cat");
    add("FAIL", "echo 'Account 7 is closed' >&2; echo more >&2; exit 2");
    add("QUIET", "exit 4");
    add("BIG", "head -c 20000 /dev/zero");
    add("SLOW", "sleep 30");
    testsupport::write_file(dir / "NOEXEC", "#!/bin/sh\necho x\n");
    std::filesystem::create_directory(dir / "FOLDER");
  }
  void add(const std::string& name, const std::string& body) {
    testsupport::write_file(dir / name, "#!/bin/sh\n" + body + "\n");
    ::chmod((dir / name).c_str(), 0755);
  }
  std::string call(const std::string& code, const std::string& data, const std::string& library = "LIB",
                   const std::string& entry = "EP") {
    hostserver::TrancodeService service({dir.path().string(), std::chrono::seconds(1)});
    std::string request = quarl::trancode::encode_request(code, library, entry, data);
    return service.handle(std::string_view(request).substr(6, 106), std::string_view(request).substr(112), nullptr);
  }
  testsupport::TempDir dir;
};

TEST_F(TrancodeService, RunsTheNamedProgramWithTheRequest) {
  EXPECT_EQ(call("ECHO", "hello"), "hello");
  EXPECT_EQ(call("echo", std::string(9999, 'd')), std::string(9999, 'd'));  // codes are upper-cased
  EXPECT_EQ(call("names", "data", "obj/dec/lib", "Proc 1"), "NAMES|obj/dec/lib|Proc 1|data");
}

TEST_F(TrancodeService, FailuresBecomeMarkedReplies) {
  EXPECT_EQ(call("FAIL", ""), "*****Account 7 is closed");
  EXPECT_EQ(call("QUIET", ""), "*****Transaction QUIET failed with exit status 4");
  EXPECT_EQ(call("BIG", ""), "*****Transaction BIG wrote more than 10111 bytes");
  EXPECT_EQ(call("SLOW", ""), "*****Transaction SLOW exceeded its time limit of 1 seconds");
}

TEST_F(TrancodeService, CodesCannotReachOutsideTheFolder) {
  for (const char* code : {"../BIN", "A.TXT", "A/B", "", " ", "NO$X"})
    EXPECT_EQ(call(code, "").substr(0, 29), "*****Invalid transaction code") << code;
  for (const char* code : {"NOPE", "NOEXEC", "FOLDER"})
    EXPECT_EQ(call(code, ""), std::string("*****Unknown transaction code ") + code);
  EXPECT_TRUE(hostserver::TrancodeService::valid_code("A_1-2"));
  EXPECT_FALSE(hostserver::TrancodeService::valid_code("a"));
}

}  // namespace
