// The HostMessage envelope spoken between the client libraries and the Host
// Server: "#@!", a sequence character, a two-digit sub id, a one-digit type, a
// three-digit code and a four-digit data length, then the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarl::hostmsg {

inline constexpr size_t kHeaderSize = 14;
inline constexpr std::string_view kMagic = "#@!";
inline constexpr unsigned kMaxDataLength = 9999;

// Message types and codes.
enum Type : unsigned { kControl = 0, kDatabase = 1, kProcedure = 3 };
namespace code {
// type 0
inline constexpr unsigned kVersion = 0, kLogin = 1, kLogout = 3, kCancel = 5, kRpcLogin = 6;
// type 1
inline constexpr unsigned kAllocStmt = 1, kFreeStmt = 2, kTables = 3, kFetch = 4, kSpecialColumns = 5,
                          kColumns = 6, kStatistics = 7, kTypeInfo = 8, kExecDirect = 9, kPrepare = 10,
                          kExecute = 11, kPrimaryKeys = 12, kForeignKeys = 13, kIgnored = 14,
                          kTablePrivileges = 15, kColumnPrivileges = 16, kAutocommit = 17,
                          kTransact = 18, kCancelAck = 19, kExecuteSets = 20,
                          // with long values agreed (common/long_values.h)
                          kValuePiece = 21, kParamPiece = 22;
// type 3
inline constexpr unsigned kProcedureCall = 1, kCoroutineCall = 2;
}  // namespace code

// The protocol version this client speaks.
inline constexpr unsigned kProtocolVersion = 21;

// Return codes of a reply's status digit (ODBC values).
inline constexpr int kRcSuccess = 0, kRcSuccessWithInfo = 1, kRcError = -1, kRcInvalidHandle = -2,
                     kRcStillExecuting = 2, kRcNeedData = 99, kRcNoData = 100;
int host_rc(char status);

struct Header {
  char sequence;
  unsigned sub_id;
  unsigned type;
  unsigned code;
  unsigned length;
};

// Writes the 14 header bytes (magic included).
void write_header(char* message, const Header& header);
// Reads the header fields of a message of at least 14 bytes.
Header read_header(const char* message);

// The sequence character that follows c: '0' follows '9'.
char next_sequence(char c);

// Leading control bytes and terminal escape sequences before a message: the
// offset of the first byte that is kept (length when nothing is left).  Bytes
// below 0x20 in signed comparison (0x80 to 0xFF too) are control bytes; a
// sequence that runs past the end stops the walk at the end.
size_t strip_control(const char* bytes, size_t length);

// Error items after a status digit: four-digit index (0 ends the list),
// four-digit text length, the text.  Calls f(index, text) for each item;
// a truncated item ends the walk.  Returns the number of items seen.
template <typename F>
int for_each_error_item(std::string_view items, F&& f);

unsigned parse_item_number(std::string_view four);

}  // namespace quarl::hostmsg

#include "common/hostmsg_inl.h"
