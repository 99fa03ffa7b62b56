// The clipboard exports on a real X server with xclip as the other program:
// text crosses both ways with the special characters, line by line too, and
// stays available after the writing client has ended.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/desktop/x_session.h"
#include "tests/support/test_env.h"

namespace {

using xtest::quote;

// What the client printed: each buffer, and "error: ..." after failed calls.
struct Result {
  std::vector<std::string> lines;
  std::string output;
};

// Runs the client's steps ("EXPORT:LENGTH:TEXT" or "!command"); its buffers
// (less trailing blanks) and error lines, in order.
Result client(const std::vector<std::string>& steps) {
  std::string command = quote(testsupport::bin_path("quarl_rpc_test_client").string()) + " --keep-going";
  for (const auto& s : steps) command += " " + quote(s);
  auto run = testsupport::run_command(command + " 2>/dev/null");
  Result r{{}, run.output};
  const std::string& out = run.output;
  for (size_t at = 0; at < out.size();) {
    if (out[at] == '[') {
      size_t close = out.find("]\n", at);
      if (close == std::string::npos) break;
      std::string b = out.substr(at + 1, close - at - 1);
      while (!b.empty() && b.back() == ' ') b.pop_back();
      r.lines.push_back(b);
      at = close + 2;
    } else {
      size_t end = out.find('\n', at);
      if (end == std::string::npos) end = out.size();
      r.lines.push_back(out.substr(at, end - at));
      at = end + 1;
    }
  }
  return r;
}

// The clipboard as xclip reads it (target, e.g. UTF8_STRING); the exit status too.
testsupport::CommandResult xclip_out(const std::string& target = "UTF8_STRING") {
  auto r = xtest::run_x("xclip -selection clipboard -o -t " + target);
  // Only what xclip read: its complaints (no such target) are not clipboard text.
  if (r.status != 0) r.output.clear();
  return r;
}

// xclip takes the clipboard in a process of its own, after its first one has
// ended: wait until it serves the text.
void xclip_in(const std::string& bytes, const std::string& options = "", const std::string& target = "UTF8_STRING") {
  auto r = xtest::run_x("xclip -selection clipboard -i " + options, bytes);
  ASSERT_EQ(r.status, 0) << r.output;
  auto deadline = std::chrono::steady_clock::now() + xtest::kBound;
  while (xclip_out(target).output != bytes) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "xclip does not serve " << bytes;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The same as a step of the client.
std::string xclip_in_step(const std::string& text) {
  return "!" + xtest::retrying("printf %s " + quote(text) + " | xclip -selection clipboard -i") +
         "; timeout 90 sh -c 'until [ \"$(xclip -selection clipboard -o 2>/dev/null)\" = " + text +
         " ]; do sleep 0.05; done'";
}

// The keepers serving this display's clipboard.
std::vector<int> keepers() {
  std::vector<int> pids;
  const std::string display = std::string("DISPLAY=") + std::getenv("DISPLAY");
  DIR* proc = ::opendir("/proc");
  while (dirent* e = proc ? ::readdir(proc) : nullptr) {
    int pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    std::string base = "/proc/" + std::string(e->d_name);
    std::ifstream cmd(base + "/cmdline");
    std::string argv0;
    std::getline(cmd, argv0, '\0');
    if (argv0.find("quarl-clipboard-keeper") == std::string::npos) continue;
    std::string status = testsupport::read_file(base + "/stat");
    if (status.find(") Z") != std::string::npos) continue;  // ended, not yet collected
    std::ifstream env(base + "/environ");
    for (std::string var; std::getline(env, var, '\0');)
      if (var == display) pids.push_back(pid);
  }
  if (proc) ::closedir(proc);
  return pids;
}

bool keepers_become(size_t count) {
  auto deadline = std::chrono::steady_clock::now() + xtest::kBound;
  while (std::chrono::steady_clock::now() < deadline) {
    if (keepers().size() == count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class ClipboardScreen : public ::testing::Test {
 protected:
  xtest::XServer x;
};

TEST_F(ClipboardScreen, TextPutByTheLibraryIsReadByXclipAfterTheClientEnded) {
  auto r = client({"PutClipboard:20:a#b@c"});
  ASSERT_EQ(r.lines, std::vector<std::string>{"a#b@c"}) << r.output;
  // The client has ended; its text is still there, under every text target.
  EXPECT_EQ(xclip_out().output, "a\r\nb\tc");
  EXPECT_EQ(xclip_out("text/plain\\;charset=utf-8").output, "a\r\nb\tc");
  EXPECT_EQ(xclip_out("STRING").output, "a\r\nb\tc");
  EXPECT_EQ(xclip_out("TEXT").output, "a\r\nb\tc");
  std::string targets = xclip_out("TARGETS").output;
  for (const char* t : {"UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT"})
    EXPECT_NE(targets.find(t), std::string::npos) << t << " in " << targets;
  EXPECT_TRUE(keepers_become(1));

  // Another program takes the clipboard: the keeper has nothing left to do.
  xclip_in("theirs");
  EXPECT_TRUE(keepers_become(0));

  // With the special characters off the text goes as it is; text beyond
  // Latin-1 becomes "?" only for readers of STRING; a byte that is not
  // UTF-8 is taken as Windows-1252.
  r = client({"DisableSpecialCh:5:", "PutClipboard:20:a#b"});
  EXPECT_EQ(xclip_out().output, "a#b");
  r = client({"PutClipboard:20:caf\xC3\xA9 \xE2\x82\xAC", "!" + xtest::retrying("xclip -selection clipboard -o -t STRING") + " | od -An -tx1"});
  EXPECT_EQ(xclip_out().output, "caf\xC3\xA9 \xE2\x82\xAC");
  ASSERT_EQ(r.lines.size(), 2u) << r.output;
  EXPECT_NE(r.lines[1].find("63 61 66 e9 20 3f"), std::string::npos) << r.lines[1];
  client({"PutClipboard:20:caf\xE9 \x80"});
  EXPECT_EQ(xclip_out().output, "caf\xC3\xA9 \xE2\x82\xAC");

  // An all-blank buffer leaves the clipboard empty.
  r = client({"PutClipboard:10:", "GetClipboard:10:"});
  EXPECT_EQ(r.lines, (std::vector<std::string>{"", "*****", "error: GetClipboard: EMPTY"})) << r.output;
  EXPECT_NE(xclip_out().status, 0);
  EXPECT_TRUE(keepers_become(0));
}

TEST_F(ClipboardScreen, TextPutByXclipIsReadWholeAndByLines) {
  xclip_in("one\r\ntwo\tx\rthree\nfour");
  auto r = client({"GetClipboard:30:", "DisableSpecialCh:5:", "GetClipboard:30:", "EnableSpecialCh:5:",
                   "SetSpecialChar:6:tab,%", "GetClipboard:30:"});
  EXPECT_EQ(r.lines, (std::vector<std::string>{"one#two@x[three]four", "", "one\r\ntwo\tx\rthree\nfour", "",
                                               "tab,%", "one#two%x[three]four"}))
      << r.output;

  // A pair counts as two characters of the buffer.
  xclip_in("a\r\nbc");
  EXPECT_EQ(client({"GetClipboard:4:"}).lines, std::vector<std::string>{"a#b"});

  // Latin-1 text offered as STRING only arrives as UTF-8.
  xclip_in("caf\xE9", "-noutf8", "STRING");
  EXPECT_EQ(client({"GetClipboard:10:"}).lines, std::vector<std::string>{"caf\xC3\xA9"});

  // The lines come from the text read at the open, whatever happens meanwhile.
  xclip_in("one\r\ntwo\r\nabcde");
  r = client({"OpenClipboardIn:5:", xclip_in_step("other"), "GetClipboardLine:10:",
              "GetClipboardLine:10:", "GetClipboardLine:3:", "GetClipboardLine:3:", "GetClipboardLine:5:",
              "CloseClipboardIn:5:", "GetClipboard:10:"});
  EXPECT_EQ(r.lines, (std::vector<std::string>{"", "", "one", "two", "abc", "de", "*****",
                                               "error: GetClipboardLine: EMPTY", "", "other"}))
      << r.output;
}

TEST_F(ClipboardScreen, LinesWrittenAppearTogetherAtClose) {
  xclip_in("before");
  auto r = client({"OpenClipboardOut:5:", "PutClipboardLine:10:one", "PutClipboardLine:10:t@o",
                   "PutClipboardLine:10:", "!" + xtest::retrying("xclip -selection clipboard -o"), "CloseClipboardOut:5:"});
  EXPECT_EQ(r.lines, (std::vector<std::string>{"", "one", "t@o", "", "before", ""})) << r.output;
  EXPECT_EQ(xclip_out().output, "one\r\nt\to\r\n\r\n");
  r = client({"OpenClipboardIn:5:", "GetClipboardLine:5:", "GetClipboardLine:5:", "GetClipboardLine:5:",
              "GetClipboardLine:5:"});
  EXPECT_EQ(r.lines, (std::vector<std::string>{"", "one", "t@o", "", "*****", "error: GetClipboardLine: EMPTY"}))
      << r.output;
}

TEST_F(ClipboardScreen, ModesExcludeEachOtherAndTheWholeTextCalls) {
  xclip_in("text");
  auto r = client({"OpenClipboardOut:5:", "OpenClipboardIn:5:", "OpenClipboardOut:5:", "GetClipboard:5:",
                   "PutClipboard:5:y", "PutClipboardLine:5:x", "CloseClipboardOut:5:",
                   "!" + xtest::retrying("xclip -selection clipboard -o")});
  EXPECT_EQ(r.lines, (std::vector<std::string>{
                         "",
                         "*****",
                         "error: OpenClipboardIn: Cannot open input clipboard while output clipboard is open",
                         "*****",
                         "error: OpenClipboardOut: Clipboard already open",
                         "*****",
                         "error: GetClipboard: Cannot open clipboard",
                         "*****",
                         "error: PutClipboard: Cannot open clipboard",
                         "x",
                         "",
                         "x\r\n",
                     }))
      << r.output;
  r = client({"OpenClipboardIn:5:", "OpenClipboardOut:5:", "OpenClipboardIn:5:", "GetClipboard:5:",
              "PutClipboardLine:5:x", "CloseClipboardOut:5:", "CloseClipboardIn:5:", "CloseClipboardIn:5:",
              "GetClipboardLine:5:"});
  EXPECT_EQ(r.lines, (std::vector<std::string>{
                         "",
                         "*****",
                         "error: OpenClipboardOut: Cannot open output clipboard while input clipboard is open",
                         "*****",
                         "error: OpenClipboardIn: Clipboard already open",
                         "*****",
                         "error: GetClipboard: Cannot open clipboard",
                         "*****",
                         "error: PutClipboardLine: Clipboard not open",
                         "*****",
                         "error: CloseClipboardOut: Clipboard not open",
                         "",
                         "*****",
                         "error: CloseClipboardIn: Clipboard not open",
                         "*****",
                         "error: GetClipboardLine: Clipboard not open",
                     }))
      << r.output;
}

// A clipboard whose owner offers no text.
TEST_F(ClipboardScreen, NoTextOnTheClipboardIsEmpty) {
  xclip_in("\x89PNG", "-t image/png", "image/png");
  auto r = client({"GetClipboard:5:", "OpenClipboardIn:5:"});
  EXPECT_EQ(r.lines, (std::vector<std::string>{"*****", "error: GetClipboard: EMPTY", "*****",
                                               "error: OpenClipboardIn: EMPTY"}))
      << r.output;
}

}  // namespace
