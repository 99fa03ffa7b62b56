// The Host Server's handling of every request a client can send, through a
// real server (all its modules, a real SQLite file, procedures) in this
// process over a loopback connection.  An input is a series of request
// records (fuzz_support.h); an odd first byte of the first record's code
// leaves out the version request and login that a client sends first, so
// that what a client may send before logging in is fuzzed too.  After the
// records a version request on sub id 63 marks the end: its reply (or the
// server ending the link) ends the input.
#include <sys/stat.h>

#include "tests/fuzz/fuzz_server.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Harness {
  int port = 0;

  Harness() {
    auto dir = fuzz::work_dir("hostserver");
    std::filesystem::create_directories(dir / "procedures" / "LIB");
    fuzz::write_file(dir / "procedures" / "LIB" / "ECHO", "#!/bin/sh\nexec cat\n");
    ::chmod((dir / "procedures" / "LIB" / "ECHO").c_str(), 0755);
    std::vector<std::string> args{"--database",          (dir / "host.sqlite").string(),
                                  "--procedures",        (dir / "procedures").string(),
                                  "--procedure-seconds", "2",
                                  "--statement-seconds", "2",
                                  "--client-memory-mb",  "32",
                                  "--transaction-idle-seconds", "2",
                                  "--busy-seconds", "1"};
    hostserver::ServerOptions options;
    options.io_seconds = 5;
    // Every input logs in from the same address: failures must not lock it.
    options.login.per_address = 1u << 30;
    options.login.per_connection = 1u << 30;
    options.login.first_delay = options.login.max_delay = std::chrono::milliseconds(0);
    std::string bound;
    fuzz::start_server(args, options, bound);
    port = fuzz::port_of(bound);
  }
};

Harness& harness() {
  static Harness* h = new Harness;  // lives until the process ends
  return *h;
}

bool is_marker(const std::string& body) {
  return body.size() >= 14 && body.compare(0, 3, "#@!") == 0 && body.compare(4, 6, "630000") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness& h = harness();
  auto records = fuzz::read_records(data, size);
  bool log_in = records.empty() || records.front().code % 2 == 0;
  std::string out;
  char sequence = '9';
  auto add = [&](unsigned type, unsigned code, std::string_view body) {
    out += fuzz::frame(fuzz::host_message(sequence, 7, type, code, body));
    sequence = fuzz::next_sequence(sequence);
  };
  if (log_in) {
    add(0, 0, "");
    add(0, 1, "108192DEMO/DEMO.QUARL/CLIENTCONFIG.");
  }
  for (auto& r : records) {
    if (r.type == fuzz::kRaw) {
      out += fuzz::frame(r.data);
    } else {
      add(r.type, r.code, r.data);
    }
  }
  out += fuzz::frame(fuzz::host_message(sequence, 63, 0, 0, ""));

  int fd = fuzz::connect_loopback(h.port);
  if (fd < 0) std::abort();
  std::string in;
  // Replies are read while the requests go out; the marker's reply, or the
  // server ending the link, ends the exchange.
  if (fuzz::exchange(fd, out, in, 60000)) {
    bool seen = false;
    fuzz::receive_until(
        fd, in,
        [&](std::string& bytes) {
          for (auto& body : fuzz::take_frames(bytes)) seen = seen || is_marker(body);
          return seen;
        },
        60000);
  }
  fuzz::close_now(fd);
  return 0;
}
