// The host link of a connection as the driver uses it: the provider
// connection (PhysComm) and the host session layer's exchanges, with the
// driver's diagnostics for each way an exchange can fail.
#pragma once

#include <sql.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "hostlink/host_channel.h"
#include "hostlink/provider_link.h"

namespace quarl::driver {

struct ConnBlock;
struct ErrorList;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// One open provider connection.  Every connect makes its own, so the use
// count goes from 0 to 1 at connect and back to 0 at disconnect.  All of them
// are kept in one process-wide list (bookkeeping only) that owns them.
struct PhysComm {
  uint8_t use_count = 0;
  std::string provider;        // at most 16 characters
  std::string connection;      // at most 32 characters
  hostlink::ProviderLink link;  // provider index, table and connection handle
  uint16_t message_size = 0;
  uint16_t max_data_length = 0;
  uint32_t provider_value = 0;  // third value of get_info; kept, not used
  FilePtr script;               // the open login script, null for none
};

// Internal result of recv_host_msg: the receive timed out.
inline constexpr SQLRETURN kRecvTimedOut = -99;

// Opens the provider link and runs the "[connect]" script section.
SQLRETURN open_link(ConnBlock& conn, std::string_view uid, std::string_view pwd, std::string_view provider,
                    std::string_view connection);
// Runs the "[disconnect]" section, closes the provider link, frees the send
// buffer and clears the connection's physical link.
void close_link(ConnBlock& conn);
// Allocates the connection's send buffer for the link's message size.
SQLRETURN attach_send_buffer(ConnBlock& conn);

// How this driver receives: messages of other sources are errors when the
// setting "nonhostmsgerr" says so.
hostlink::ReceiveOptions receive_options();

// The request data area for length bytes; null, with "Transmit error in
// send_host_msg" posted on list, when a message of the link cannot hold them.
char* request_area(ConnBlock& conn, ErrorList& list, size_t length);

// Sends the request built in the request area and waits for its reply with
// the connection's receive time-out.  When no reply comes, the reason is
// posted on the connection (post_exchange_failure).
hostlink::Reply host_request(ConnBlock& conn, unsigned type, unsigned code, size_t length);
// A request that awaits no reply: SQL_SUCCESS, or SQL_ERROR with the reason
// posted on the connection.
SQLRETURN send_host_msg(ConnBlock& conn, unsigned type, unsigned code, size_t length);
// The next message; when none comes, the reason is posted on the connection.
hostlink::Reply recv_host_msg(ConnBlock& conn, uint8_t timeout);
// Why an exchange brought no reply, posted on the connection (nothing for a
// time-out of a poll).
void post_exchange_failure(ConnBlock& conn, const hostlink::Reply& reply);
// Discards whatever the host has already sent.
SQLRETURN drain_host_msgs(ConnBlock& conn);

// The return code of an exchange that brought no reply: kRecvTimedOut for
// a time-out, SQL_ERROR otherwise.
SQLRETURN exchange_rc(const hostlink::Reply& reply);
// After an exchange that brought no reply: the connection's diagnostics move
// onto list (when list is not the connection's own), then "08S01" follows.
// Returns SQL_ERROR.
SQLRETURN link_failure(ConnBlock& conn, ErrorList& list);
// Posts the host's error items on list and returns rc; a failure that
// carries no item gets one diagnostic of its own, so that no failure goes
// unexplained.
SQLRETURN post_host_items(ErrorList& list, std::string_view items, SQLRETURN rc);
// The reply's status as a return code; for success with info and errors the
// host's error items are posted on list.
SQLRETURN host_status(ErrorList& list, const hostlink::Reply& reply);

// The version exchange of a new connection: SQL_SUCCESS with the host's
// version in the connection, else SQL_ERROR with the reason posted and then
// "Cannot determine version of host software" (with what a host that turned
// the client away said).
SQLRETURN get_host_version(ConnBlock& conn);

// Number of PhysComm records in the process-wide list (tests).
size_t link_count();

}  // namespace quarl::driver
