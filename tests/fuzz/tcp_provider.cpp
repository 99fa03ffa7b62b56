// The client's receive path from the socket up: the TCP/IP provider's
// framing (through the communications shell, as the driver and the RPC
// library open it) and the host channel's envelope (control bytes, foreign
// messages, repeated sequence characters, headers and lengths).  The far
// side is a loopback socket that answers the client's first message with
// the input and then hangs up.  Input: records; type 0xFE sends its data as
// raw stream bytes (framing included), 0xFF frames its data as a whole
// message, anything else frames a HostMessage of that type and code.
#include <thread>

#include "hostlink/host_channel.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

int g_listener = -1, g_port = 0;

struct Harness {
  Harness() {
    auto dir = fuzz::work_dir("tcp");
    std::filesystem::create_directories(dir / "profile");
    fuzz::write_file(dir / "profile" / "tellix.ini", "");
    ::setenv("QUARL_PROFILE_DIR", (dir / "profile").c_str(), 1);
    g_listener = fuzz::listen_loopback(g_port);
  }
};

void far_side(std::string stream) {
  pollfd p{g_listener, POLLIN, 0};
  if (::poll(&p, 1, 5000) <= 0) return;
  int fd = ::accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::string in;
  fuzz::receive_until(fd, in, [](std::string& got) { return !fuzz::take_frames(got).empty(); }, 5000);
  std::string ignored;
  fuzz::exchange(fd, stream, ignored, 5000);
  ::shutdown(fd, SHUT_WR);
  fuzz::receive_until(fd, ignored, [](std::string&) { return false; }, 5000);  // until the client hangs up
  fuzz::close_now(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  std::string stream;
  char sequence = '0';
  for (auto& r : fuzz::read_records(data, size)) {
    if (r.type == 0xFE) {
      stream += r.data;
    } else if (r.type == fuzz::kRaw) {
      stream += fuzz::frame(r.data);
    } else {
      stream += fuzz::frame(fuzz::host_message(sequence, 0, r.type, r.code, r.data));
      sequence = fuzz::next_sequence(sequence);
    }
  }
  std::thread far(far_side, stream);
  {
    namespace hl = quarl::hostlink;
    hl::ProviderLink link;
    std::string connection = "127.0.0.1:" + std::to_string(g_port);
    if (link.open("TCP/IP", connection.c_str()) == hl::ProviderStep::None) {
      hl::HostChannel channel;
      channel.transmit_timeout = 5;
      if (channel.attach(link) && channel.send(0, 0, 0)) {
        hl::ReceiveOptions options;
        for (int i = 0; i < 200; ++i) {
          hl::Reply reply = channel.receive(2, options);
          if (reply) {
            // Read what the message says it holds, and its error items.
            volatile char sink = 0;
            for (char c : reply.data()) sink = static_cast<char>(sink ^ c);
            (void)reply.first_error_text();
            continue;
          }
          if (reply.outcome() == hl::Outcome::NonHost) {
            options.non_host_is_error = !options.non_host_is_error;
            continue;
          }
          if (reply.outcome() != hl::Outcome::Malformed) break;
        }
        channel.drain();
        channel.detach();
      }
      link.close();
    }
  }
  far.join();
  return 0;
}
