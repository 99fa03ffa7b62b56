#include "tests/support/test_env.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace fs = std::filesystem;

fs::path source_dir() {
  const char* dir = std::getenv("QUARL_SOURCE_DIR");
  return dir ? fs::path(dir) : fs::path(QUARL_TEST_SOURCE_DIR);
}

fs::path build_dir() {
  const char* dir = std::getenv("QUARL_BUILD_DIR");
  return dir ? fs::path(dir) : fs::path(QUARL_TEST_BUILD_DIR);
}

fs::path lib_path(const std::string& file) { return build_dir() / "lib" / file; }
fs::path bin_path(const std::string& file) { return build_dir() / "bin" / file; }

void register_scripted_provider(const fs::path& profile_dir, const std::string& extra) {
  write_file(profile_dir / "tellix.ini",
             "[providers]\nScripted=" + lib_path("libquarl_scripted_provider.so").string() + "\n" + extra);
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "quarl-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void write_file(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

OdbcConfig::OdbcConfig() {
  set_env("ODBCSYSINI", dir().string());
  set_env("ODBCINSTINI", "odbcinst.ini");
  set_env("ODBCINI", odbc_ini().string());
  set_env("QUARL_PROFILE_DIR", profile_dir().string());
  fs::create_directories(profile_dir());
  write_file(odbc_ini(), "");
  write_file(odbcinst_ini(), "");
  add_driver("Quarl", {{"Driver", lib_path("libquarl.so").string()},
                       {"Setup", lib_path("libquarlsp.so").string()}});
  add_driver("Quarl Unicode", {{"Driver", lib_path("libquarlw.so").string()},
                               {"Setup", lib_path("libquarlsp.so").string()}});
}

OdbcConfig::~OdbcConfig() {
  for (auto& [name, value] : saved_) {
    if (value == "\x01unset") ::unsetenv(name.c_str());
    else ::setenv(name.c_str(), value.c_str(), 1);
  }
}

void OdbcConfig::set_env(const char* name, const std::string& value) {
  if (!saved_.count(name)) {
    const char* old = std::getenv(name);
    saved_[name] = old ? old : "\x01unset";
  }
  ::setenv(name, value.c_str(), 1);
}

static void append_section(const fs::path& file, const std::string& name,
                           const std::map<std::string, std::string>& keys) {
  std::string text = read_file(file);
  text += "[" + name + "]\n";
  for (auto& [key, value] : keys) text += key + "=" + value + "\n";
  text += "\n";
  write_file(file, text);
}

void OdbcConfig::add_driver(const std::string& name, const std::map<std::string, std::string>& keys) {
  append_section(odbcinst_ini(), name, keys);
}

void OdbcConfig::add_dsn(const std::string& name, const std::map<std::string, std::string>& keys) {
  std::map<std::string, std::string> all = keys;
  if (!all.count("Driver")) all["Driver"] = "Quarl";
  append_section(odbc_ini(), name, all);
}

void OdbcConfig::add_tcp_connection(const std::string& name, const std::string& address) {
  fs::path tellix = profile_dir() / "tellix.ini";
  std::string text = read_file(tellix);
  if (text.find("[TCP/IP]") == std::string::npos) text += "[TCP/IP]\n";
  size_t at = text.find("[TCP/IP]\n") + 9;
  text.insert(at, name + "=" + address + "\n");
  write_file(tellix, text);
}

HostServer::HostServer(const std::vector<std::string>& extra_args) {
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> args{bin_path("quarl-hostserver").string(), "--listen", "127.0.0.1:0"};
  // The log stays out of the tests' output unless a test asks for it.
  if (std::find(extra_args.begin(), extra_args.end(), "--log") == extra_args.end()) args.push_back("--quiet");
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  auto next_line = [&] {
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    return line;
  };
  auto fail = [&](const std::string& line) {
    ::close(out[0]);
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("quarl-hostserver did not start: " + line);
  };
  std::string line = next_line();
  const std::string prefix = "listening on ";
  if (line.rfind(prefix, 0) != 0) fail(line);
  address_ = line.substr(prefix.size());
  port_ = std::stoi(address_.substr(address_.rfind(':') + 1));
  bool trancode = false;
  for (const auto& a : extra_args) trancode = trancode || a == "--trancode-listen";
  if (trancode) {
    // The transaction listener announces itself on the next line.
    line = next_line();
    const std::string trancode_prefix = "trancode listening on ";
    if (line.rfind(trancode_prefix, 0) != 0) fail(line);
    trancode_address_ = line.substr(trancode_prefix.size());
    trancode_port_ = std::stoi(trancode_address_.substr(trancode_address_.rfind(':') + 1));
  }
  ::close(out[0]);
}

HostServer::~HostServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

CommandResult run_command(const std::string& command, const std::string& input) {
  TempDir tmp;
  fs::path in = tmp / "in", out = tmp / "out";
  write_file(in, input);
  std::string full = "(" + command + ") <'" + in.string() + "' >'" + out.string() + "' 2>&1";
  int status = std::system(full.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out)};
}

int listen_on_loopback(int& port, int backlog) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot listen on a loopback port");
  }
  port = ntohs(a.sin_port);
  return fd;
}

}  // namespace testsupport
