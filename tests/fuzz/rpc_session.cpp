// The RPC library's replies through its exports: host procedure and
// coroutine calls (the host's version and login replies are answered as a
// host would, the replies to the call blocks and the procedure's response
// blocks are the fuzzer's), and transaction-code calls over TCP (the reply
// bytes are the fuzzer's).
//
// Input: the first record chooses the call (its type byte: 0 ExeCall,
// 1 CorCall, 2 ExeCall22, 3 Connect with the text as its item list), the
// area's length (its code byte, times 40, plus the text's length) and
// carries the area's text; the other records are the replies (for ExeCall22
// their data, one after the other, is the byte stream of the reply).
//
// With QUARL_FUZZ_RECORD=PREFIX, QUARL_FUZZ_SERVER=HOST:PORT and (for
// ExeCall22) QUARL_FUZZ_TRANCODE=HOST:PORT each input file's call goes to a
// real Host Server, and PREFIX.rpc receives the exchange as a seed (and
// PREFIX.transactions the request ExeCall22 sent, for hostserver_transactions).
#include <cstring>
#include <thread>

#include "common/scramble.h"
#include "common/trancode.h"
#include "rpc/quarlrpc.h"
#include "tests/fuzz/fuzz_client.h"
#include "tests/support/scripted_provider.h"

namespace {

namespace tc = quarl::trancode;

int g_listener = -1, g_listen_port = 0;

struct Harness {
  Harness() {
    fuzz::client_files("rpc", "[FUZZ]\nProvider=Scripted\nConnection=HOST1\nUID=DEMO\nPWD=" + quarl::scramble("DEMO") + "\n");
    g_listener = fuzz::listen_loopback(g_listen_port);
  }
};

struct Host {
  std::vector<fuzz::Record> replies;
  bool queued = false;
  fuzz::HostSide host;
  int server = -1;  // record mode
  std::string recorded;
  std::string transaction_request;  // the bytes ExeCall22 sent

  std::vector<scripted::Incoming> respond(const std::string& bytes) {
    auto kind = fuzz::request_kind(bytes);
    if (!kind) return {};
    unsigned type = kind->first, code = kind->second;
    bool connection_level = type == 0;
    if (server >= 0) {
      std::vector<scripted::Incoming> out;
      for (auto& body : fuzz::forward(server, bytes, connection_level ? nullptr : &recorded))
        out.push_back({scripted::Incoming::Message, body});
      return out;
    }
    auto message = [&](unsigned t, unsigned c, const std::string& data) {
      return scripted::Incoming{scripted::Incoming::Message, host.message(t, c, data)};
    };
    if (connection_level) {
      if (code == 0) return {message(0, 0, fuzz::kVersionReply)};
      return {message(0, code, "008192")};
    }
    if (queued) return {};
    queued = true;
    std::vector<scripted::Incoming> out;
    for (auto& r : replies)
      out.push_back(r.type == fuzz::kRaw ? scripted::Incoming{scripted::Incoming::Message, r.data}
                                         : message(r.type, r.code, r.data));
    return out;
  }
};

Host* g_host = nullptr;

void call(void (*f)(char*, int16_t), std::string text, size_t length) {
  text.resize(length, ' ');
  f(text.data(), static_cast<int16_t>(length));
}

// Answers the one transaction connection of an input: reads the request,
// then sends reply (or, in record mode, what the real listener answers).
void answer_transaction(std::string reply, int real, std::string* recorded, std::string* request) {
  pollfd p{g_listener, POLLIN, 0};
  if (::poll(&p, 1, 5000) <= 0) return;
  int fd = ::accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::string in;
  fuzz::receive_until(
      fd, in,
      [](std::string& got) {
        return got.size() >= tc::kLengthWidth && got.size() >= tc::read_length(std::string_view(got).substr(0, 6));
      },
      5000);
  *request = in;
  if (real >= 0) {
    std::string back;
    fuzz::exchange(real, in, back);
    fuzz::receive_until(
        real, back,
        [](std::string& got) { return got.size() >= 6 && got.size() >= tc::read_length(std::string_view(got).substr(0, 6)); },
        5000);
    reply = back;
    *recorded += fuzz::write_record(0, 0, back);
  }
  std::string ignored;
  fuzz::exchange(fd, reply, ignored, 5000);
  fuzz::close_now(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  auto records = fuzz::read_records(data, size);
  if (records.empty()) return 0;
  const fuzz::Record& first = records[0];
  size_t length = std::min<size_t>(first.data.size() + size_t(first.code) * 40, 32767);
  if (length == 0) length = 1;
  Host host;
  host.replies.assign(records.begin() + 1, records.end());
  auto path = fuzz::record_path();
  int real_trancode = -1;
  if (path) {
    std::string a = std::getenv("QUARL_FUZZ_SERVER") ? std::getenv("QUARL_FUZZ_SERVER") : "";
    host.server = fuzz::connect_loopback(std::stoi(a.substr(a.rfind(':') + 1)));
    std::string t = std::getenv("QUARL_FUZZ_TRANCODE") ? std::getenv("QUARL_FUZZ_TRANCODE") : "";
    if (!t.empty()) real_trancode = fuzz::connect_loopback(std::stoi(t.substr(t.rfind(':') + 1)));
  }
  g_host = &host;
  scripted::reset();
  scripted::set_responder([](const std::string& bytes) { return g_host->respond(bytes); });

  uint8_t kind = first.type % 4;
  if (kind == 3) {
    call(Connect, first.data, length);
    call(GetError, "", 200);
    call(Disconnect, "", 10);
  } else if (kind < 2) {
    call(Connect, "FUZZ", 40);
    if (kind == 0) {
      call(LibraryName, "LIB", 20);
      call(EntryPoint, "ECHO", 20);
      call(ExeCall, first.data, length);
    } else {
      call(CoRoutineName, "LIB/ECHO", 20);
      call(CorCall, first.data, length);
    }
    call(GetError, "", 200);
    call(Disconnect, "", 10);
  } else {
    std::string reply;
    for (size_t i = 1; i < records.size(); ++i) reply += records[i].data;
    std::thread server(answer_transaction, reply, real_trancode, &host.recorded, &host.transaction_request);
    call(Connect22, "127.0.0.1," + std::to_string(g_listen_port), 40);
    call(Trancode22, "ECHO", 10);
    call(ExeCall22, first.data, length);
    call(GetError, "", 200);
    call(Disconnect22, "", 10);
    server.join();
  }
  scripted::reset();
  g_host = nullptr;
  if (path) {
    if (host.server >= 0) ::close(host.server);
    if (real_trancode >= 0) ::close(real_trancode);
    fuzz::write_file(*path + ".rpc", fuzz::write_record(first.type, first.code, first.data) + host.recorded);
    if (!host.transaction_request.empty()) fuzz::write_file(*path + ".transactions", host.transaction_request);
  }
  return 0;
}
