// quarl-rpc: calls a host procedure (or a coroutine library) for an ODBC data
// source through the buffer exports of libquarlrpc.so, as a client program
// does, and prints the returned parameter area.
//
//   quarl-rpc [options] DSN LIBRARY ENTRY [TEXT]
//   quarl-rpc [options] --coroutine DSN COROUTINE [TEXT]
//
// TEXT "-" reads the parameter text from standard input.  Exit status 0 on
// success, 1 when the host call fails (the library's message on standard
// error), 2 for a usage error.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "rpc/quarlrpc.h"

namespace {

using Export = void (*)(char*, int16_t);
constexpr size_t kMaxArea = 32767;

std::string rtrim(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Calls an export with text in an area of `length` bytes (at least the
// text's); returns the area afterwards.
std::string call(Export fn, const std::string& text, size_t length = 0) {
  std::string area = text;
  if (area.size() < length) area.resize(length, ' ');
  fn(area.data(), static_cast<int16_t>(area.size()));
  return area;
}

// The frame marks a failed call with "*****" and blanks.
bool failed(const std::string& area) {
  return area.size() >= 5 && area.compare(0, 5, "*****") == 0 && rtrim(area).size() == 5;
}

int report_failure(const char* step) {
  std::string message = rtrim(call(GetError, "", 1024));
  std::cerr << "quarl-rpc: " << step << ": " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Calls a host procedure through the Host Server for an ODBC data source.\n"
               "  quarl-rpc [options] DSN LIBRARY ENTRY [TEXT]\n"
               "  quarl-rpc [options] --coroutine DSN COROUTINE [TEXT]\n"
               "TEXT \"-\" reads the parameter text from standard input."};
  std::string user, password;
  bool coroutine = false, keep_blanks = false;
  size_t length = 0;
  std::vector<std::string> args;
  app.add_option("-u,--user", user, "user id (default: the data source's UID)");
  app.add_option("-p,--password", password, "password (default: the data source's PWD)");
  app.add_flag("-c,--coroutine", coroutine, "call a coroutine library instead of a library's entry point");
  app.add_option("-n,--length", length, "length of the parameter area (default: the text's, at least 1024)")
      ->check(CLI::Range(size_t(1), kMaxArea));
  app.add_flag("-k,--keep-blanks", keep_blanks, "print the whole area, trailing blanks included");
  app.add_option("args", args, "DSN, LIBRARY and ENTRY (or DSN and COROUTINE), then the parameter text")
      ->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  size_t names = coroutine ? 2 : 3;
  if (args.size() < names || args.size() > names + 1) {
    std::cerr << "quarl-rpc: expected " << (coroutine ? "DSN COROUTINE [TEXT]" : "DSN LIBRARY ENTRY [TEXT]")
              << "\n";
    return 2;
  }
  std::string text = args.size() > names ? args[names] : "";
  if (text == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (!text.empty() && text.back() == '\n') text.pop_back();
  }
  // The connect items are separated by commas, which they cannot contain.
  for (const std::string* item : {&args[0], &user, &password})
    if (item->find(',') != std::string::npos) {
      std::cerr << "quarl-rpc: the data source name, user id and password cannot contain a comma\n";
      return 2;
    }
  if (length == 0) length = std::max<size_t>(text.size(), 1024);
  if (text.size() > length || length > kMaxArea) {
    std::cerr << "quarl-rpc: the parameter text is longer than the area (" << length << " bytes; at most "
              << kMaxArea << ")\n";
    return 2;
  }

  std::string items = args[0];
  if (!user.empty() || !password.empty()) items += "," + user;
  if (!password.empty()) items += "," + password;
  for (const std::string* name : {&items, &args[1], &args[names - 1]})
    if (name->size() > kMaxArea) {
      std::cerr << "quarl-rpc: a name is longer than " << kMaxArea << " bytes\n";
      return 2;
    }
  if (failed(call(Connect, items, 16))) return report_failure("Connect");

  std::string area;
  if (coroutine) {
    call(CoRoutineName, args[1]);
    area = call(CorCall, text, length);
  } else {
    call(LibraryName, args[1]);
    call(EntryPoint, args[2]);
    area = call(ExeCall, text, length);
  }
  int status = failed(area) ? report_failure(coroutine ? "CorCall" : "ExeCall") : 0;
  call(Disconnect, "", 1);
  if (status != 0) return status;
  std::cout << (keep_blanks ? area : rtrim(area)) << "\n";
  return 0;
}
