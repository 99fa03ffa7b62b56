// Transaction requests answered from a transactions folder of real
// programs: names, the request's parts, failures as marked replies, and
// names that would leave the folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "common/trancode.h"
#include "hostserver/transactions.h"
#include "tests/support/test_env.h"

namespace {

class Transactions : public ::testing::Test {
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
    std::filesystem::create_symlink("/bin/true", dir / "OUT");
    std::filesystem::create_symlink(dir / "ECHO", dir / "ALIAS");
  }
  void add(const std::string& name, const std::string& body) {
    testsupport::write_file(dir / name, "#!/bin/sh\n" + body + "\n");
    ::chmod((dir / name).c_str(), 0755);
  }
  std::string call(const std::string& code, const std::string& data, const std::string& library = "LIB",
                   const std::string& entry = "EP") {
    hostserver::ProgramFolder folder("Transaction", "transactions",
                                     {dir.path().string(), std::chrono::seconds(1), quarl::trancode::kTransferSize});
    std::string request = quarl::trancode::encode_request(code, library, entry, data);
    return hostserver::answer_transaction(folder, std::string_view(request).substr(6, 106),
                                          std::string_view(request).substr(112), nullptr);
  }
  testsupport::TempDir dir;
};

TEST_F(Transactions, RunTheNamedProgramWithTheRequest) {
  EXPECT_EQ(call("ECHO", "hello"), "hello");
  EXPECT_EQ(call("echo", std::string(9999, 'd')), std::string(9999, 'd'));  // codes are upper-cased
  EXPECT_EQ(call("names", "data", "obj/dec/lib", "Proc 1"), "NAMES|obj/dec/lib|Proc 1|data");
  EXPECT_EQ(call("ALIAS", "a link inside the folder"), "a link inside the folder");
}

TEST_F(Transactions, FailuresBecomeMarkedReplies) {
  EXPECT_EQ(call("FAIL", ""), "*****Account 7 is closed");
  EXPECT_EQ(call("QUIET", ""), "*****Transaction QUIET failed with exit status 4");
  EXPECT_EQ(call("BIG", ""), "*****Transaction BIG wrote more than 10111 bytes");
  EXPECT_EQ(call("SLOW", ""), "*****Transaction SLOW exceeded its time limit of 1 second");
}

TEST_F(Transactions, CodesCannotReachOutsideTheFolder) {
  for (const char* code : {"../BIN", "A.TXT", "A/B", "", " ", "NO$X"})
    EXPECT_EQ(call(code, "").substr(0, 29), "*****Invalid transaction code") << code;
  for (const char* code : {"NOPE", "NOEXEC", "FOLDER"})
    EXPECT_EQ(call(code, ""), std::string("*****Unknown transaction code ") + code);
  EXPECT_EQ(call("OUT", ""),
            "*****Transaction OUT is a link that leads outside the transactions folder; the host does not run it");
  EXPECT_TRUE(hostserver::ProgramFolder::valid_part("A_1-2"));
  EXPECT_FALSE(hostserver::ProgramFolder::valid_part("a"));
}

}  // namespace
