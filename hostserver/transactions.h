// Transaction requests over TCP: the transaction code names a program in
// the transactions folder, which runs with the request's data on its
// standard input and QUARL_TRANCODE, QUARL_LIBRARY and QUARL_ENTRY_POINT in
// its environment.  Its standard output is the reply data; a failure (a
// non-zero exit, the time limit, too much output, an unknown code) becomes
// reply data of "*****" and a message: the first line of the program's
// standard error, or one of ours.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "hostserver/program_folder.h"

namespace hostserver {

// The reply data for one request: header is the 106 bytes after the
// request's length (code, library name, entry point name), data the rest.
std::string answer_transaction(const ProgramFolder& folder, std::string_view header, std::string_view data,
                               const std::atomic<bool>* cancel);

}  // namespace hostserver
