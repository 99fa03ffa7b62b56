// What the tests share: temporary folders, a private unixODBC
// configuration, and a running quarl-hostserver.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

std::filesystem::path source_dir();
std::filesystem::path build_dir();
std::filesystem::path lib_path(const std::string& file);  // build/lib/<file>
std::filesystem::path bin_path(const std::string& file);  // build/bin/<file>

// A fresh folder, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::string& text);
// Writes "tellix.ini" in profile_dir naming the scripted provider
// ("Scripted") as the shell's first listed provider; extra lines follow it.
void register_scripted_provider(const std::filesystem::path& profile_dir, const std::string& extra = "");
std::string read_file(const std::filesystem::path& path);

// A private unixODBC configuration (ODBCSYSINI and ODBCINI point into a
// temporary folder, QUARL_PROFILE_DIR too) with the drivers "Quarl" and
// "Quarl Unicode" registered.  The variables are restored at destruction.
class OdbcConfig {
 public:
  OdbcConfig();
  ~OdbcConfig();
  OdbcConfig(const OdbcConfig&) = delete;
  OdbcConfig& operator=(const OdbcConfig&) = delete;

  const std::filesystem::path& dir() const { return dir_.path(); }
  std::filesystem::path odbcinst_ini() const { return dir() / "odbcinst.ini"; }
  std::filesystem::path odbc_ini() const { return dir() / "odbc.ini"; }
  std::filesystem::path profile_dir() const { return dir() / "profile"; }

  void add_driver(const std::string& name, const std::map<std::string, std::string>& keys);
  void add_dsn(const std::string& name, const std::map<std::string, std::string>& keys);
  // "tellix.ini" connection names of the TCP/IP provider.
  void add_tcp_connection(const std::string& name, const std::string& address);

 private:
  TempDir dir_;
  std::map<std::string, std::string> saved_;
  void set_env(const char* name, const std::string& value);
};

// quarl-hostserver on a free loopback port, stopped at destruction.
class HostServer {
 public:
  explicit HostServer(const std::vector<std::string>& extra_args = {});
  ~HostServer();
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;

  const std::string& address() const { return address_; }  // "127.0.0.1:PORT"
  int port() const { return port_; }
  int pid() const { return pid_; }
  // With "--trancode-listen" among the arguments: the transaction listener.
  const std::string& trancode_address() const { return trancode_address_; }
  int trancode_port() const { return trancode_port_; }

 private:
  int pid_ = -1;
  int port_ = 0;
  std::string address_;
  int trancode_port_ = 0;
  std::string trancode_address_;
};

// A TCP socket listening on a free loopback port (throws when it cannot);
// its port in port.
int listen_on_loopback(int& port, int backlog = 16);

// Runs a command line through /bin/sh; returns its exit status and output
// (standard output and standard error together).
struct CommandResult {
  int status;
  std::string output;
};
CommandResult run_command(const std::string& command, const std::string& input = "");

}  // namespace testsupport
