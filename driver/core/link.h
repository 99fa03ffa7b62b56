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
struct StmtBlock;
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
// connect_timeout: the longest wait for the provider's connect in seconds
// (0: the provider's own).
SQLRETURN open_link(ConnBlock& conn, std::string_view uid, std::string_view pwd, std::string_view provider,
                    std::string_view connection, uint32_t connect_timeout = 0);
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

// What a wait for the host serves.  Where the face lets the connection's
// time-outs bound the waits, it decides their bound and what an expiry
// means: a statement (its execution, a catalog function, a fetch) waits its
// query time-out (255 seconds without one), is then cancelled on the host
// and reports HYT00; any other request waits the connection time-out (the
// receive time-out of the settings without one) and reports HYT01.  The
// ODBC 2 driver waits the receive time-out it is given.
enum class WaitFor : uint8_t { Request, Statement };

// Sends the request built in the request area and waits for its reply with
// the connection's receive time-out.  When no reply comes, the reason is
// posted on the connection (post_exchange_failure).
hostlink::Reply host_request(ConnBlock& conn, unsigned type, unsigned code, size_t length,
                             WaitFor what = WaitFor::Request, StmtBlock* stmt = nullptr);
// The same for a statement request that a fetch request for the statement
// follows at once, before the first reply is awaited (the fetch's reply
// comes after it; the caller reads or drops it).
hostlink::Reply host_request_and_fetch(ConnBlock& conn, unsigned code, size_t length, StmtBlock& stmt);
// Waits for the next message of the host: odbc2_timeout is the ODBC 2
// driver's wait; the Unicode driver's follows what (see WaitFor).  Does not
// post anything.
hostlink::Reply await_host(ConnBlock& conn, uint8_t odbc2_timeout, WaitFor what, StmtBlock* stmt = nullptr);
// Tells the host at once to stop the statement's running request (from any
// thread); false when it is not running, was told already, or the message
// could not be sent.
bool send_cancel(ConnBlock& conn, StmtBlock& stmt, bool timed_out);

// One request of a statement and its whole reply: while it runs, SQLCancel
// from another thread reaches the host (send_cancel).  finish() takes the
// host's acknowledgement of a cancel that went out and says what the call
// returns: a statement whose wait expired reports HYT00, one whose result the
// cancel closed HY008; the result description is forgotten then.
class StatementRun {
 public:
  StatementRun(ConnBlock& conn, StmtBlock& stmt);
  ~StatementRun();
  StatementRun(const StatementRun&) = delete;
  StatementRun& operator=(const StatementRun&) = delete;
  SQLRETURN finish(SQLRETURN rc);

 private:
  ConnBlock& conn_;
  StmtBlock& stmt_;
  bool finished_ = false;
};
// A request that awaits no reply: SQL_SUCCESS, or SQL_ERROR with the reason
// posted on the connection.
SQLRETURN send_host_msg(ConnBlock& conn, unsigned type, unsigned code, size_t length);
// Sends a request whose reply is not waited for (HostChannel::send_unawaited);
// a failure is posted on the connection as send_host_msg does.
SQLRETURN send_unawaited_msg(ConnBlock& conn, unsigned type, unsigned code, size_t length);
// The next message; when none comes, the reason is posted on the connection.
// timeout: the ODBC 2 driver's wait (see await_host).
hostlink::Reply recv_host_msg(ConnBlock& conn, uint8_t timeout, WaitFor what = WaitFor::Request,
                              StmtBlock* stmt = nullptr);
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
