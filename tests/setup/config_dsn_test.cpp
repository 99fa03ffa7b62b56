// ConfigDSN through the real unixODBC installer (SQLConfigDataSource loads
// libquarlsp.so as the "Setup" library of the driver "Quarl") with a private
// configuration.  The dialog path runs through the headless host.
#include <gtest/gtest.h>
#include <odbcinst.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "tests/support/dialog_script.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/test_env.h"

namespace {

using testsupport::DialogScript;

HWND const kParent = reinterpret_cast<HWND>(0x1234);  // a window outside our dialogs

// An attribute list: NUL after each string, an empty string last.
std::string attrs(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += s + '\0';
  return out + '\0';
}

// The lines of one section of an ini file ("" when it is not there).
std::vector<std::string> section(const std::filesystem::path& file, const std::string& name) {
  std::vector<std::string> lines;
  std::string text = testsupport::read_file(file);
  bool inside = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line[0] == '[') {
      inside = line == "[" + name + "]";
      continue;
    }
    if (inside && !line.empty()) lines.push_back(line);
  }
  return lines;
}

// Every queued installer error, one a line.
std::string installer_error() {
  std::string all;
  for (WORD i = 1; i <= 8; ++i) {
    DWORD code = 0;
    char message[512] = {};
    WORD length = 0;
    if (SQLInstallerError(i, &code, message, sizeof message, &length) != SQL_SUCCESS) break;
    all += std::to_string(code) + " " + message + "\n";
  }
  return all;
}

// unixODBC keeps the configuration folder of the first use for the whole
// process, so the tests share one configuration and empty it before each test.
class ConfigDsnTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shared = new testsupport::OdbcConfig(); }
  static void TearDownTestSuite() {
    delete shared;
    shared = nullptr;
  }
  void SetUp() override {
    ::setenv("ODBCINI", config.odbc_ini().c_str(), 1);
    testsupport::write_file(config.odbc_ini(), "");
    forget_cached_reads();
    testsupport::write_file(config.profile_dir() / "tellix.ini",
                            "[providers]\nScripted=" +
                                testsupport::lib_path("libquarl_scripted_provider.so").string() + "\n");
    scripted::reset();
  }
  // The installer caches what it read until it writes; files changed behind
  // its back need this.
  static void forget_cached_reads() { SQLWritePrivateProfileString("quarl-test-none", nullptr, nullptr, "ODBC.INI"); }
  void add_dsn(const std::string& name, const std::map<std::string, std::string>& keys) {
    config.add_dsn(name, keys);
    forget_cached_reads();
  }
  BOOL config_dsn(WORD request, const std::vector<std::string>& items, HWND parent = nullptr) {
    std::string list = attrs(items);
    return SQLConfigDataSource(parent, request, "Quarl", list.c_str());
  }
  std::vector<std::string> dsn(const std::string& name) { return section(config.odbc_ini(), name); }

  static testsupport::OdbcConfig* shared;
  testsupport::OdbcConfig& config = *shared;
};
testsupport::OdbcConfig* ConfigDsnTest::shared = nullptr;

const std::string kScrambledSecret = quarl::scramble("secret");

TEST_F(ConfigDsnTest, AddWritesTheKeysInTheirOrderWithThePasswordScrambled) {
  ASSERT_TRUE(config_dsn(ODBC_ADD_DSN, {"DSN=A", "Description=x"}));
  EXPECT_EQ(dsn("A"), (std::vector<std::string>{"Driver=Quarl", "Description=x", "Provider=TCP/IP"}));

  ASSERT_TRUE(config_dsn(ODBC_ADD_DSN, {"DSN=B", "chargecode=cc", "PWD=abc", "UID=bob", "Connection=HOST1",
                                        "DataDescriptionFile=cfg", "Provider=Scripted", "Description=d"}));
  EXPECT_EQ(dsn("B"), (std::vector<std::string>{"Driver=Quarl", "Description=d", "ClientConfig=cfg",
                                                "Provider=Scripted", "Connection=HOST1", "UID=bob", "PWD=```",
                                                "chargecode=cc"}));
}

TEST_F(ConfigDsnTest, SilentConfigureWritesOnlyTheGivenKeys) {
  ASSERT_TRUE(config_dsn(ODBC_ADD_DSN, {"DSN=A", "Description=d", "UID=bob", "PWD=secret", "Connection=HOST1",
                                        "chargecode=cc", "DataDescriptionFile=cfg"}));
  // A key the setup does not manage, written by hand.
  SQLSetConfigMode(ODBC_USER_DSN);
  SQLWritePrivateProfileString("A", "Trace", "Yes", "ODBC.INI");
  SQLSetConfigMode(ODBC_BOTH_DSN);

  ASSERT_TRUE(config_dsn(ODBC_CONFIG_DSN, {"DSN=A", "UID="}));
  EXPECT_EQ(dsn("A"), (std::vector<std::string>{"Driver=Quarl", "Description=d", "ClientConfig=cfg",
                                                "Provider=TCP/IP", "Connection=HOST1", "PWD=" + kScrambledSecret,
                                                "chargecode=cc", "Trace=Yes"}));
  ASSERT_TRUE(config_dsn(ODBC_CONFIG_DSN, {"DSN=A", "Connection=", "PWD=", "chargecode=", "Description="}));
  EXPECT_EQ(dsn("A"), (std::vector<std::string>{"Driver=Quarl", "Description=", "ClientConfig=cfg",
                                                "Provider=TCP/IP", "Trace=Yes"}));
}

TEST_F(ConfigDsnTest, OddAttributeStrings) {
  struct Case {
    std::vector<std::string> items;
    std::vector<std::string> stored;  // section "A"
  };
  const std::string key20 = "DataDescriptionFile ";  // 20 characters with its blank
  const std::vector<Case> cases = {
      {{"dsn = A", "description =  x "}, {"Driver=Quarl", "Description=x", "Provider=TCP/IP"}},
      {{"DSN=A", "DataDescriptionFile=cfg"}, {"Driver=Quarl", "ClientConfig=cfg", "Provider=TCP/IP"}},
      {{"DSN=A", "ClientConfig=cfg", "Bogus=1", "junk", std::string(21, 'K') + "=v"},
       {"Driver=Quarl", "Provider=TCP/IP"}},
      {{"DSN=A", key20 + "=cfg"}, {"Driver=Quarl", "ClientConfig=cfg", "Provider=TCP/IP"}},
      {{"DSN=A", "UID=a", "UID=b", "Provider=Scripted"}, {"Driver=Quarl", "Provider=Scripted", "UID=b"}},
  };
  for (const Case& c : cases) {
    testsupport::write_file(config.odbc_ini(), "");
    forget_cached_reads();
    EXPECT_TRUE(config_dsn(ODBC_ADD_DSN, c.items)) << c.items[1];
    EXPECT_EQ(dsn("A"), c.stored) << c.items[1];
  }
}

TEST_F(ConfigDsnTest, RefusedRequestsWriteNothing) {
  const std::string before = testsupport::read_file(config.odbc_ini());
  // Longer than the 255 characters the joined attribute text may hold: refused whole.
  EXPECT_FALSE(config_dsn(ODBC_ADD_DSN, {"DSN=A", "Description=" + std::string(300, 'v')}));
  EXPECT_NE(installer_error().find("longer than 255 characters"), std::string::npos);
  // No data source name, silently or for removal; configuring one that does
  // not exist (it is not created).  Each says why.
  struct Refused {
    WORD request;
    std::vector<std::string> items;
    std::string reason;
  } refused[] = {
      {ODBC_ADD_DSN, {"Description=x"}, "No data source name given"},
      {ODBC_REMOVE_DSN, {"Description=x"}, "No data source name given"},
      {ODBC_REMOVE_DSN, {}, "No data source name given"},
      {ODBC_CONFIG_DSN, {}, "No data source name given"},
      {ODBC_CONFIG_DSN, {"DSN=Missing", "UID=u"}, "Data source Missing does not exist"},
      {ODBC_CONFIG_SYS_DSN, {"DSN=Missing"}, "Data source Missing does not exist"},
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(config_dsn(r.request, r.items)) << r.reason;
    EXPECT_NE(installer_error().find(r.reason), std::string::npos) << r.reason;
  }
  // A name the installer does not take; silently there is no message box,
  // but the caller learns why.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(config_dsn(ODBC_ADD_DSN, {"DSN=a[b"}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_NE(installer_error().find("a[b cannot be used as a data source name."), std::string::npos);
  EXPECT_EQ(testsupport::read_file(config.odbc_ini()), before);
  // 255 characters exactly still fit.
  std::string description(255 - std::string("DSN=A;Description=;").size(), 'v');
  EXPECT_TRUE(config_dsn(ODBC_ADD_DSN, {"DSN=A", "Description=" + description}));
  EXPECT_EQ(dsn("A")[1], "Description=" + description);
}

// What the driver reads back from the stored password (as SQLConnect does).
std::string stored_password(const std::string& dsn) {
  char value[256] = {};
  SQLGetPrivateProfileString(dsn.c_str(), "PWD", "", value, sizeof value, "ODBC.INI");
  return quarl::scramble(value);
}

TEST_F(ConfigDsnTest, CredentialsAreStoredExactlyOrRefused) {
  struct Case {
    std::string uid, pwd;
    std::string reason;  // empty: stored
  } cases[] = {
      {"bob", std::string(18, 'p'), ""},
      {std::string(18, 'u'), "pw", ""},
      {"bob", std::string(19, 'p'), "The password is longer than 18 characters"},
      {std::string(19, 'u'), "pw", "The user id is longer than 18 characters"},
      // '!' ^ 1 and '$' ^ 4 are blanks, which the installer's files drop at either end.
      {"bob", "!abc", "its character 1 scrambles to white space at the start"},
      {"bob", "abc$", "its character 4 scrambles to white space at the end"},
      {"bob", "a!c", ""},  // a blank inside is kept
      {"bob", "\x0b", "its character 1 scrambles to a line feed"},
      // The attribute list is joined with ';': a value holding one would be cut.
      {"bob", "a;b", "PWD: a value cannot hold ';'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uid + " " + c.pwd);
    ASSERT_TRUE(config_dsn(ODBC_ADD_DSN, {"DSN=A", "UID=old", "PWD=old"}));
    bool stored = config_dsn(ODBC_CONFIG_DSN, {"DSN=A", "UID=" + c.uid, "PWD=" + c.pwd});
    EXPECT_EQ(stored, c.reason.empty());
    if (!stored) {
      EXPECT_NE(installer_error().find(c.reason), std::string::npos) << installer_error();
    }
    forget_cached_reads();
    EXPECT_EQ(stored_password("A"), stored ? c.pwd : "old");  // a refusal changes nothing
  }
  // Every printable character at the start, inside and at the end: whatever
  // is accepted reads back exactly.
  for (int ch = 0x21; ch < 0x7f; ++ch) {
    for (std::string pwd : {std::string(1, char(ch)) + "xy", "x" + std::string(1, char(ch)) + "y",
                            "xy" + std::string(1, char(ch))}) {
      if (config_dsn(ODBC_ADD_DSN, {"DSN=B", "PWD=" + pwd})) {
        forget_cached_reads();
        EXPECT_EQ(stored_password("B"), pwd);
      } else {
        std::string why = installer_error();
        EXPECT_TRUE(why.find("white space") != std::string::npos || why.find("cannot hold ';'") != std::string::npos)
            << pwd << ": " << why;
      }
    }
  }
}

TEST_F(ConfigDsnTest, RemoveDeletesTheDataSource) {
  ASSERT_TRUE(config_dsn(ODBC_ADD_DSN, {"DSN=A"}));
  ASSERT_TRUE(config_dsn(ODBC_ADD_DSN, {"DSN=B"}));
  EXPECT_TRUE(config_dsn(ODBC_REMOVE_DSN, {"DSN=A"}));
  EXPECT_TRUE(dsn("A").empty());
  EXPECT_FALSE(dsn("B").empty());
}

TEST_F(ConfigDsnTest, SystemDataSourcesGoToTheSystemFile) {
  // Give the user data sources a file of their own.
  auto user = config.dir() / "user-odbc.ini";
  testsupport::write_file(user, "");
  ::setenv("ODBCINI", user.c_str(), 1);
  auto system = config.dir() / "odbc.ini";  // $ODBCSYSINI/odbc.ini

  ASSERT_TRUE(config_dsn(ODBC_ADD_SYS_DSN, {"DSN=S", "UID=sys"}));
  ASSERT_TRUE(config_dsn(ODBC_ADD_DSN, {"DSN=U", "UID=usr"}));
  EXPECT_EQ(section(system, "S"), (std::vector<std::string>{"Driver=Quarl", "Provider=TCP/IP", "UID=sys"}));
  EXPECT_TRUE(section(user, "S").empty());
  EXPECT_EQ(section(user, "U"), (std::vector<std::string>{"Driver=Quarl", "Provider=TCP/IP", "UID=usr"}));
  EXPECT_TRUE(section(system, "U").empty());

  ASSERT_TRUE(config_dsn(ODBC_CONFIG_SYS_DSN, {"DSN=S", "UID=other"}));
  EXPECT_EQ(section(system, "S")[2], "UID=other");
  ASSERT_TRUE(config_dsn(ODBC_REMOVE_SYS_DSN, {"DSN=S"}));
  EXPECT_TRUE(section(system, "S").empty());
  EXPECT_FALSE(section(user, "U").empty());
}

TEST_F(ConfigDsnTest, TheDialogShowsTheStoredValuesAndRenames) {
  add_dsn("A", {{"Description", "d"}, {"ClientConfig", "cfg"}, {"Provider", "Scripted"},
                       {"Connection", "HOST2"}, {"UID", "bob"}, {"PWD", kScrambledSecret}, {"chargecode", "cc"}});
  DialogScript script(1001, {"snapshot", "type 400 B", "press 1"});
  ASSERT_TRUE(config_dsn(ODBC_CONFIG_DSN, {"DSN=A"}, kParent));
  auto c = script.snapshot();
  EXPECT_EQ(c[400].text, "A");
  EXPECT_EQ(c[403].text, "d");
  EXPECT_EQ(c[405].text, "cfg");
  EXPECT_EQ(c[406].text, "bob");
  EXPECT_EQ(c[407].text, "secret");
  EXPECT_EQ(c[416].text, "cc");
  EXPECT_EQ(c[402].text, "Scripted");  // the stored provider, not the attribute string's default
  EXPECT_EQ(c[404].text, "HOST2");
  EXPECT_TRUE(dsn("A").empty());
  EXPECT_EQ(dsn("B"), (std::vector<std::string>{"Driver=Quarl", "Description=d", "ClientConfig=cfg",
                                                "Provider=Scripted", "Connection=HOST2", "UID=bob",
                                                "PWD=" + kScrambledSecret, "chargecode=cc"}));
}

TEST_F(ConfigDsnTest, TheDialogAddsClearsAndKeepsNames) {
  // A new data source typed into the dialog; the defaults fill what is not typed.
  {
    DialogScript script(1001, {"type 400 New", "type 406 u", "pick 402 Scripted", "pick 404 HOST1", "press 1"});
    ASSERT_TRUE(config_dsn(ODBC_ADD_DSN, {}, kParent));
  }
  EXPECT_EQ(dsn("New"), (std::vector<std::string>{"Driver=Quarl", "Description=", "ClientConfig=quarl/clientconfig",
                                                  "Provider=Scripted", "Connection=HOST1", "UID=u"}));
  // Emptied fields delete their keys; a change of case only is no rename.
  {
    DialogScript script(1001, {"type 400 NEW", "type 406", "pick 402 TCP/IP", "press 1"});
    ASSERT_TRUE(config_dsn(ODBC_CONFIG_DSN, {"DSN=New"}, kParent));
  }
  auto text = testsupport::read_file(config.odbc_ini());
  EXPECT_EQ(section(config.odbc_ini(), "NEW"),
            (std::vector<std::string>{"Driver=Quarl", "Description=", "ClientConfig=quarl/clientconfig",
                                      "Provider=TCP/IP"}))
      << text;
  EXPECT_TRUE(dsn("New").empty()) << text;
}

TEST_F(ConfigDsnTest, CancelledOrUnshownDialogsWriteNothing) {
  add_dsn("A", {{"Description", "d"}});
  const std::string before = testsupport::read_file(config.odbc_ini());
  {
    DialogScript script(1001, {"type 403 changed", "press 2"});
    EXPECT_FALSE(config_dsn(ODBC_CONFIG_DSN, {"DSN=A"}, kParent));
  }
  {
    // A new data source needs a name: OK stays disabled and the dialog ends cancelled.
    DialogScript script(1001, {"type 403 x", "press 1"});
    EXPECT_FALSE(config_dsn(ODBC_ADD_DSN, {}, kParent));
    EXPECT_NE(script.transcript().find("refused: press 1 (disabled)"), std::string::npos);
  }
  testing::internal::CaptureStderr();
  EXPECT_FALSE(config_dsn(ODBC_CONFIG_DSN, {"DSN=A"}, kParent));  // no script, no screen
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cancelled"), std::string::npos);
  EXPECT_EQ(testsupport::read_file(config.odbc_ini()), before);
}

TEST_F(ConfigDsnTest, TheDialogPathReportsANameTheInstallerRefuses) {
  DialogScript script(1001, {"type 400 a[b", "press 1"});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(config_dsn(ODBC_ADD_DSN, {"DSN=x"}, kParent));
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "Quarl ODBC Driver Setup: a[b cannot be used as a data source name."),
            std::string::npos);
  EXPECT_TRUE(dsn("a[b").empty());
  EXPECT_TRUE(dsn("x").empty());
}

TEST_F(ConfigDsnTest, TheLibraryExportsOnlyItsEntryPoints) {
  auto path = testsupport::lib_path("libquarlsp.so").string();
  auto result = testsupport::run_command("nm -D --defined-only '" + path + "' | awk '{print $3}'");
  EXPECT_EQ(result.output, "ConfigDSN\nConfigDlgProc\n");
  // Called directly (the installer never passes a null list): nothing to remove or save.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  auto config_dsn = reinterpret_cast<decltype(&ConfigDSN)>(dlsym(library, "ConfigDSN"));
  ASSERT_NE(config_dsn, nullptr);
  EXPECT_FALSE(config_dsn(nullptr, ODBC_REMOVE_DSN, "Quarl", nullptr));
  EXPECT_FALSE(config_dsn(nullptr, ODBC_CONFIG_DSN, "Quarl", nullptr));
  dlclose(library);
}

}  // namespace
