// Connection control (type 0): version, login (the driver's code 1 and the
// RPC library's code 6, same credentials) and logout.
#include "common/hostmsg.h"
#include "hostserver/module.h"
#include "hostserver/server.h"
#include "hostserver/session.h"

namespace hostserver {
namespace {

namespace code = quarl::hostmsg::code;

// Two version numbers, the protocol version and the host software text; the
// clients keep the text up to its first '.', so it holds no other.
constexpr const char* kVersionReply = "05000021Quarl Host V5R0M5.";
// The largest message: the data length field has four digits.
constexpr size_t kMaxMessageSize = 9999 + 14;
// Below this no reply that the server builds (a column item, an error item)
// is sure to fit.
constexpr size_t kMinMessageSize = 256;

void version(Session& s, Request& r) { s.reply(r, std::string(1, kStatusOk) + kVersionReply); }

void login(Session& s, Request& r) {
  unsigned asked = 0;
  if (r.data.size() < 7 || !parse_digits(std::string_view(r.data).substr(1, 5), asked)) {
    s.reply_error(r, kErrAuthorization, "Malformed login request");
    return;
  }
  if (s.logged_in()) {
    s.reply_error(r, kErrConnectionInUse, "Already logged in as " + s.user());
    return;
  }
  if (asked < kMinMessageSize) {
    s.reply_error(r, kErrGeneral, "Message size " + std::to_string(asked) + " is below the least the host serves (" +
                                        std::to_string(kMinMessageSize) + ")");
    return;
  }
  LoginText who;
  if (!login_matches(s.server().users(), std::string_view(r.data).substr(6), who)) {
    s.reply_error(r, kErrAuthorization, "Invalid user id or password");
    return;
  }
  size_t granted = asked < kMaxMessageSize ? asked : kMaxMessageSize;
  s.set_message_size(granted);
  s.log_in(who.user);
  std::string reply(1, kStatusOk);
  append_digits(reply, 5, granted);
  s.reply(r, reply);
}

void logout(Session& s, Request&) {
  if (s.logged_in()) s.log_out();
}

class ControlModule : public Module {
 public:
  const char* name() const override { return "control"; }
  void register_handlers(HandlerTable& t) override {
    t.add(quarl::hostmsg::kControl, code::kVersion, {version, nullptr, false});
    t.add(quarl::hostmsg::kControl, code::kLogin, {login, nullptr, false});
    t.add(quarl::hostmsg::kControl, code::kRpcLogin, {login, nullptr, false});
    t.add(quarl::hostmsg::kControl, code::kLogout, {logout, nullptr, false});
  }
};

}  // namespace

std::unique_ptr<Module> make_control_module() { return std::make_unique<ControlModule>(); }

}  // namespace hostserver
