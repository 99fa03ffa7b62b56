// Record files through the exports: reading and writing by records, the
// conversions, and the messages of every failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/rpc/rpc_library.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;
using testsupport::read_file;
using testsupport::write_file;

class RecordFiles : public ::testing::Test {
 protected:
  // The session's files outlive a test that fails half-way: close them all.
  void TearDown() override {
    for (const char* close : {"CloseReadFile", "CloseWriteFile", "CloseUpdateFile"}) lib.call(close, "", 10);
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  // Calls and expects success: the buffer must not carry the failure marker.
  std::string ok(const char* name, const std::string& text, int length) {
    std::string out = lib.call(name, text, length);
    EXPECT_NE(out.substr(0, 5), "*****") << name << " '" << text << "' failed: " << lib.error();
    return out;
  }
  // Calls and expects failure; returns the error text.
  std::string fails(const char* name, const std::string& text, int length = 200) {
    std::string out = lib.call(name, text, length);
    EXPECT_EQ(out, padded("*****", size_t(length))) << name << " '" << text << "'";
    return lib.error();
  }
  rpctest::RpcLibrary lib;
  testsupport::TempDir dir;
};

TEST_F(RecordFiles, ReadsRecordsBlankPaddedAndCutToTheBuffer) {
  write_file(dir / "in.txt", "ABC\r\nABCDEFGHIJKLMNO\r\n   \t\r\nmid\rdle\nlast");
  ok("OpenReadFile", path("in.txt"), 200);
  EXPECT_EQ(ok("ReadNextRecord", "", 10), "ABC       ");
  EXPECT_EQ(ok("ReadNextRecord", "", 10), "ABCDEFGHIJ");
  EXPECT_EQ(ok("ReadNextRecord", "", 10), std::string(10, ' '));
  EXPECT_EQ(ok("ReadNextRecord", "", 10), "mid\rdle   ");  // only a line end's carriage return goes
  EXPECT_EQ(ok("ReadNextRecord", "", 10), "last      ");  // no line feed after the last line
  EXPECT_EQ(fails("ReadNextRecord", "", 10), "EOF");
  EXPECT_EQ(fails("ReadNextRecord", "", 10), "EOF");
  ok("CloseReadFile", "", 10);
  ok("OpenReadFile", path("in.txt"), 200);
  EXPECT_EQ(ok("ReadNextRecord", "", 10), "ABC       ");
}

TEST_F(RecordFiles, NotEmptySkipsBlankLinesInAnyCase) {
  write_file(dir / "in.txt", "\r\n   \r\nX\r\n\r\nY\r\n");
  ok("OpenUpdateFile", path("in.txt"), 200);
  EXPECT_EQ(ok("GetNextRecord", "notempty", 10), "X         ");
  EXPECT_EQ(ok("GetNextRecord", "NOTEMPTY", 10), "Y         ");
  EXPECT_EQ(fails("GetNextRecord", "NotEmpty", 10), "EOF");
}

TEST_F(RecordFiles, LongLinesAcrossReadAheadBoundaries) {
  std::string longest(70000, 'x');
  longest[32766] = 'y';
  write_file(dir / "in.txt", longest + "\t \r\nNEXT\r\n");
  ok("OpenReadFile", path("in.txt"), 200);
  std::string first = ok("ReadNextRecord", "", 32767);
  EXPECT_EQ(first, longest.substr(0, 32767));
  EXPECT_EQ(ok("ReadNextRecord", "", 6), "NEXT  ");
  EXPECT_EQ(ok("GetMaxRecLength", path("in.txt"), 200), padded("70000", 200));
}

TEST_F(RecordFiles, InputUpdateAndOutputFilesAreIndependent) {
  write_file(dir / "a.txt", "A1\r\nA2\r\n");
  write_file(dir / "b.txt", "B1\r\n");
  ok("OpenReadFile", path("a.txt"), 200);
  ok("OpenUpdateFile", path("b.txt"), 200);
  ok("OpenWriteFile", path("out.txt"), 200);
  EXPECT_EQ(ok("ReadNextRecord", "", 4), "A1  ");
  EXPECT_EQ(ok("GetNextRecord", "", 4), "B1  ");
  EXPECT_EQ(ok("ReadNextRecord", "", 4), "A2  ");
  EXPECT_EQ(fails("OpenReadFile", path("b.txt")), "There is already an input file open");
  EXPECT_EQ(fails("OpenUpdateFile", path("a.txt")), "There is already an update file open");
  EXPECT_EQ(fails("OpenWriteFile", path("x.txt")), "There is already an output file open");
}

TEST_F(RecordFiles, OperationsOnClosedFiles) {
  const std::pair<const char*, const char*> cases[] = {
      {"ReadNextRecord", "There is no input file open"},   {"CloseReadFile", "There is no input file open"},
      {"WriteNextRecord", "There is no output file open"}, {"CloseWriteFile", "There is no output file open"},
      {"GetNextRecord", "There is no update file open"},   {"CloseUpdateFile", "There is no update file open"},
  };
  for (auto [name, message] : cases) EXPECT_EQ(fails(name, "text"), message) << name;
}

TEST_F(RecordFiles, OpenFailuresNameTheirCause) {
  std::filesystem::create_directory(dir / "folder");
  const std::pair<std::string, std::string> cases[] = {
      {path("missing.txt"), "File " + path("missing.txt") + " not found"},
      {path("nofolder/in.txt"), "Bad path " + path("nofolder/in.txt")},
      {path("folder"), "Error opening " + path("folder") + " = 5"},
  };
  for (const auto& [file, message] : cases) {
    EXPECT_EQ(fails("OpenReadFile", file), message);
    EXPECT_EQ(fails("OpenUpdateFile", file), message);
    EXPECT_EQ(fails("GetMaxRecLength", file), message);
  }
  EXPECT_EQ(fails("OpenWriteFile", path("nofolder/out.txt")), "Bad path " + path("nofolder/out.txt"));
  EXPECT_EQ(fails("OpenWriteFile", path("folder")), "Error opening " + path("folder") + " = 5");
  if (::geteuid() != 0) {
    write_file(dir / "locked.txt", "x");
    ::chmod(path("locked.txt").c_str(), 0);
    EXPECT_EQ(fails("OpenReadFile", path("locked.txt")), "Error opening " + path("locked.txt") + " = 5");
  }
}

TEST_F(RecordFiles, WritesRecordsWithCarriageReturnAndLineFeed) {
  write_file(dir / "out.txt", "old contents\r\n");
  ok("OpenWriteFile", path("out.txt"), 200);  // empties the file
  EXPECT_EQ(ok("WriteNextRecord", "AB", 6), "AB    ");  // the buffer is left as it was
  ok("WriteNextRecord", "", 6);
  ok("WriteNextRecord", "a\nb", 6);  // a line feed inside is written as a line end
  ok("CloseWriteFile", "", 6);
  EXPECT_EQ(read_file(dir / "out.txt"), "AB\r\n\r\na\r\nb\r\n");

  ok("OpenWriteFile", path("out.txt") + " , append", 200);
  ok("WriteNextRecord", "CD", 4);
  ok("CloseWriteFile", "", 4);
  EXPECT_EQ(read_file(dir / "out.txt"), "AB\r\n\r\na\r\nb\r\nCD\r\n");

  EXPECT_EQ(fails("OpenWriteFile", path("out.txt") + ",add"), "Invalid open option add");
  EXPECT_EQ(read_file(dir / "out.txt"), "AB\r\n\r\na\r\nb\r\nCD\r\n");
  ok("OpenWriteFile", path("new.txt") + ",APPEND", 200);  // created when missing
  ok("CloseWriteFile", "", 4);
  EXPECT_TRUE(std::filesystem::exists(dir / "new.txt"));
}

TEST_F(RecordFiles, WriteErrorsAreReportedNotLost) {
  // Buffered records that the device refuses fail at the latest when the file is closed.
  ok("OpenWriteFile", "/dev/full", 200);
  std::string message;
  for (int i = 0; i < 2000 && message.empty(); ++i)
    if (lib.call("WriteNextRecord", std::string(100, 'x'), 100).substr(0, 5) == "*****") message = lib.error();
  if (message.empty()) message = fails("CloseWriteFile", "");
  else lib.call("CloseWriteFile", "", 10);  // already reported; the file is closed either way
  EXPECT_EQ(message, "Error writing file = 13");
  write_file(dir / "in.txt", "AB\r\n");
  EXPECT_EQ(fails("VariableToFixed", path("in.txt") + ",/dev/full,,5"), "Error writing file = 13");
}

TEST_F(RecordFiles, GetMaxRecLength) {
  write_file(dir / "empty.txt", "");
  EXPECT_EQ(ok("GetMaxRecLength", path("empty.txt"), 200), padded("0", 200));
  write_file(dir / "in.txt", "abc   \r\nabcd\t\r\nab\r\n");
  EXPECT_EQ(ok("GetMaxRecLength", path("in.txt"), 200), padded("4", 200));
}

TEST_F(RecordFiles, VariableToFixed) {
  write_file(dir / "in.txt", "AB\r\n\r\nABCDE\r\n");
  EXPECT_EQ(ok("VariableToFixed", path("in.txt") + "," + path("out.txt") + ",,5", 200), padded("3,1", 200));
  EXPECT_EQ(read_file(dir / "out.txt"), "AB   \r\n     \r\nABCDE\r\n");
  EXPECT_EQ(ok("VariableToFixed", path("in.txt") + "," + path("out.txt") + ",NotEmpty,5", 200), padded("2,1", 200));
  EXPECT_EQ(read_file(dir / "out.txt"), "AB   \r\nABCDE\r\n");

  for (const char* size : {"0", "abc", "-3", ""})
    EXPECT_EQ(fails("VariableToFixed", path("in.txt") + "," + path("none.txt") + ",," + size),
              "Record size must be greater than 0");
  EXPECT_FALSE(std::filesystem::exists(dir / "none.txt"));  // nothing is opened

  write_file(dir / "long.txt", "ab\r\nabcdef\r\nabcdefghi\r\nab\r\n");
  EXPECT_EQ(fails("VariableToFixed", path("long.txt") + "," + path("out.txt") + ",x,3"),
            "Record Length 3 exceeded, maximum record length found=9");
  EXPECT_EQ(read_file(dir / "out.txt"), "ab \r\n");
  EXPECT_EQ(fails("VariableToFixed", path("missing.txt") + "," + path("out.txt") + ",,3"),
            "File " + path("missing.txt") + " not found");
  EXPECT_EQ(fails("VariableToFixed", path("in.txt") + "," + path("no/out.txt") + ",,3"),
            "Bad path " + path("no/out.txt"));
}

TEST_F(RecordFiles, FixedToVariable) {
  write_file(dir / "in.txt", "AB   \r\n     \r\nABCDE\r\n");
  EXPECT_EQ(ok("FixedToVariable", path("in.txt") + "," + path("out.txt"), 200), padded("3,1", 200));
  EXPECT_EQ(read_file(dir / "out.txt"), "AB\r\n\r\nABCDE\r\n");
  EXPECT_EQ(ok("FixedToVariable", path("in.txt") + "," + path("out.txt") + ",notempty", 200), padded("2,1", 200));
  EXPECT_EQ(read_file(dir / "out.txt"), "AB\r\nABCDE\r\n");
}

}  // namespace
