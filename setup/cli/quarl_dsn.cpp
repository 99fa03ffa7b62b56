// quarl-dsn: data sources from the shell, through the ODBC installer.
//
//   quarl-dsn add NAME [--system] [--driver D] [-c CONNECTION] [-u USER] [-p | --password-stdin] ...
//   quarl-dsn change NAME [--system] [options of add] [--no-password]
//   quarl-dsn remove NAME [--system]
//   quarl-dsn list
//
// Adding and changing go through SQLConfigDataSource, so the driver's setup
// library writes the data source (the password scrambled) and refuses what
// it cannot store; its reasons are printed.  A password is never taken from
// the command line (other users could read it there): it is asked for on
// the terminal, or read from the first line of standard input.
#include <odbcinst.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/platform/terminal.h"
#include "common/text.h"

namespace {

constexpr int kFailed = 1;

struct Options {
  std::string name;
  bool system = false;
  std::string driver = "Quarl";
  std::optional<std::string> description, provider, connection, client_config, uid, charge_code;
  bool ask_password = false, password_stdin = false, no_password = false;
};

// The installer's reasons for the last failure, one a line.
void print_installer_errors(const std::string& what) {
  bool any = false;
  for (WORD i = 1; i <= 8; ++i) {
    DWORD code = 0;
    char message[1024] = {};
    WORD length = 0;
    if (SQLInstallerError(i, &code, message, sizeof message, &length) != SQL_SUCCESS) break;
    std::cerr << "quarl-dsn: " << what << ": " << message << "\n";
    any = true;
  }
  if (!any) std::cerr << "quarl-dsn: " << what << " failed\n";
}

std::optional<std::string> read_password(const Options& o, bool confirm) {
  if (o.password_stdin) {
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::cerr << "quarl-dsn: no password on standard input\n";
      return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  auto first = quarl::platform::read_secret_from_terminal("Password for " + o.name + ": ");
  if (!first) {
    std::cerr << "quarl-dsn: no terminal to ask for the password on (use --password-stdin)\n";
    return std::nullopt;
  }
  if (confirm) {
    auto again = quarl::platform::read_secret_from_terminal("Password again: ");
    if (!again || *again != *first) {
      std::cerr << "quarl-dsn: the passwords differ; nothing was changed\n";
      return std::nullopt;
    }
  }
  return first;
}

// The attribute list for SQLConfigDataSource: key=value strings, each
// NUL-terminated, an empty string last.
std::string attribute_list(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string list;
  for (const auto& [key, value] : pairs) list += key + "=" + value + '\0';
  return list + '\0';
}

std::vector<std::string> names(const char* section) {
  std::vector<std::string> out;
  std::string buffer(65536, '\0');
  int n = SQLGetPrivateProfileString(section, nullptr, "", buffer.data(), static_cast<int>(buffer.size()), "odbc.ini");
  if (n <= 0) return out;
  for (size_t at = 0; at < static_cast<size_t>(n) && buffer[at];) {
    std::string name(buffer.data() + at);
    out.push_back(name);
    at += name.size() + 1;
  }
  return out;
}

std::string key(const std::string& section, const char* k) {
  char value[1024] = {};
  SQLGetPrivateProfileString(section.c_str(), k, "", value, sizeof value, "odbc.ini");
  return value;
}

// Data sources of one scope: name, driver, provider, connection, user id.
struct Listed {
  std::string name, scope, driver, provider, connection, uid, description;
};

std::vector<Listed> list_scope(UWORD mode, const char* scope) {
  std::vector<Listed> out;
  SQLSetConfigMode(mode);
  for (const auto& name : names(nullptr)) {
    std::string driver = key(name, "Driver");
    if (driver.empty()) continue;  // not a data source ([ODBC] settings and the like)
    out.push_back({name, scope, driver, key(name, "Provider"), key(name, "Connection"), key(name, "UID"),
                   key(name, "Description")});
  }
  SQLSetConfigMode(ODBC_BOTH_DSN);
  return out;
}

bool exists(const std::string& name, bool system) {
  for (const auto& d : list_scope(system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN, ""))
    if (quarl::iequals(d.name, name)) return true;
  return false;
}

int list() {
  auto all = list_scope(ODBC_USER_DSN, "user");
  for (auto& d : list_scope(ODBC_SYSTEM_DSN, "system")) all.push_back(d);
  if (all.empty()) {
    std::cout << "No data sources.\n";
    return 0;
  }
  std::printf("%-20s %-7s %-15s %-30s %s\n", "NAME", "SCOPE", "DRIVER", "PROVIDER/CONNECTION", "USER");
  for (const auto& d : all) {
    std::string where = d.provider.empty() && d.connection.empty() ? "-" : d.provider + " " + d.connection;
    std::printf("%-20s %-7s %-15s %-30s %s\n", d.name.c_str(), d.scope.c_str(), d.driver.c_str(), where.c_str(),
                d.uid.empty() ? "-" : d.uid.c_str());
  }
  return 0;
}

int configure(const Options& o, bool adding) {
  std::vector<std::pair<std::string, std::string>> pairs{{"DSN", o.name}};
  auto add = [&](const char* k, const std::optional<std::string>& v) {
    if (v) pairs.emplace_back(k, *v);
  };
  add("Description", o.description);
  // Provider is written on every silent call (TCP/IP unless given), so a
  // change that does not name it keeps the stored one.
  std::optional<std::string> provider = o.provider;
  if (!adding && !provider) {
    SQLSetConfigMode(o.system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN);
    std::string stored = key(o.name, "Provider");
    SQLSetConfigMode(ODBC_BOTH_DSN);
    if (!stored.empty()) provider = stored;
  }
  add("Provider", provider);
  add("Connection", o.connection);
  add("DataDescriptionFile", o.client_config);
  add("UID", o.uid);
  add("chargecode", o.charge_code);
  if (o.no_password) {
    pairs.emplace_back("PWD", "");
  } else if (o.ask_password || o.password_stdin) {
    auto password = read_password(o, !o.password_stdin);
    if (!password) return kFailed;
    if (password->empty()) {
      std::cerr << "quarl-dsn: an empty password is not stored (use --no-password to remove one)\n";
      return kFailed;
    }
    pairs.emplace_back("PWD", *password);
  }
  WORD request = adding ? (o.system ? ODBC_ADD_SYS_DSN : ODBC_ADD_DSN)
                        : (o.system ? ODBC_CONFIG_SYS_DSN : ODBC_CONFIG_DSN);
  if (adding && exists(o.name, o.system)) {
    std::cerr << "quarl-dsn: data source " << o.name << " exists already (use change)\n";
    return kFailed;
  }
  std::string list = attribute_list(pairs);
  if (!SQLConfigDataSource(nullptr, request, o.driver.c_str(), list.c_str())) {
    print_installer_errors(std::string(adding ? "add " : "change ") + o.name);
    return kFailed;
  }
  std::cout << (adding ? "Added " : "Changed ") << (o.system ? "system" : "user") << " data source " << o.name
            << " (driver " << o.driver << ")\n";
  return 0;
}

int remove(const Options& o) {
  if (!exists(o.name, o.system)) {
    std::cerr << "quarl-dsn: there is no " << (o.system ? "system" : "user") << " data source " << o.name << "\n";
    return kFailed;
  }
  SQLSetConfigMode(o.system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN);
  std::string driver = key(o.name, "Driver");
  SQLSetConfigMode(ODBC_BOTH_DSN);
  std::string list = attribute_list({{"DSN", o.name}});
  if (!SQLConfigDataSource(nullptr, o.system ? ODBC_REMOVE_SYS_DSN : ODBC_REMOVE_DSN, driver.c_str(), list.c_str())) {
    print_installer_errors("remove " + o.name);
    return kFailed;
  }
  std::cout << "Removed " << (o.system ? "system" : "user") << " data source " << o.name << "\n";
  return 0;
}

void add_settings(CLI::App* cmd, Options& o) {
  cmd->add_option("NAME", o.name, "data source name")->required();
  cmd->add_flag("--system", o.system, "a system data source (for every user) rather than the user's own");
  cmd->add_option("--driver", o.driver, "the driver (Quarl, or Quarl Unicode)")->capture_default_str();
  cmd->add_option("-d,--description", o.description, "description");
  cmd->add_option("--provider", o.provider, "communications provider (default TCP/IP)");
  cmd->add_option("-c,--connection", o.connection,
                  "provider connection: a name from tellix.ini or host:port");
  cmd->add_option("--client-config", o.client_config, "client configuration sent at login");
  cmd->add_option("-u,--uid", o.uid, "host user id");
  cmd->add_option("--charge-code", o.charge_code, "charge code sent at login");
  auto* ask = cmd->add_flag("-p,--password", o.ask_password, "ask for the password on the terminal");
  cmd->add_flag("--password-stdin", o.password_stdin, "read the password from the first line of standard input")
      ->excludes(ask);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Adds, changes, removes and lists ODBC data sources (the password is stored scrambled)"};
  app.require_subcommand(1);
  Options o;
  auto* add = app.add_subcommand("add", "add a data source");
  add_settings(add, o);
  auto* change = app.add_subcommand("change", "change settings of a data source; what is not given stays");
  add_settings(change, o);
  change->add_flag("--no-password", o.no_password, "remove the stored password");
  auto* rm = app.add_subcommand("remove", "remove a data source");
  rm->add_option("NAME", o.name, "data source name")->required();
  rm->add_flag("--system", o.system, "a system data source");
  auto* ls = app.add_subcommand("list", "list the user's and the system's data sources");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (o.no_password && (o.ask_password || o.password_stdin)) {
    std::cerr << "quarl-dsn: --no-password goes with neither --password nor --password-stdin\n";
    return 2;
  }
  if (*add) return configure(o, true);
  if (*change) return configure(o, false);
  if (*rm) return remove(o);
  if (*ls) return list();
  return 2;
}
