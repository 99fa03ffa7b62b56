// Connection control (type 0) once the client has logged in: the version
// request, a second login (refused) and the logout, which ends the session.
// Before the login the session answers these itself (session.cpp).
#include "hostserver/control.h"

#include "common/hostmsg.h"
#include "common/long_values.h"
#include "hostserver/module.h"
#include "hostserver/server.h"
#include "hostserver/session.h"

namespace hostserver {

std::string version_reply_data(bool offer_long_values) {
  constexpr std::string_view kVersion = "005000021Quarl Host V5R0M5.";
  return offer_long_values ? quarl::longvalues::offer(kVersion) : std::string(kVersion);
}

std::optional<LoginRequest> parse_login(std::string_view data) {
  unsigned asked = 0;
  if (data.size() < 7 || !parse_digits(data.substr(1, 5), asked)) return std::nullopt;
  if (data[0] != quarl::longvalues::kLoginWithOptions) return LoginRequest{asked, data.substr(6), false};
  auto asks = quarl::longvalues::read_asks(data.substr(6));
  if (!asks || data.size() - 6 <= asks->text_at) return std::nullopt;
  return LoginRequest{asked, data.substr(6 + asks->text_at), asks->long_values};
}

std::string login_user_for_log(std::string_view text) {
  return std::string(text.substr(0, std::min<size_t>(64, text.find_first_of("/."))));
}

namespace {

namespace code = quarl::hostmsg::code;

void version(Session& s, Request& r) { s.reply(r, version_reply_data(s.server().options().long_values)); }

void second_login(Session& s, Request& r) { s.reply_error(r, kErrConnectionInUse, "Already logged in as " + s.user()); }

// The worker cleans up as the session ends.
void logout(Session& s, Request&) { s.close("logged out"); }

class ControlModule : public Module {
 public:
  const char* name() const override { return "control"; }
  void register_handlers(HandlerTable& t) override {
    t.add(quarl::hostmsg::kControl, code::kVersion, version);
    t.add(quarl::hostmsg::kControl, code::kLogin, second_login);
    t.add(quarl::hostmsg::kControl, code::kRpcLogin, second_login);
    t.add(quarl::hostmsg::kControl, code::kLogout, logout);
  }
};

}  // namespace

std::unique_ptr<Module> make_control_module() { return std::make_unique<ControlModule>(); }

}  // namespace hostserver
