// The Host Server's transaction listener, in this process over a loopback
// connection: an input is the raw bytes a client sends (requests one after
// the other).  The exchange ends when every whole request has its reply or
// the server ends the link.
#include "common/trancode.h"
#include "tests/fuzz/fuzz_server.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace tc = quarl::trancode;

struct Harness {
  int port = 0;

  Harness() {
    auto dir = fuzz::work_dir("transactions");
    std::filesystem::create_directories(dir / "transactions");
    std::vector<std::string> args{"--trancode-listen", "127.0.0.1:0", "--transactions",
                                  (dir / "transactions").string(), "--database", (dir / "host.sqlite").string()};
    hostserver::ServerOptions options;
    options.io_seconds = 5;
    // The transaction listener's address is announced on standard output.
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) std::abort();
    int saved = ::dup(1);
    ::dup2(pipe_fds[1], 1);
    std::string bound;
    fuzz::start_server(args, options, bound);
    std::string line;
    char c;
    while (::read(pipe_fds[0], &c, 1) == 1 && c != '\n') line += c;
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    port = std::stoi(line.substr(line.rfind(':') + 1));
  }
};

Harness& harness() {
  static Harness* h = new Harness;
  return *h;
}

// How many whole requests the bytes hold, as the server reads them; a bad
// length field ends the stream (the server answers it and hangs up).
size_t whole_requests(std::string_view bytes) {
  size_t count = 0;
  while (bytes.size() >= tc::kLengthWidth) {
    auto total = tc::read_length_strict(bytes.substr(0, tc::kLengthWidth));
    if (!total || *total < tc::kHeaderSize || *total > tc::kTransferSize) return count + 1;
    if (bytes.size() < *total) break;
    ++count;
    bytes.remove_prefix(*total);
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness& h = harness();
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t expected = whole_requests(bytes);
  int fd = fuzz::connect_loopback(h.port);
  if (fd < 0) std::abort();
  std::string in;
  size_t replies = 0;
  auto count = [&](std::string& got) {
    while (got.size() >= tc::kLengthWidth) {
      uint32_t total = tc::read_length(std::string_view(got).substr(0, tc::kLengthWidth));
      if (total < tc::kLengthWidth || got.size() < total) break;
      got.erase(0, total);
      ++replies;
    }
    return replies >= expected;
  };
  if (fuzz::exchange(fd, bytes, in, 30000)) fuzz::receive_until(fd, in, count, 30000);
  fuzz::close_now(fd);
  return 0;
}
