// Host procedure calls (type 3): code 1 calls an entry point of a host
// library, code 2 a coroutine library.  A procedure is a program in the
// procedures folder: the library's "/"-separated parts are subfolders and the
// entry point is the program; a coroutine library's last part is the
// program.  The parameter area goes to the program's standard input; its
// standard output, cut or blank padded to the area's length, is the returned
// area; a non-zero exit fails the call with the first line of its standard
// error.
//
// A call arrives in blocks: the first carries the names, the area's full
// length and the first chunk of its text; continuation blocks carry further
// chunks; each block says whether it is the last.  Blocks before the last
// are answered with status 0 alone; the last is answered by the procedure's
// area in response blocks (status, last-block digit, 5-digit chunk length,
// chunk) sized to the session's message size.
#include <algorithm>

#include <CLI/CLI.hpp>

#include "common/hostmsg.h"
#include "common/text.h"
#include "hostserver/module.h"
#include "hostserver/program_folder.h"
#include "hostserver/server.h"
#include "hostserver/session.h"

namespace hostserver {
namespace {

namespace code = quarl::hostmsg::code;

// The call being received on a session.
struct PendingCall : SessionData {
  bool active = false;
  unsigned code = 0;
  std::string library, entry_point;
  std::filesystem::path program;
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

class ProcedureModule : public Module {
 public:
  // Standard output beyond this stops the program (the area is at most 99999 bytes).
  static constexpr size_t kMaxOutput = 1 << 20;

  const char* name() const override { return "procedures"; }

  void add_options(CLI::App& app) override {
    app.add_option("--procedures", options_.dir,
                   "folder of the host procedures (default: procedures next to this program, else the installed "
                   "demo procedures)");
    app.add_option("--procedure-seconds", seconds_, "time limit of one host procedure")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
  }

  bool start(Server& server, std::string&) override {
    options_.time_limit = std::chrono::seconds(seconds_);
    options_.max_output = kMaxOutput;
    options_.allow_links_out = server.options().allow_links_out;
    folder_ = std::make_unique<ProgramFolder>("Procedure", "procedures", options_);
    return true;
  }

  void register_handlers(HandlerTable& t) override {
    auto run = [this](Session& s, Request& r) { block(s, r); };
    t.add(quarl::hostmsg::kProcedure, code::kProcedureCall, run);
    t.add(quarl::hostmsg::kProcedure, code::kCoroutineCall, run);
  }

 private:
  void fail(Session& s, const Request& r, PendingCall& call, unsigned index, const std::string& message) {
    call = PendingCall{};
    s.reply_error(r, index, message);
  }

  // The program a call names, or the reason why there is none.
  std::optional<std::filesystem::path> program_for(bool coroutine, const std::string& library,
                                                   const std::string& entry_point, std::string& problem) const {
    std::string lib = quarl::to_upper(library), entry = quarl::to_upper(entry_point);
    std::string relative = coroutine ? lib : lib + "/" + entry;
    std::string shown = coroutine ? lib : lib + " entry point " + entry;
    if (!ProgramFolder::valid_path(lib)) {
      problem = (coroutine ? "Invalid coroutine name " : "Invalid library name ") + library;
      return std::nullopt;
    }
    if (!coroutine && !ProgramFolder::valid_part(entry)) {
      problem = "Invalid entry point name " + entry_point;
      return std::nullopt;
    }
    auto found = folder_->find(relative);
    switch (found.lookup) {
      case ProgramFolder::Lookup::Found:
        return found.program;
      case ProgramFolder::Lookup::Missing:
        problem = (coroutine ? "Unknown coroutine " : "Unknown procedure ") + shown;
        return std::nullopt;
      case ProgramFolder::Lookup::LeadsOutside:
        problem = (coroutine ? "Coroutine " : "Procedure ") + shown +
                  " is a link that leads outside the procedures folder; the host does not run it";
        return std::nullopt;
    }
    return std::nullopt;
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
      auto program = program_for(r.code == code::kCoroutineCall, call.library, call.entry_point, problem);
      if (!program) return fail(s, r, call, kErrArgument, problem);
      call.program = std::move(*program);
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

    bool coroutine = call.code == code::kCoroutineCall;
    std::string lib = quarl::to_upper(call.library), entry = quarl::to_upper(call.entry_point);
    ProgramFolder::Call run;
    run.program = std::move(call.program);
    run.shown = coroutine ? lib : lib + "/" + entry;
    run.env = {"QUARL_CALL=" + std::string(coroutine ? "coroutine" : "procedure"), "QUARL_LIBRARY=" + lib,
               "QUARL_ENTRY_POINT=" + entry, "QUARL_USER=" + s.user(),
               "QUARL_AREA_LENGTH=" + std::to_string(call.full)};
    run.input = std::move(call.text);
    run.input.resize(call.full, ' ');
    size_t full = call.full;
    call = PendingCall{};
    // The program stops when the client goes away or the server stops (both
    // end the session, which the strand sees while it reads meanwhile).
    s.working_long();
    ProgramFolder::Answer answer = folder_->run(run, &s.closed_flag());
    if (!answer.ok) return s.reply_error(r, kErrGeneral, answer.message);
    answer.output.resize(full, ' ');
    respond(s, r, answer.output);
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

  ProgramFolderOptions options_;
  unsigned seconds_ = 10;
  std::unique_ptr<ProgramFolder> folder_;
};

}  // namespace

std::unique_ptr<Module> make_procedure_module() { return std::make_unique<ProcedureModule>(); }

}  // namespace hostserver
