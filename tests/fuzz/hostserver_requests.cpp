// The Host Server's handling of every request a client can send, through a
// real server (all its modules, a real SQLite file, procedures) in this
// process over a loopback connection.  An input is a series of request
// records (fuzz_support.h); an odd first byte of the first record's code
// leaves out the version request and login that a client sends first, so
// that what a client may send before logging in is fuzzed too.  After the
// records a version request on sub id 63 marks the end: its reply (or the
// server ending the link) ends the input.
#include <sys/stat.h>

#include <algorithm>
#include <thread>

#include <CLI/CLI.hpp>

#include "hostserver/server.h"
#include "hostserver/server_log.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Harness {
  std::unique_ptr<hostserver::Server> server;
  int port = 0;

  Harness() {
    std::string error;
    hostserver::open_log({"", true}, error);
    auto dir = fuzz::work_dir("hostserver");
    std::filesystem::create_directories(dir / "procedures" / "LIB");
    fuzz::write_file(dir / "procedures" / "LIB" / "ECHO", "#!/bin/sh\nexec cat\n");
    ::chmod((dir / "procedures" / "LIB" / "ECHO").c_str(), 0755);
    auto modules = hostserver::make_modules();
    CLI::App app;
    for (auto& m : modules) m->add_options(app);
    std::vector<std::string> args{"--database",          (dir / "host.sqlite").string(),
                                  "--procedures",        (dir / "procedures").string(),
                                  "--procedure-seconds", "2",
                                  "--statement-seconds", "2",
                                  "--client-memory-mb",  "32",
                                  "--transaction-idle-seconds", "2",
                                  "--busy-seconds", "1"};
    std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
    app.parse(args);
    hostserver::ServerOptions options;
    options.listen = "127.0.0.1:0";
    options.io_seconds = 5;
    // Every input logs in from the same address: failures must not lock it.
    options.login.per_address = 1u << 30;
    options.login.per_connection = 1u << 30;
    options.login.first_delay = options.login.max_delay = std::chrono::milliseconds(0);
    server = std::make_unique<hostserver::Server>(options, hostserver::Users::demo(), std::move(modules));
    std::string bound;
    if (!server->start_modules(error) || !server->listen_hostmsg(options.listen, bound, error)) {
      std::fprintf(stderr, "cannot start the server: %s\n", error.c_str());
      std::abort();
    }
    port = std::stoi(bound.substr(bound.rfind(':') + 1));
    std::thread([this] { server->run(); }).detach();
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
  ::close(fd);
  return 0;
}
