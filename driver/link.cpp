#include "driver/link.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <new>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "driver/diag.h"
#include "driver/handles.h"
#include "driver/login_script.h"
#include "driver/settings.h"

namespace quarl::driver {
namespace {

// Every open provider link, newest first; guarded by the link list lock.
std::list<std::unique_ptr<PhysComm>>& link_list() {
  static auto* l = new std::list<std::unique_ptr<PhysComm>>;
  return *l;
}

void remove_link(PhysComm* p) {
  std::lock_guard lock(locks().link_list);
  link_list().remove_if([&](const auto& q) { return q.get() == p; });
}

// Which provider and connection failed and why, in the provider's words
// when it has them (for TCP/IP: the host, the port and the system's reason).
std::string link_failure_text(const PhysComm& p, ProviderStep step) {
  std::string text = "Unable to connect to data source: ";
  switch (step) {
    case ProviderStep::Find: {
      char names[256] = {};
      ShellListProviders(names, sizeof names - 1);
      std::string known;
      for (const char* n = names; *n; n += std::strlen(n) + 1) known += (known.empty() ? "" : ", ") + std::string(n);
      return "Invalid communications provider: " + p.provider + " (providers: " + known + ")";
    }
    case ProviderStep::Load:
      return text + "communications provider " + p.provider + " cannot be loaded";
    case ProviderStep::Open:
      return text + "communications provider " + p.provider + " cannot be opened";
    default:
      break;
  }
  // The provider's words name the connection (and its address) themselves.
  if (!p.link.connect_error.empty()) return text + "provider " + p.provider + ": " + p.link.connect_error;
  return text + "provider " + p.provider + ", connection " + p.connection + ": the provider's connect failed (code " +
         std::to_string(p.link.connect_result) + ")";
}

}  // namespace

size_t link_count() {
  std::lock_guard lock(locks().link_list);
  return link_list().size();
}

SQLRETURN open_link(ConnBlock& conn, std::string_view uid, std::string_view pwd, std::string_view provider,
                    std::string_view connection) {
  PhysComm* p = nullptr;
  try {
    auto record = std::make_unique<PhysComm>();
    record->provider = provider;
    record->connection = connection;
    p = record.get();
    std::lock_guard lock(locks().link_list);
    link_list().push_front(std::move(record));
  } catch (const std::bad_alloc&) {
    return post(conn.errors, SQL_ERROR, kErrMemory, "Cannot allocate memory for physical communications structure");
  }
  conn.link = p;

  auto fail = [&](SQLRETURN rc) {
    conn.link = nullptr;
    remove_link(p);  // closes whatever is still open
    return rc;
  };

  if (p->use_count == 0) {
    ProviderStep failed = p->link.open(p->provider.c_str(), p->connection.c_str());
    if (failed != ProviderStep::None)
      return fail(post(conn.errors, SQL_ERROR, kErrUnableToConnect, link_failure_text(*p, failed)));
    uint16_t size = p->link.message_size();
    p->message_size = size;
    p->max_data_length = size > hostmsg::kHeaderSize ? static_cast<uint16_t>(size - hostmsg::kHeaderSize) : 0;
    p->provider_value = p->link.info.value;
    if (run_connect_script(conn, uid, pwd, provider, connection) != SQL_SUCCESS) {
      // Undo every step, the provider connection included.
      p->link.close();
      return fail(SQL_ERROR);
    }
  }
  ++p->use_count;
  return SQL_SUCCESS;
}

SQLRETURN attach_send_buffer(ConnBlock& conn) {
  PhysComm* p = conn.link;
  if (!p || !conn.channel.attach(&p->link.table, p->link.handle, p->message_size)) {
    post_error(conn.errors, kErrMemory, "Cannot get memory for host message buffer");
    close_link(conn);
    return SQL_ERROR;
  }
  return SQL_SUCCESS;
}

void close_link(ConnBlock& conn) {
  PhysComm* p = conn.link;
  if (p && p->use_count > 0) {
    if (--p->use_count == 0) {
      if (p->link.connected) {
        run_disconnect_script(conn);
        p->link.disconnect();
      }
      p->link.close_and_unload();
      conn.channel.detach();
      conn.link = nullptr;
      remove_link(p);
    }
  }
  conn.link = nullptr;
  conn.channel.detach();
}

SQLRETURN send_host_msg(ConnBlock& conn, unsigned type, unsigned code, size_t length, bool wait) {
  if (!conn.channel.attached()) return post(conn.errors, SQL_ERROR, kErrNotOpen);
  if (!conn.channel.send(type, code, length, conn.channel.transmit_timeout))
    return post(conn.errors, SQL_ERROR, kErrCommLink,
                conn.channel.error_text.empty() ? std::string("Transmit error in send_host_msg")
                                                : "Transmit error in send_host_msg: " + conn.channel.error_text);
  if (!wait) return SQL_SUCCESS;
  SQLRETURN rc = recv_host_msg(conn, conn.channel.receive_timeout);
  return rc == kRecvTimedOut ? SQL_ERROR : rc;
}

SQLRETURN recv_host_msg(ConnBlock& conn, uint8_t timeout) {
  HostChannel::Options options;
  options.non_host_is_error = settings().nonhostmsgerr != 0;
  switch (conn.channel.receive(timeout, options)) {
    case HostChannel::Recv::Ok:
      return SQL_SUCCESS;
    case HostChannel::Recv::Timeout:
      // The channel has lowered the receive time-out to 10 for later receives.
      if (timeout != 0) post_error(conn.errors, kErrCommLink, "Timeout waiting for host message");
      return kRecvTimedOut;
    case HostChannel::Recv::NonHost:
      return post(conn.errors, SQL_ERROR, kErrCommLink,
                  "Non Quarl message received from host->" + conn.channel.non_host_text);
    case HostChannel::Recv::Malformed:
      return post(conn.errors, SQL_ERROR, kErrCommLink, "Malformed message received from host");
    case HostChannel::Recv::Error:
    default: {
      std::string text = "Error waiting for host message";
      if (!conn.channel.error_text.empty()) text += ": " + conn.channel.error_text;
      return post(conn.errors, SQL_ERROR, kErrCommLink, text);
    }
  }
}

void release_host_msg(ConnBlock& conn) { conn.channel.release(); }

SQLRETURN drain_host_msgs(ConnBlock& conn) {
  conn.channel.drain();
  return SQL_SUCCESS;
}

SQLRETURN host_rc(char status) { return static_cast<SQLRETURN>(hostmsg::host_rc(status)); }

bool reply_has(const ConnBlock& conn, size_t bytes) {
  return conn.channel.data != nullptr && conn.channel.length >= bytes;
}

std::string_view reply_after_status(const ConnBlock& conn) {
  if (!reply_has(conn, 1)) return {};
  return std::string_view(conn.channel.data + 1, conn.channel.length - 1);
}

SQLRETURN get_host_version(ConnBlock& conn) {
  drain_host_msgs(conn);
  conn.channel.last_sequence = ' ';
  SQLRETURN rc = send_host_msg(conn, hostmsg::kControl, hostmsg::code::kVersion, 0, true);
  if (rc != SQL_SUCCESS) {
    post_error(conn.errors, kErrCommLink, "Cannot get host server version");
    release_host_msg(conn);
    return rc;
  }
  char status = reply_has(conn, 1) ? conn.channel.data[0] : '\0';
  rc = host_rc(status);
  if (rc != SQL_SUCCESS) {
    post_host_errors(conn.errors, reply_after_status(conn));
    release_host_msg(conn);
    return rc;
  }
  // Status, 2 + 3 + 3 digits, then the host software version text up to ".".
  if (!reply_has(conn, 9)) {
    release_host_msg(conn);
    return post(conn.errors, SQL_ERROR, kErrCommLink, "Malformed version reply from host server");
  }
  const char* d = conn.channel.data;
  conn.version_first = static_cast<uint8_t>(get_digits(d + 1, 2));
  conn.version_second = static_cast<uint8_t>(get_digits(d + 3, 3));
  uint32_t protocol = get_digits(d + 6, 3);
  conn.protocol_version = static_cast<uint8_t>(protocol);
  if (protocol != hostmsg::kProtocolVersion) {
    release_host_msg(conn);
    char text[80];
    std::snprintf(text, sizeof text, "Host(%d)/Micro(%d) protocol version mismatch", static_cast<int>(protocol),
                  static_cast<int>(hostmsg::kProtocolVersion));
    return post(conn.errors, SQL_ERROR, kErrGeneral, text);
  }
  std::string_view text(d + 9, conn.channel.length - 9);
  text = text.substr(0, std::min(text.find('.'), sizeof conn.host_version - 1));
  std::copy(text.begin(), text.end(), conn.host_version);
  conn.host_version[text.size()] = '\0';
  release_host_msg(conn);
  return SQL_SUCCESS;
}

}  // namespace quarl::driver
