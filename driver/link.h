// The host link of a connection: the provider connection (PhysComm) and the
// HostMessage exchange over it, with the driver's diagnostics.
#pragma once

#include <sql.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "common/host_channel.h"

namespace quarl::driver {

struct ConnBlock;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// One open provider connection.  Every connect makes its own, so the use
// count goes from 0 to 1 at connect and back to 0 at disconnect.  All of them
// are kept in one process-wide list (bookkeeping only) that owns them.
struct PhysComm {
  uint8_t use_count = 0;
  std::string provider;    // at most 16 characters
  std::string connection;  // at most 32 characters
  ProviderLink link;       // provider index, table and connection handle
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

// Sends the request built in conn.channel.out() and, with wait, receives the reply.
SQLRETURN send_host_msg(ConnBlock& conn, unsigned type, unsigned code, size_t length, bool wait);
// 0 with the message described by conn.channel; SQL_ERROR; or kRecvTimedOut.
SQLRETURN recv_host_msg(ConnBlock& conn, uint8_t timeout);
void release_host_msg(ConnBlock& conn);
// Discards whatever the host has already sent.
SQLRETURN drain_host_msgs(ConnBlock& conn);
SQLRETURN host_rc(char status);
SQLRETURN get_host_version(ConnBlock& conn);

// The received reply's status digit and what follows it; false (with a
// diagnostic on list) when the reply is empty.
std::string_view reply_after_status(const ConnBlock& conn);
bool reply_has(const ConnBlock& conn, size_t bytes);

// Number of PhysComm records in the process-wide list (tests).
size_t link_count();

}  // namespace quarl::driver
