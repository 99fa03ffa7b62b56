// The frame as clients see it: libquarlrpc.so loaded with dlopen, buffers
// with guard bytes around them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/rpc/rpc_library.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;
using rpctest::RpcLibrary;

std::string client() { return testsupport::bin_path("quarl_rpc_test_client").string(); }

TEST(FrameExports, ExportsOnlyTheBufferFunctions) {
  RpcLibrary lib;
  for (const char* name : {"GetError", "GetVersion", "TestFunc", "Connect22", "ExeCall22", "OpenReadFile",
                           "FixedToVariable", "SetVariable", "GetTimeStamp", "CreateFolder"})
    EXPECT_NE(::dlsym(lib.handle(), name), nullptr) << name;
  auto result = testsupport::run_command("nm -D --defined-only '" + rpctest::library_path() + "'");
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.output.find("_Z"), std::string::npos) << result.output;
}

TEST(FrameExports, GetVersionIsBlankPaddedOrCut) {
  RpcLibrary lib;
  EXPECT_EQ(lib.call("GetVersion", "", 20), "5.000.005" + std::string(11, ' '));
  EXPECT_EQ(lib.call("GetVersion", "", 4), "5.00");
  EXPECT_EQ(lib.call("GetVersion", "", 0), "");
}

TEST(FrameExports, FailureMarkerAndErrorText) {
  RpcLibrary lib;
  // A keep-on-success failure blanks the buffer and marks it; short buffers get a cut marker.
  EXPECT_EQ(lib.call("CloseReadFile", "some input", 12), "*****" + std::string(7, ' '));
  EXPECT_EQ(lib.call("CloseReadFile", "abc", 3), "***");
  EXPECT_EQ(lib.call("CloseReadFile", "", 0), "");
  // A later success leaves the message of the last failure.
  EXPECT_EQ(lib.call("GetVersion", "", 9), "5.000.005");
  EXPECT_EQ(lib.call("GetError", "", 40), padded("There is no input file open", 40));
  EXPECT_EQ(lib.call("GetError", "", 8), "There is");
  EXPECT_EQ(lib.call("GetError", "", 0), "");
}

TEST(FrameExports, NegativeLengthIsRefusedWithoutTouchingTheBuffer) {
  RpcLibrary lib;
  // call() checks the guard bytes around the (empty) area.
  lib.call("GetVersion", "", -1);
  lib.call("CloseReadFile", "", -32768);
  EXPECT_EQ(lib.error(), "Invalid buffer length -32768");
  lib.call("GetError", "", -7);
  EXPECT_EQ(lib.error(), "Invalid buffer length -7");
}

TEST(FrameExports, TestFuncLeavesTheBufferAlone) {
  RpcLibrary lib;
  EXPECT_EQ(lib.call("TestFunc", "abc", 3), "abc");
  EXPECT_EQ(lib.call("TestFunc", "xyz     ", 8), "xyz     ");
}

TEST(FrameExports, ErrorTextIsEmptyInAFreshProcess) {
  auto result = testsupport::run_command("'" + client() + "' GetError:100:");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(result.output, "[" + std::string(100, ' ') + "]\n");
}

TEST(FrameExports, AnyExportCallKeepsTheLibraryLoaded) {
  auto untouched = testsupport::run_command("'" + client() + "' --report-unload");
  EXPECT_EQ(untouched.output, "unloaded\n");
  auto called = testsupport::run_command("'" + client() + "' --report-unload TestFunc:0:");
  EXPECT_EQ(called.output, "[]\nstill loaded\n");
}

TEST(FrameExports, SessionSurvivesTheClientUnloadingTheLibrary) {
  {
    RpcLibrary first;
    first.call("CloseUpdateFile", "", 10);
  }
  RpcLibrary second;
  EXPECT_EQ(second.error(), "There is no update file open");
}

}  // namespace
