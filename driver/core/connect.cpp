#include "driver/core/connect.h"

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "common/attributes.h"
#include "common/hostmsg.h"
#include "common/platform/system.h"
#include "common/scramble.h"
#include "common/text.h"
#include "driver/core/connect_dialog.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/output.h"
#include "driver/core/settings.h"
#include "driver/core/subconn.h"
#include "hostlink/dsn_keys.h"
#include "hostlink/session.h"

namespace quarl::driver {
namespace {

using hostlink::read_dsn_key;

// Limits of the values SQLConnect reads.
inline constexpr size_t kConnectUidMax = 63, kConnectPwdMax = 63, kConnectProviderMax = 15,
                        kConnectConnectionMax = 31, kConnectClientConfigMax = 255;
inline constexpr const char* kConnectDefaultProvider = "xyz";

std::array<std::string, kProviderNamesMax> g_provider_names;  // under the driver-connect lock

// A text argument: the first length characters (up to a NUL), or all of it
// with SQL_NTS; nullopt for any other negative length.
std::optional<std::string> text_arg(const SQLCHAR* text, SQLSMALLINT length, size_t max) {
  if (!text) return std::string();
  const char* s = reinterpret_cast<const char*>(text);
  size_t n;
  if (length == SQL_NTS) n = std::strlen(s);
  else if (length >= 0) n = strnlen(s, static_cast<size_t>(length));
  else return std::nullopt;
  return std::string(s, n < max ? n : max);
}

// Upper-case base name of the running program without extension, at most 16.
void set_application_name(ConnBlock& conn) {
  std::string name = platform::executable_base_name();
  size_t sep = name.find_last_of("\\:");
  if (sep != std::string::npos) name.erase(0, sep + 1);
  name = to_upper(name.substr(0, name.find('.')));
  if (name.size() > sizeof conn.app_name - 1) name.resize(sizeof conn.app_name - 1);
  std::memcpy(conn.app_name, name.c_str(), name.size() + 1);
}

// Undoes a connect that got past opening the link.
void abandon_connect(ConnBlock& conn) {
  close_link(conn);
  if (conn.sub) {
    release_sub_id(conn.sub->sub_id);
    free_subconnection(conn.sub);
    conn.sub = nullptr;
  }
}

// Provider connections whose host let a login time out, and until when a
// new attempt fails at once: clients such as pyodbc follow a failed wide
// connect with a narrow one on a new driver connection, which would double
// the wait that the application asked for.
struct ExpiredLogins {
  std::mutex mutex;
  std::map<std::string, std::chrono::steady_clock::time_point> retry_after;
};
ExpiredLogins& expired_logins() {
  static auto* e = new ExpiredLogins;
  return *e;
}

// The login time-out of a connect where the face lets it bound the waits.
class LoginClock {
 public:
  using Clock = std::chrono::steady_clock;
  explicit LoginClock(ConnBlock& conn)
      : conn_(conn), bounded_(conn.face().timeouts_bound_waits && conn.login_timeout > 0),
        deadline_(Clock::now() + std::chrono::seconds(conn.login_timeout)) {}

  // Whole seconds left, at least 1 (0: no bound).
  uint32_t seconds_left() const {
    if (!bounded_) return 0;
    auto left = std::chrono::ceil<std::chrono::seconds>(deadline_ - Clock::now()).count();
    return left < 1 ? 1 : static_cast<uint32_t>(left);
  }
  // The next exchange waits no longer than what is left.
  void bound_wait() {
    if (bounded_ && seconds_left() < conn_.channel.receive_timeout)
      conn_.channel.receive_timeout = static_cast<uint8_t>(seconds_left());
  }
  // A connect that failed once the time-out had passed reports that first,
  // and a new attempt to the same connection on this handle within the
  // time-out fails at once.
  SQLRETURN report(SQLRETURN rc, std::string_view target) {
    if (!bounded_) return rc;
    ExpiredLogins& e = expired_logins();
    std::lock_guard lock(e.mutex);
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
      e.retry_after.erase(std::string(target));
    } else if (Clock::now() >= deadline_) {
      expired("Login timeout expired: the host did not answer within " + std::to_string(conn_.login_timeout) + " s");
      e.retry_after[std::string(target)] = Clock::now() + std::chrono::seconds(conn_.login_timeout);
    }
    return rc;
  }
  // Whether a login to the same provider connection ended by its time-out
  // so recently that this one fails at once (posted).
  bool retry_too_soon(std::string_view target) {
    if (!bounded_) return false;
    ExpiredLogins& e = expired_logins();
    std::lock_guard lock(e.mutex);
    auto it = e.retry_after.find(std::string(target));
    if (it == e.retry_after.end()) return false;
    if (Clock::now() >= it->second) {
      e.retry_after.erase(it);
      return false;
    }
    auto wait = std::chrono::ceil<std::chrono::seconds>(it->second - Clock::now()).count();
    expired("Login timeout expired: the host did not answer a login to connection " + std::string(target) +
            " within its time-out a moment ago; it is tried again in " + std::to_string(wait) + " s");
    return true;
  }

 private:
  void expired(const std::string& text) {
    conn_.errors.records.push_front(ErrorRecord{kErrTimeout, 0, std::string(kMessagePrefix) + text});
  }

 public:

 private:
  ConnBlock& conn_;
  bool bounded_;
  Clock::time_point deadline_;
};

void refill_provider_names() {
  std::vector<std::string> names = hostlink::list_providers();
  for (auto& n : g_provider_names) n.clear();
  for (size_t k = 0; k < names.size() && k < g_provider_names.size(); ++k) g_provider_names[k] = names[k].substr(0, 15);
}

// A connection string that leaves attributes without a value and no dialog
// may ask for them: say which are missing and which keywords were not ours.
SQLRETURN post_incomplete(ConnBlock& conn, const ConnAttributes& block, const std::vector<std::string>& unknown_keys) {
  std::string missing;
  bool credentials_missing = false;
  for (int i : {kAttrProvider, kAttrConnection, kAttrUid, kAttrPwd}) {
    if (block.attr[i].has_value) continue;
    missing += (missing.empty() ? "" : ", ") + std::string(kAttrKeywords[i]);
    credentials_missing = credentials_missing || i == kAttrUid || i == kAttrPwd;
  }
  std::string dsn(block.get(kAttrDsn));
  std::string text = std::string(credentials_missing ? "Invalid authorization specification" : "Incomplete connection") +
                     ": no " + missing + " in the connection string" +
                     (dsn.empty() ? " and no DSN= naming a data source that stores them"
                                  : " or stored in data source " + dsn);
  std::string unknown;
  for (const auto& key : unknown_keys)
    if (!iequals(key, "DRIVER") && !iequals(key, "FILEDSN") && !iequals(key, "SAVEFILE"))
      unknown += (unknown.empty() ? "" : ", ") + key;
  if (!unknown.empty()) text += "; not keywords of this driver: " + unknown;
  return post(conn.errors, SQL_NO_DATA_FOUND, credentials_missing ? kErrAuthorization : kErrUnableToConnect, text);
}

}  // namespace

const std::array<std::string, kProviderNamesMax>& provider_names() { return g_provider_names; }

SQLRETURN host_login(ConnBlock& conn, std::string_view uid, std::string_view pwd, std::string_view charge_code,
                     std::string_view client_config) {
  SubConnection* sub = conn.sub;
  if (!sub) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  if (sub->login_count == 0) {
    bool ask_long_values = conn.host_offers_long_values && settings().long_values != 0;
    hostlink::LoginCheck check = hostlink::log_in(conn.channel, hostlink::LoginKind::Database,
                                                  {uid, pwd, charge_code, client_config}, receive_options(),
                                                  ask_long_values);
    switch (check.result) {
      case hostlink::LoginCheck::Ok: break;
      case hostlink::LoginCheck::TooLong:
        return post(conn.errors, SQL_ERROR, kErrCommLink, "Cannot Login to host server: login data too long");
      case hostlink::LoginCheck::ExchangeFailed:
        post_exchange_failure(conn, check.reply);
        return post(conn.errors, SQL_ERROR, kErrCommLink, "Cannot Login to host server");
      case hostlink::LoginCheck::Refused:
        // Whatever the status, no login: the items tell why.
        post_host_items(conn.errors, check.reply.after_status(), SQL_ERROR);
        return static_cast<SQLRETURN>(check.reply.rc());
      case hostlink::LoginCheck::Malformed:
        return post(conn.errors, SQL_ERROR, kErrCommLink, "Cannot Login to host server: malformed reply");
      case hostlink::LoginCheck::UnusableSize:
        return post(conn.errors, SQL_ERROR, kErrCommLink, "Cannot Login to host server: unusable message size");
    }
    conn.long_values = check.long_value_limit.has_value();
    conn.long_value_limit = check.long_value_limit.value_or(0);
    if (conn.link) {
      conn.link->message_size = static_cast<uint16_t>(conn.channel.message_size());
      conn.link->max_data_length = static_cast<uint16_t>(conn.channel.max_data_length());
    }
  }
  ++sub->login_count;
  return SQL_SUCCESS;
}

SQLRETURN host_logout(ConnBlock& conn) {
  SubConnection* sub = conn.sub;
  if (!sub || sub->login_count == 0) return SQL_SUCCESS;
  drain_host_msgs(conn);
  if (--sub->login_count > 0) return SQL_SUCCESS;
  SQLRETURN rc = send_host_msg(conn, hostmsg::kControl, hostmsg::code::kLogout, 0);
  if (rc != SQL_SUCCESS) post_error(conn.errors, kErrCommLink, "Cannot Logout from host server");
  release_sub_id(sub->sub_id);
  free_subconnection(sub);
  conn.sub = nullptr;
  return rc;
}

SQLRETURN host_connect(ConnBlock& conn, const ConnectArgs& a) {
  // A second connect would orphan the first link and its host login.
  if (conn.connected()) return post(conn.errors, SQL_ERROR, kErrConnectionInUse);
  tracef("connect task=%x", static_cast<unsigned>(platform::current_thread_id()));

  std::string_view dsn = a.dsn.substr(0, sizeof conn.dsn - 1);
  std::memcpy(conn.dsn, dsn.data(), dsn.size());
  conn.dsn[dsn.size()] = '\0';
  set_application_name(conn);

  // The host login holds at most 18 characters of each: refuse rather than cut.
  if (a.uid.size() > kUserIdMax)
    return post(conn.errors, SQL_ERROR, kErrAuthorization, "User id longer than 18 characters");
  if (a.pwd.size() > kPasswordMax)
    return post(conn.errors, SQL_ERROR, kErrAuthorization, "Password longer than 18 characters");

  // Where the face says so, the login time-out bounds the whole connect: the
  // provider's connect and every wait for the host's replies.
  LoginClock login(conn);
  std::string target = std::string(a.provider) + "/" + std::string(a.connection);
  if (login.retry_too_soon(target)) return SQL_ERROR;
  SQLRETURN opened = open_link(conn, a.uid, a.pwd, a.provider, a.connection, login.seconds_left());
  if (opened != SQL_SUCCESS) return login.report(SQL_ERROR, target);
  if (attach_send_buffer(conn) != SQL_SUCCESS) return SQL_ERROR;

  conn.sub = alloc_subconnection(conn, a.uid, a.pwd, a.client_config);
  if (!conn.sub) {
    post_error(conn.errors, kErrMemory, "Cannot allocate memory for connection handler structure");
    close_link(conn);
    return SQL_ERROR;
  }
  conn.channel.sub_id = conn.sub->sub_id;
  conn.host_offers_long_values = conn.long_values = false;
  conn.long_value_limit = 0;
  conn.channel.receive_timeout = settings().rcv_timeout;
  conn.channel.transmit_timeout = settings().xmt_timeout;
  conn.channel.next_sequence = '9';
  conn.channel.last_sequence = ' ';

  login.bound_wait();
  SQLRETURN rc = get_host_version(conn);
  if (rc != SQL_SUCCESS) {
    abandon_connect(conn);
    rc = SQL_ERROR;  // not connected: never reported as any kind of success
  } else {
    login.bound_wait();
    rc = host_login(conn, a.uid, a.pwd, a.charge_code, a.client_config);
    conn.channel.receive_timeout = settings().rcv_timeout;
    if (rc != SQL_SUCCESS) {
      abandon_connect(conn);
      rc = SQL_ERROR;
    }
  }
  tracef("end of connect ret=%d", static_cast<int>(rc));
  return login.report(rc, target);
}

SQLRETURN sql_connect(ConnBlock& conn, SQLCHAR* szDSN, SQLSMALLINT cbDSN, SQLCHAR* szUID, SQLSMALLINT cbUID,
                      SQLCHAR* szAuthStr, SQLSMALLINT cbAuthStr) {
  conn.errors.clear();
  auto dsn = text_arg(szDSN, cbDSN, SIZE_MAX);
  auto uid = text_arg(szUID, cbUID, kConnectUidMax);
  auto pwd = text_arg(szAuthStr, cbAuthStr, kConnectPwdMax);
  if (!dsn || !uid || !pwd) return post(conn.errors, SQL_ERROR, kErrArgument, "Invalid string length");

  if (uid->empty()) *uid = read_dsn_key(*dsn, "UID", "", kConnectUidMax);
  if (pwd->empty()) *pwd = scramble(read_dsn_key(*dsn, "PWD", "", kConnectPwdMax));
  if (uid->empty() || pwd->empty())
    return post(conn.errors, SQL_ERROR, kErrAuthorization,
                std::string("Invalid authorization specification: no ") + (uid->empty() ? "user id" : "password") +
                    " given to SQLConnect or stored in data source " + *dsn);

  std::string provider = read_dsn_key(*dsn, "Provider", kConnectDefaultProvider, kConnectProviderMax);
  std::string connection = read_dsn_key(*dsn, "Connection", "", kConnectConnectionMax);
  std::string client_config = read_dsn_key(*dsn, "ClientConfig", kDefaultClientConfig, kConnectClientConfigMax);

  // "password/chargecode"
  std::string charge_code;
  if (size_t slash = pwd->find('/'); slash != std::string::npos) {
    charge_code = pwd->substr(slash + 1);
    pwd->resize(slash);
  }
  return host_connect(conn, {*dsn, provider, connection, *uid, *pwd, charge_code, client_config});
}

SQLRETURN sql_driver_connect(ConnBlock& conn, SQLHWND hwnd, SQLCHAR* szConnStrIn, const TextBuffer& out_string,
                             SQLSMALLINT* pcbConnStrOut, SQLUSMALLINT fDriverCompletion) {
  std::lock_guard connect_lock(locks().driver_connect);
  refill_provider_names();

  std::unique_ptr<ConnAttributes> block;
  try {
    block = std::make_unique<ConnAttributes>();
  } catch (const std::bad_alloc&) {
    conn.errors.clear();
    return post(conn.errors, SQL_ERROR, kErrMemory);
  }
  ConnAttribute* attr = block->attr;
  std::vector<std::string> unknown_keys;
  if (szConnStrIn) {
    bool provider_defaulted = false;
    parse_attribute_string(reinterpret_cast<const char*>(szConnStrIn), ';', *block, provider_defaulted,
                           &unknown_keys);
  }
  // An empty UID= or PWD= is taken as not given, as SQLConnect takes empty
  // arguments: the data source's stored values apply.
  for (int i : {kAttrUid, kAttrPwd})
    if (attr[i].given && attr[i].value[0] == '\0') attr[i].given = 0;

  // Complete the block from the data source's stored section.
  std::string dsn = block->get(kAttrDsn).data();
  auto stored = [&](int i, const char* def) { return read_dsn_key(dsn, kAttrStoredKeys[i], def); };
  // The description is shown and handed back, never sent: it is read below
  // only for the dialog or the completed connection string.
  for (int i : {kAttrClientConfig, kAttrChargeCode}) {
    if (!attr[i].given) block->set(i, stored(i, i == kAttrClientConfig ? kDefaultClientConfig : ""));
    attr[i].has_value = 1;
  }
  attr[kAttrDescription].has_value = 1;
  for (int i : {kAttrUid, kAttrPwd, kAttrProvider, kAttrConnection}) {
    if (attr[i].given) {
      attr[i].has_value = 1;
      continue;
    }
    std::string value = stored(i, "");
    if (i == kAttrPwd) value = scramble(value);
    if (!value.empty()) {
      block->set(i, value);
      attr[i].has_value = 1;
    }
  }
  attr[kAttrDsn].has_value = 1;
  bool complete = true;
  for (const auto& a : block->attr) complete = complete && a.has_value;

  bool prompt;
  switch (fDriverCompletion) {
    case SQL_DRIVER_NOPROMPT:
      if (!complete) {
        conn.errors.clear();
        return post_incomplete(conn, *block, unknown_keys);
      }
      prompt = false;
      break;
    case SQL_DRIVER_COMPLETE:
    case SQL_DRIVER_COMPLETE_REQUIRED:
      prompt = !complete;
      break;
    case SQL_DRIVER_PROMPT:
      prompt = true;
      break;
    default:
      conn.errors.clear();
      return post(conn.errors, SQL_ERROR, kErrArgument, "Invalid driver completion");
  }
  if (!attr[kAttrDescription].given && (prompt || out_string.data))
    block->set(kAttrDescription, stored(kAttrDescription, ""));
  if (prompt) {
    if (fDriverCompletion == SQL_DRIVER_COMPLETE_REQUIRED) {
      for (auto& a : block->attr)
        if (a.has_value) a.fixed = 1;
    } else if (!attr[kAttrDsn].given) {
      attr[kAttrDsn].fixed = 1;
    }
    if (settings().allow_usercode_override) {
      // User id and password are offered for change together, or not at all.
      uint32_t both = attr[kAttrUid].fixed && attr[kAttrPwd].fixed;
      attr[kAttrUid].fixed = attr[kAttrPwd].fixed = both;
    }
    if (show_connect_dialog(hwnd, *block) != kDialogOk) {
      conn.errors.clear();
      return post(conn.errors, SQL_NO_DATA_FOUND, kErrGeneral, "The connection dialog was cancelled");
    }
    scramble_in_place(attr[kAttrPwd].value);  // the dialog hands the password back scrambled
  }

  conn.errors.clear();
  bool cut = false;
  if (out_string.data) {
    std::string out;
    for (int i = 0; i < kAttrCount; ++i) {
      if (i > 0) out += ';';
      if (i == kAttrDsn && !attr[i].given) out += "DRIVER={Quarl}";
      else out += std::string(kAttrKeywords[i]) + "=" + block->get(i).data();
    }
    cut = write_text_out(out, out_string, pcbConnStrOut);
    if (cut) post_error(conn.errors, kErrTruncated);
  }

  SQLRETURN rc = host_connect(
      conn, {block->get(kAttrDsn).data(), block->get(kAttrProvider).data(), block->get(kAttrConnection).data(),
             block->get(kAttrUid).data(), block->get(kAttrPwd).data(), block->get(kAttrChargeCode).data(),
             block->get(kAttrClientConfig).data()});
  return rc == SQL_SUCCESS && cut ? SQL_SUCCESS_WITH_INFO : rc;
}

SQLRETURN sql_browse_connect(ConnBlock& conn) {
  // Success would tell the application it is connected; it is not.
  conn.errors.clear();
  return post(conn.errors, SQL_ERROR, kErrNoFunction);
}

SQLRETURN sql_disconnect(ConnBlock& conn) {
  conn.errors.clear();
  tracef("Disconnect task=%x hdbc=%x signature=%s", static_cast<unsigned>(platform::current_thread_id()),
         static_cast<unsigned>(reinterpret_cast<uintptr_t>(&conn)), conn.signature);
  if (!conn.connected()) return SQL_SUCCESS;
  for (auto& slot : conn.statements)
    if (slot) free_statement(conn, *slot, SQL_DROP);
  SQLRETURN rc = host_logout(conn);
  close_link(conn);
  return rc;
}

}  // namespace quarl::driver
