// Host procedure calls (type 3): code 1 calls an entry point of a host
// library, code 2 a coroutine library.  A call arrives in blocks: the first
// carries the names, the area's full length and the first chunk of its
// text; continuation blocks carry further chunks; each block says whether
// it is the last.  Blocks before the last are answered with status 0 alone;
// the last is answered by the procedure's area in response blocks (status,
// last-block digit, 5-digit chunk length, chunk) sized to the session's
// message size.
#include <condition_variable>
#include <mutex>
#include <thread>

#include <CLI/CLI.hpp>

#include "common/hostmsg.h"
#include "hostserver/module.h"
#include "hostserver/procedure_service.h"
#include "hostserver/session.h"

namespace hostserver {
namespace {

namespace code = quarl::hostmsg::code;

// The call being received on a session.
struct PendingCall : SessionData {
  bool active = false;
  unsigned code = 0;
  std::string library, entry_point;
  size_t full = 0;
  std::string text;
};

// Reads a fixed-width number at pos and advances; false when the block is
// too short or the field is not all digits.
bool take_number(std::string_view data, size_t& pos, size_t width, unsigned& value) {
  if (data.size() - pos < width || !parse_digits(data.substr(pos, width), value)) return false;
  pos += width;
  return true;
}

bool take_text(std::string_view data, size_t& pos, size_t length, std::string& out) {
  if (data.size() - pos < length) return false;
  out.assign(data.substr(pos, length));
  pos += length;
  return true;
}

// Sets flag while the session closes during a call, so that the running
// procedure is stopped instead of running to its time limit.
class CloseWatch {
 public:
  CloseWatch(Session& s, std::atomic<bool>& flag, const std::atomic<bool>& server_stopping)
      : thread_([this, &s, &flag, &server_stopping] {
          std::unique_lock lock(mutex_);
          while (!done_) {
            if (s.closing() || server_stopping) {
              flag = true;
              return;
            }
            wake_.wait_for(lock, std::chrono::milliseconds(100));
          }
        }) {}
  ~CloseWatch() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

class ProcedureModule : public Module {
 public:
  const char* name() const override { return "procedures"; }

  void add_options(CLI::App& app) override {
    app.add_option("--procedures", options_.procedures_dir,
                   "folder of the host procedures (default: procedures next to this program, else the installed demo procedures)");
    app.add_option("--procedure-seconds", seconds_, "time limit of one host procedure")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
  }

  bool start(Server&, std::string&) override {
    options_.time_limit = std::chrono::seconds(seconds_);
    service_ = std::make_unique<ProcedureService>(options_);
    return true;
  }

  void register_handlers(HandlerTable& t) override {
    auto run = [this](Session& s, Request& r) { block(s, r); };
    t.add(quarl::hostmsg::kProcedure, code::kProcedureCall, run);
    t.add(quarl::hostmsg::kProcedure, code::kCoroutineCall, run);
  }

  void stop() override { stopping_ = true; }

 private:
  void fail(Session& s, const Request& r, PendingCall& call, unsigned index, const std::string& message) {
    call = PendingCall{};
    s.reply_error(r, index, message);
  }

  void block(Session& s, Request& r) {
    PendingCall& call = s.data<PendingCall>();
    std::string_view d = r.data;
    if (d.size() < 2 || (d[0] != '0' && d[0] != '1') || (d[1] != '0' && d[1] != '1'))
      return fail(s, r, call, kErrGeneral, "Malformed call block");
    size_t pos = 2;
    if (d[0] == '1') {
      // A first block starts a new call, whatever was pending.
      call = PendingCall{};
      unsigned n = 0, full = 0;
      if (!take_number(d, pos, 4, n) || !take_text(d, pos, n, call.library) || !take_number(d, pos, 4, n) ||
          !take_text(d, pos, n, call.entry_point) || !take_number(d, pos, 5, full))
        return fail(s, r, call, kErrGeneral, "Malformed call block");
      call.code = r.code;
      call.full = full;
      // Names are checked before any more of the call is taken.
      std::string problem;
      if (service_->resolve(r.code == code::kCoroutineCall, call.library, call.entry_point, problem).empty())
        return fail(s, r, call, kErrArgument, problem);
      call.active = true;
    } else if (!call.active || call.code != r.code) {
      return fail(s, r, call, kErrSequence, "Call block without a call in progress");
    }
    unsigned chunk = 0;
    if (!take_number(d, pos, 5, chunk) || d.size() - pos != chunk)
      return fail(s, r, call, kErrGeneral, "Malformed call block");
    if (call.text.size() + chunk > call.full)
      return fail(s, r, call, kErrArgument, "Parameter text longer than the parameter area");
    call.text.append(d.substr(pos, chunk));
    if (d[1] != '1') {
      s.reply(r, std::string(1, kStatusOk));
      return;
    }

    ProcedureCall pc;
    pc.coroutine = call.code == code::kCoroutineCall;
    pc.library = std::move(call.library);
    pc.entry_point = std::move(call.entry_point);
    pc.area = std::move(call.text);
    pc.area.resize(call.full, ' ');
    pc.user = s.user();
    call = PendingCall{};
    ProcedureResult result;
    {
      std::atomic<bool> cancel{false};
      CloseWatch watch(s, cancel, stopping_);
      result = service_->run(pc, &cancel);
    }
    if (!result.ok) return s.reply_error(r, kErrGeneral, result.message);
    respond(s, r, result.area);
  }

  static void respond(Session& s, const Request& r, std::string_view area) {
    const size_t room = s.max_data() > 7 ? s.max_data() - 7 : 1;
    size_t at = 0;
    do {
      size_t chunk = std::min(room, area.size() - at);
      bool last = at + chunk == area.size();
      std::string block{kStatusOk, last ? '1' : '0'};
      append_digits(block, 5, chunk);
      block.append(area.substr(at, chunk));
      s.reply(r, block);
      at += chunk;
    } while (at < area.size());
  }

  ProcedureOptions options_;
  unsigned seconds_ = 10;
  std::unique_ptr<ProcedureService> service_;
  std::atomic<bool> stopping_{false};
};

}  // namespace

std::unique_ptr<Module> make_procedure_module() { return std::make_unique<ProcedureModule>(); }

}  // namespace hostserver
