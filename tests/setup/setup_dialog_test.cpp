// The setup dialog driven in-process through the headless host, with the
// scripted provider registered as "Scripted" beside the built-in TCP/IP.
#include "setup/setup_dialog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "tests/support/dialog_script.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/test_env.h"

namespace {

using namespace quarl;
using namespace quarl::setup;
using testsupport::DialogScript;

class SetupDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QUARL_PROFILE_DIR", dir.path().c_str(), 1);
    testsupport::write_file(dir / "tellix.ini", "[providers]\nScripted=" +
                                                    testsupport::lib_path("libquarl_scripted_provider.so").string() +
                                                    "\n");
    scripted::reset();
    std::memset(&block, 0, sizeof block);
    block.set(kAttrDsn, "Sales");
    block.set(kAttrDescription, "desc");
    block.set(kAttrClientConfig, "cfg");
    block.set(kAttrUid, "bob");
    block.set(kAttrPwd, "secret");
    block.set(kAttrProvider, "Scripted");
    block.set(kAttrConnection, "HOST2");
    auto& inputs = setup_dialog_inputs();
    inputs.block = &block;
    inputs.driver_connect = false;
    fill_provider_names(kSetupProviderCount);
  }
  void TearDown() override {
    setup_dialog_inputs().block = nullptr;
    ::unsetenv("QUARL_PROFILE_DIR");
  }
  intptr_t run(const DialogScript&) { return run_setup_dialog(nullptr); }
  static bool balanced_loads() {
    auto calls = scripted::calls();
    return std::count(calls.begin(), calls.end(), "load") == std::count(calls.begin(), calls.end(), "unload");
  }

  testsupport::TempDir dir;
  ConnAttributes block;
};

TEST_F(SetupDialogTest, OpensWithTheValuesLimitsAndProviders) {
  DialogScript script(1001, {"snapshot", "press 2"});
  EXPECT_EQ(run(script), 2);
  auto c = script.snapshot();
  EXPECT_EQ(c[400].text, "Sales");
  EXPECT_EQ(c[400].limit, 32);
  EXPECT_TRUE(c[400].enabled);
  EXPECT_EQ(c[403].text, "desc");
  EXPECT_EQ(c[403].limit, 255);
  EXPECT_EQ(c[405].limit, 255);
  EXPECT_EQ(c[407].text, "secret");  // shown in clear
  for (int id : {406, 407, 416}) EXPECT_EQ(c[id].limit, 17) << id;
  EXPECT_EQ(c[402].items, (std::vector<std::string>{"TCP/IP", "Scripted"}));
  EXPECT_EQ(c[402].selection, 1);
  EXPECT_EQ(c[404].items, (std::vector<std::string>{"HOST1", "HOST2"}));
  EXPECT_EQ(c[404].selection, 1);
  EXPECT_FALSE(c[408].enabled);  // the provider has no configuration dialog
  EXPECT_TRUE(c[1].enabled);
  // Centred on the (headless) screen; the provider is opened only to read its names.
  EXPECT_NE(script.transcript().find("position 259,240"), std::string::npos);
  EXPECT_EQ(scripted::calls(), (std::vector<std::string>{"load", "open", "list", "close", "unload"}));
  // Cancel changes nothing.
  EXPECT_EQ(block.get(kAttrDsn), "Sales");
  EXPECT_EQ(block.get(kAttrPwd), "secret");
}

TEST_F(SetupDialogTest, OkTakesTheFieldsReplacingSemicolonsExceptInThePassword) {
  DialogScript script(1001, {"type 400 N;ame", "type 403 a;b", "type 405 x;y", "type 406 u;1", "type 407 p;w",
                             "type 416 c;c", "pick 404 HOST1", "press 1"});
  ASSERT_EQ(run(script), 1);
  EXPECT_EQ(block.get(kAttrDsn), "N ame");
  EXPECT_EQ(block.get(kAttrDescription), "a b");
  EXPECT_EQ(block.get(kAttrClientConfig), "x y");
  EXPECT_EQ(block.get(kAttrUid), "u 1");
  EXPECT_EQ(block.get(kAttrPwd), scramble("p;w"));  // handed back scrambled
  EXPECT_EQ(block.get(kAttrChargeCode), "c c");
  EXPECT_EQ(block.get(kAttrProvider), "Scripted");
  EXPECT_EQ(block.get(kAttrConnection), "HOST1");
  EXPECT_TRUE(balanced_loads());
}

TEST_F(SetupDialogTest, OkFollowsTheNameFieldAndTypingKeepsToTheLimit) {
  block.set(kAttrDsn, "");
  DialogScript script(1001, {"snapshot", "type 400 B", "snapshot", "type 400", "snapshot", "press 1",
                             "type 400 " + std::string(40, 'n'), "press 1"});
  ASSERT_EQ(run(script), 1);
  EXPECT_FALSE(script.snapshot(0)[1].enabled);  // a new data source without a name
  EXPECT_TRUE(script.snapshot(1)[1].enabled);
  EXPECT_FALSE(script.snapshot(2)[1].enabled);
  EXPECT_NE(script.transcript().find("refused: press 1 (disabled)"), std::string::npos);
  EXPECT_EQ(block.get(kAttrDsn), std::string(32, 'n'));
}

TEST_F(SetupDialogTest, TheDefaultDataSourceKeepsItsName) {
  block.set(kAttrDsn, "default");
  DialogScript script(1001, {"snapshot", "type 400 Other", "press 1"});
  ASSERT_EQ(run(script), 1);
  auto c = script.snapshot();
  EXPECT_FALSE(c[400].enabled);
  EXPECT_FALSE(c[401].enabled);
  EXPECT_NE(c[400].limit, 32);
  EXPECT_EQ(block.get(kAttrDsn), "default");
}

TEST_F(SetupDialogTest, SwitchingProvidersRefillsTheConnections) {
  testsupport::write_file(dir / "tellix.ini", testsupport::read_file(dir / "tellix.ini") +
                                                  "[TCP/IP]\nlocal=127.0.0.1:1\n");
  DialogScript script(1001, {"pick 402 Scripted", "snapshot", "pick 402 TCP/IP", "snapshot", "pick 402 Scripted",
                             "snapshot", "pick 404 HOST1", "press 1"});
  ASSERT_EQ(run(script), 1);
  // The loaded provider again: the selection stays.
  EXPECT_EQ(script.snapshot(0)[404].selection, 1);
  auto tcp = script.snapshot(1);
  EXPECT_EQ(tcp[404].items, std::vector<std::string>{"local"});
  EXPECT_EQ(tcp[404].selection, -1);
  // Back to Scripted: the connection value was emptied by the switch.
  auto back = script.snapshot(2);
  EXPECT_EQ(back[404].items, (std::vector<std::string>{"HOST1", "HOST2"}));
  EXPECT_EQ(back[404].selection, -1);
  EXPECT_EQ(block.get(kAttrProvider), "Scripted");
  EXPECT_EQ(block.get(kAttrConnection), "HOST1");
  EXPECT_TRUE(balanced_loads());
}

TEST_F(SetupDialogTest, UnknownProviderOrConnectionSelectsFirstProviderAndNoConnection) {
  block.set(kAttrProvider, "Nope");
  DialogScript script(1001, {"snapshot", "pick 402 Scripted", "press 1"});
  ASSERT_EQ(run(script), 1);
  EXPECT_EQ(script.snapshot()[402].selection, 0);
  EXPECT_EQ(block.get(kAttrConnection), "");  // the switch emptied it; nothing chosen

  block.set(kAttrProvider, "Scripted");
  block.set(kAttrConnection, "GONE");
  DialogScript again(1001, {"snapshot", "press 1"});
  ASSERT_EQ(run(again), 1);
  EXPECT_EQ(again.snapshot()[404].selection, -1);
  EXPECT_EQ(block.get(kAttrConnection), "");
}

TEST_F(SetupDialogTest, DriverConnectRefusesBlankUserIdAndPassword) {
  setup_dialog_inputs().driver_connect = true;
  DialogScript script(1001, {"type 406 \"   \"", "press 1", "snapshot", "type 406 u", "type 407", "press 1",
                             "snapshot", "type 407 pw", "press 1"});
  ASSERT_EQ(run(script), 1);
  EXPECT_EQ(script.snapshot_focus(0), 406);
  EXPECT_EQ(script.snapshot_focus(1), 407);
  std::string t = script.transcript();
  EXPECT_NE(t.find("beep\nfocus 406\nselect-all 406"), std::string::npos);
  EXPECT_NE(t.find("beep\nfocus 407\nselect-all 407"), std::string::npos);
  EXPECT_EQ(block.get(kAttrUid), "u");
  EXPECT_EQ(block.get(kAttrPwd), scramble("pw"));

  // Without the flag blank values are taken as they are.
  setup_dialog_inputs().driver_connect = false;
  DialogScript setup(1001, {"type 406 \"   \"", "type 407", "press 1"});
  ASSERT_EQ(run(setup), 1);
  EXPECT_EQ(block.get(kAttrUid), "   ");
  EXPECT_EQ(block.get(kAttrPwd), "");
}

TEST_F(SetupDialogTest, FixedAttributesDisableTheirFields) {
  scripted::set_configurable(true);
  block.set(kAttrDsn, "");
  for (int a : {kAttrDsn, kAttrUid, kAttrProvider, kAttrConnection}) block.attr[a].fixed = 1;
  DialogScript script(1001, {"snapshot", "pick 402 TCP/IP", "press 1"});
  ASSERT_EQ(run(script), 1);
  auto c = script.snapshot();
  for (int id : {400, 401, 406, 413, 402, 410, 404, 409, 408, 411}) EXPECT_FALSE(c[id].enabled) << id;
  for (int id : {403, 405, 407, 416, 1}) EXPECT_TRUE(c[id].enabled) << id;
  EXPECT_EQ(block.get(kAttrProvider), "Scripted");
  EXPECT_EQ(block.get(kAttrConnection), "HOST2");

  // With the connection changeable the provider's configuration is offered.
  block.attr[kAttrConnection].fixed = 0;
  DialogScript open(1001, {"snapshot", "press 2"});
  run(open);
  EXPECT_TRUE(open.snapshot()[408].enabled);
  EXPECT_TRUE(open.snapshot()[402].enabled);
}

TEST_F(SetupDialogTest, ConfigureReloadsTheNamesAndKeepsTheChoice) {
  scripted::set_configurable(true);
  scripted::set_configure_connections({"HOST3", "HOST2"});
  DialogScript script(1001, {"snapshot", "press 408", "snapshot", "press 1"});
  ASSERT_EQ(run(script), 1);
  EXPECT_TRUE(script.snapshot(0)[408].enabled);
  auto after = script.snapshot(1);
  EXPECT_EQ(after[404].items, (std::vector<std::string>{"HOST3", "HOST2"}));
  EXPECT_EQ(after[404].selection, 1);
  EXPECT_EQ(block.get(kAttrConnection), "HOST2");
  auto calls = scripted::calls();
  auto configure = std::find(calls.begin(), calls.end(), "configure");
  ASSERT_NE(configure, calls.end());
  // Called on a loaded but closed provider, then opened again to read the names.
  EXPECT_EQ(std::vector<std::string>(configure - 1, calls.end()),
            (std::vector<std::string>{"close", "configure", "open", "list", "close", "unload"}));
}

TEST_F(SetupDialogTest, AProviderThatCannotBeOpenedOffersNothing) {
  scripted::set_configurable(true);
  scripted::fail("open");
  DialogScript script(1001, {"snapshot", "press 408", "press 1"});
  ASSERT_EQ(run(script), 1);
  auto c = script.snapshot();
  EXPECT_TRUE(c[404].items.empty());
  EXPECT_FALSE(c[408].enabled);  // its configuration went with it
  EXPECT_EQ(block.get(kAttrConnection), "");
  EXPECT_EQ(scripted::calls(), (std::vector<std::string>{"load", "open", "close", "unload"}));
}

TEST_F(SetupDialogTest, ConnectionNamesAreReadDefensively) {
  // More names than the original 16-entry list, and names longer than 15
  // characters, are all offered; what does not fit the provider's 512-byte
  // buffer is left out.
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back("connection-name-" + std::to_string(i));
  scripted::set_connections(names);
  DialogScript script(1001, {"snapshot", "press 2"});
  run(script);
  auto items = script.snapshot()[404].items;
  ASSERT_GT(items.size(), 16u);
  EXPECT_LT(items.size(), names.size());
  EXPECT_EQ(items.front(), "connection-name-0");
}

TEST_F(SetupDialogTest, WithoutAScriptOrScreenTheDialogIsCancelledUntouched) {
  ::unsetenv("QUARL_DIALOG_SCRIPT");
  EXPECT_EQ(run_setup_dialog(nullptr), 2);
  EXPECT_TRUE(scripted::calls().empty());
  EXPECT_EQ(block.get(kAttrDsn), "Sales");
}

TEST_F(SetupDialogTest, TheProcedureIgnoresStrangeHandlesAndMessages) {
  int not_a_dialog = 0;
  EXPECT_EQ(ConfigDlgProc(&not_a_dialog, 0x0111, platform::make_command(1, 0), 0), 1);  // OK on nothing: no crash
  setup_dialog_inputs().block = nullptr;
  EXPECT_EQ(ConfigDlgProc(&not_a_dialog, 0x0110, 0, 0), 0);
  EXPECT_EQ(ConfigDlgProc(nullptr, 0x0111, platform::make_command(2, 0), 0), 0);
  EXPECT_EQ(run_setup_dialog(nullptr), -1);
}

}  // namespace
