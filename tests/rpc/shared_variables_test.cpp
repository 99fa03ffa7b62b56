// Shared variables through the exports, in this process and across several
// client processes; time stamps, files and folders.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "common/platform/shared_memory.h"
#include "tests/rpc/rpc_library.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;

// A block name of our own, so that no user's counters are touched.
std::string fresh_block_name() {
  static std::atomic<int> counter{0};
  return "quarl-rpc-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// This process's session maps its block once: name it before any call.
class BlockEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    name_ = fresh_block_name();
    ::setenv("QUARL_RPC_SHM_NAME", name_.c_str(), 1);
  }
  void TearDown() override { quarl::platform::SharedMemory::remove(name_); }

 private:
  std::string name_;
};
const auto* const g_block = ::testing::AddGlobalTestEnvironment(new BlockEnvironment);

// A client process with its own block name.
struct Client {
  pid_t pid = -1;
  int out = -1;
};

Client start_client(const std::string& block, const std::vector<std::string>& args) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  std::string program = testsupport::bin_path("quarl_rpc_test_client").string();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_fds[1], 1);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    ::setenv("QUARL_RPC_SHM_NAME", block.c_str(), 1);
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  return {pid, pipe_fds[0]};
}

std::string read_line(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

// Waits for the client; its exit status and first output line.
std::pair<int, std::string> finish(Client client) {
  std::string line = read_line(client.out);
  ::close(client.out);
  int status = 0;
  ::waitpid(client.pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, line};
}

std::pair<int, std::string> run_client(const std::string& block, const std::vector<std::string>& args) {
  return finish(start_client(block, args));
}

class SharedVariables : public ::testing::Test {
 protected:
  std::string fails(const char* name, const std::string& text, int length = 40) {
    EXPECT_EQ(lib.call(name, text, length), padded("*****", size_t(length))) << name << " " << text;
    return lib.error();
  }
  rpctest::RpcLibrary lib;
};

TEST_F(SharedVariables, SetBumpAndGetWithZeroPadding) {
  EXPECT_EQ(lib.call("SetVariable", "COUNTER,41", 20), padded("COUNTER,41", 20));
  EXPECT_EQ(lib.call("BumpVariable", "COUNTER,6", 20), padded("000042", 20));
  EXPECT_EQ(lib.call("GetVariable", "COUNTER,0", 20), padded("42", 20));
  EXPECT_EQ(lib.call("GetVariable", " COUNTER , 3 ", 20), padded("042", 20));
  EXPECT_EQ(fails("GetVariable", "counter,0"), "Cannot find variable counter");
  EXPECT_EQ(fails("BumpVariable", "NEVERSET,0"), "Cannot find variable NEVERSET");
  // Padding and digits are cut to the buffer, whatever the width asks for.
  EXPECT_EQ(lib.call("GetVariable", "COUNTER,2000000000", 30), std::string(30, '0'));
  lib.call("SetVariable", "W,12345", 20);
  EXPECT_EQ(lib.call("GetVariable", "W,0", 3), "123");
}

TEST_F(SharedVariables, ValuesAreUnsigned64BitAndWrap) {
  lib.call("SetVariable", "N,-1", 30);
  EXPECT_EQ(lib.call("GetVariable", "N,0", 30), padded("18446744073709551615", 30));
  EXPECT_EQ(lib.call("BumpVariable", "N,0", 30), padded("0", 30));
  lib.call("SetVariable", "N,18446744073709551615", 30);  // the text GetVariable gives reads back
  EXPECT_EQ(lib.call("GetVariable", "N,0", 30), padded("18446744073709551615", 30));
}

TEST_F(SharedVariables, ValuesThatAreNoNumberAreRefused) {
  lib.call("SetVariable", "V,7", 30);
  struct Case {
    std::string value;
    std::string stored;  // empty: refused, and the variable keeps 7
  } cases[] = {
      {"abc", ""},  {"12abc", ""}, {"1 2", ""}, {"-", ""}, {"+5", "5"}, {"", "0"},
      {"18446744073709551616", ""},  // one more than the largest
      {"-9223372036854775808", "9223372036854775808"},
      {"-9223372036854775809", ""},
  };
  for (const auto& c : cases) {
    lib.call("SetVariable", "V,7", 30);
    if (c.stored.empty()) {
      EXPECT_EQ(fails("SetVariable", "V," + c.value), "Value " + c.value + " of variable V is not a whole number");
      EXPECT_EQ(lib.call("GetVariable", "V,0", 30), padded("7", 30)) << c.value;
    } else {
      lib.call("SetVariable", "V," + c.value, 30);
      EXPECT_EQ(lib.call("GetVariable", "V,0", 30), padded(c.stored, 30)) << c.value;
    }
  }
}

TEST_F(SharedVariables, NamesOfUpTo17Characters) {
  std::string name17(17, 'L'), name18(18, 'L');
  lib.call("SetVariable", name17 + ",5", 40);
  EXPECT_EQ(lib.call("GetVariable", name17 + ",0", 40), padded("5", 40));
  EXPECT_EQ(fails("SetVariable", name18 + ",5"), "Variable " + name18 + " exceeds 17 characters");
  EXPECT_EQ(fails("SetVariable", ",5"), "Variable name expected");
}

TEST_F(SharedVariables, HundredEntriesAtMost) {
  std::string block = fresh_block_name();
  std::string program = testsupport::bin_path("quarl_rpc_test_client").string();
  auto result = testsupport::run_command("QUARL_RPC_SHM_NAME=" + block + " '" + program +
                                         "' SetVariable*100:30:V%d,%d SetVariable:30:V42,7 GetVariable:10:V42,0 "
                                         "SetVariable:30:ONEMORE,1");
  quarl::platform::SharedMemory::remove(block);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("[7         ]"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("SetVariable: no free variable entries"), std::string::npos) << result.output;
}

TEST_F(SharedVariables, ProcessesBumpingOneNameNeverLoseAnIncrement) {
  std::string block = fresh_block_name();
  ASSERT_EQ(run_client(block, {"SetVariable:30:SHARED,500"}).first, 0);
  std::vector<Client> clients;
  for (int i = 0; i < 2; ++i) clients.push_back(start_client(block, {"BumpVariable*1000:30:SHARED,0"}));
  for (auto& c : clients) EXPECT_EQ(finish(c).first, 0);
  auto [status, line] = run_client(block, {"GetVariable:10:SHARED,0"});
  quarl::platform::SharedMemory::remove(block);
  EXPECT_EQ(line, "[2500      ]");
}

TEST_F(SharedVariables, ProcessesStartingTogetherShareOneBlock) {
  std::string block = fresh_block_name();
  std::vector<Client> clients;
  for (int i = 0; i < 4; ++i)
    clients.push_back(start_client(block, {"SetVariable:30:P" + std::to_string(i) + ",7"}));
  for (auto& c : clients) EXPECT_EQ(finish(c).first, 0);
  auto [status, line] = run_client(block, {"GetVariable:2:P0,0", "GetVariable:2:P1,0", "GetVariable:2:P2,0",
                                           "GetVariable:2:P3,0"});
  quarl::platform::SharedMemory::remove(block);
  EXPECT_EQ(status, 0) << "a name was lost while the block was being created";
}

TEST_F(SharedVariables, AKilledLockHolderDoesNotBlockTheOthers) {
  std::string block = fresh_block_name();
  ASSERT_EQ(run_client(block, {"SetVariable:30:K,1"}).first, 0);
  Client holder = start_client(block, {"--hold-lock", block});
  ASSERT_EQ(read_line(holder.out), "locked");
  ::kill(holder.pid, SIGKILL);
  finish(holder);
  auto [status, line] = run_client(block, {"BumpVariable:10:K,0"});
  quarl::platform::SharedMemory::remove(block);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(line, "[2         ]");
}

TEST(TimeStampAndPaths, TimeStampIsTodaysLocalTime) {
  rpctest::RpcLibrary lib;
  time_t now = ::time(nullptr);
  struct tm parts {};
  ::localtime_r(&now, &parts);
  std::string stamp = lib.call("GetTimeStamp", "", 20);
  ASSERT_EQ(stamp.substr(15), "     ");
  EXPECT_EQ(stamp.find_first_not_of("0123456789"), 15u);
  EXPECT_EQ(std::stoi(stamp.substr(0, 4)), parts.tm_year + 1900);
  EXPECT_LT(std::stoi(stamp.substr(7, 5)), 86400);
  EXPECT_EQ(lib.call("GetTimeStamp", "", 6), stamp.substr(0, 6));
}

TEST(TimeStampAndPaths, FilesAndFolders) {
  rpctest::RpcLibrary lib;
  testsupport::TempDir dir;
  std::string file = (dir / "a,b.txt").string(), folder = (dir / "sub").string();
  testsupport::write_file(file, "x");
  auto expect_ok = [&](const char* name, const std::string& path) {
    EXPECT_EQ(lib.call(name, path, 200), std::string(200, ' ')) << name << " " << path << ": " << lib.error();
  };
  auto expect_fail = [&](const char* name, const std::string& path, const std::string& message) {
    EXPECT_EQ(lib.call(name, path, 200), padded("*****", 200)) << name << " " << path;
    EXPECT_EQ(lib.error(), message);
  };
  expect_ok("FileExists", file);  // a comma belongs to the path
  expect_fail("FolderExists", file, file + " is not a folder");
  expect_fail("FileExists", folder, "File " + folder + " does not exist");
  expect_ok("CreateFolder", folder);
  expect_ok("FolderExists", folder);
  expect_fail("FileExists", folder, folder + " is a folder");
  expect_fail("CreateFolder", folder, "Cannot create folder " + folder);
  std::string deep = (dir / "no" / "such").string();
  expect_fail("CreateFolder", deep, "Cannot create folder " + deep);
  expect_fail("FolderExists", deep, "Folder " + deep + " does not exist");
}

}  // namespace
