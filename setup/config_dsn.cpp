// ConfigDSN: the ODBC installer adds, changes and removes Quarl data sources
// through it, silently or with the setup dialog.
#include <odbcinst.h>

#include <memory>
#include <new>
#include <mutex>
#include <string>
#include <string_view>

#include "common/attributes.h"
#include "common/platform/msgbox.h"
#include "common/scramble.h"
#include "common/text.h"
#include "setup/installer.h"
#include "setup/setup_dialog.h"

namespace quarl::setup {
namespace {

constexpr BOOL kFalse = 0, kTrue = 1;

// The setup library's strings (resources 500 and 501).
constexpr const char* kMessageCaption = "Quarl ODBC Driver Setup";
constexpr const char* kBadNameText = "%s cannot be used as a data source name.";

// The joined attribute text ("key=value;" for each string) may hold this many characters.
constexpr size_t kJoinedAttributesMax = 255;

// The stored keys, in the order they are written.
constexpr int kStoredOrder[] = {kAttrDescription, kAttrClientConfig, kAttrProvider, kAttrConnection,
                                kAttrUid,         kAttrPwd,          kAttrChargeCode};

bool deleted_when_empty(int attribute) {
  return attribute == kAttrConnection || attribute == kAttrUid || attribute == kAttrPwd ||
         attribute == kAttrChargeCode;
}

// One ConfigDSN call.
struct Request {
  HWND parent;
  const char* driver;
  bool new_dsn;
  std::string incoming_dsn;
  ConnAttributes* block;
};

// Joins the NUL-separated strings, each followed by ';'.  A request that
// cannot be joined without change is refused whole (the reason in why)
// rather than cut, which could store part of a value or drop later keys:
// a text over its limit, or a value holding the separator.
bool join_attributes(const char* list, std::string& joined, std::string& why) {
  for (const char* p = list; *p;) {
    std::string_view item(p);
    size_t equals = item.find('=');
    if (equals != std::string_view::npos && item.find(';', equals) != std::string_view::npos) {
      std::string_view key = trim_trailing_blanks(item.substr(0, equals));
      while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
      why = std::string(key) + ": a value cannot hold ';'; nothing was changed.";
      return false;
    }
    joined.append(item);
    joined += ';';
    if (joined.size() > kJoinedAttributesMax) {
      why = "The attributes are longer than 255 characters; nothing was changed.";
      return false;
    }
    p += item.size() + 1;
  }
  return true;
}

// Reads what the section holds for the attributes that were not given.
void load_stored(const Installer& installer, const std::string& dsn, ConnAttributes& block) {
  auto load = [&](int attribute, const char* default_value, bool has_value_when_empty) {
    ConnAttribute& a = block.attr[attribute];
    if (!a.given) block.set(attribute, installer.read(dsn.c_str(), kAttrStoredKeys[attribute], default_value));
    a.has_value = has_value_when_empty || a.given || a.value[0] != '\0';
    if (attribute == kAttrPwd && !a.given) scramble_in_place(a.value);
  };
  block.attr[kAttrDsn].has_value = 1;
  load(kAttrDescription, "", true);
  load(kAttrClientConfig, kDefaultClientConfig, true);
  load(kAttrUid, "", false);
  load(kAttrPwd, "", false);
  load(kAttrChargeCode, "", true);
  load(kAttrProvider, "", false);
  load(kAttrConnection, "", false);
}

std::string bad_name_text(const std::string& dsn) {
  const std::string_view format = kBadNameText;
  const size_t at = format.find("%s");
  return std::string(format.substr(0, at)) + dsn + std::string(format.substr(at + 2));
}

// Queues the reason for the installer's caller and returns FALSE: no
// request fails without one.
BOOL refuse(const Installer& installer, unsigned code, const std::string& message) {
  installer.post_error(code, message.c_str());
  return kFalse;
}

// What the data source cannot hold so that the driver reads it back
// exactly: a user id or password longer than the host login takes, or a
// password whose scrambled form the installer's files would change.  Empty
// when all is well.
std::string credential_problem(const ConnAttributes& block, bool dialog_path) {
  const ConnAttribute& uid = block.attr[kAttrUid];
  const ConnAttribute& pwd = block.attr[kAttrPwd];
  if ((dialog_path || uid.given) && std::string_view(uid.value).size() > kLoginUserIdMax)
    return "The user id is longer than " + std::to_string(kLoginUserIdMax) +
           " characters, more than the host login takes; nothing was changed.";
  if (!dialog_path && !pwd.given) return {};
  // The dialog hands the password back scrambled; a given one is clear text.
  std::string password = dialog_path ? scramble(pwd.value) : std::string(pwd.value);
  if (password.size() > kLoginPasswordMax)
    return "The password is longer than " + std::to_string(kLoginPasswordMax) +
           " characters, more than the host login takes; nothing was changed.";
  if (std::string why = scrambled_storage_problem(password); !why.empty())
    return "The password cannot be stored: " + why + ". Choose another password; nothing was changed.";
  return {};
}

BOOL save(const Installer& installer, const Request& request, bool dialog_path) {
  const ConnAttributes& block = *request.block;
  const std::string dsn(block.get(kAttrDsn));
  if (request.new_dsn && dsn.empty())
    return refuse(installer, ODBC_ERROR_INVALID_NAME, "A new data source needs a name; nothing was written.");
  if (std::string problem = credential_problem(block, dialog_path); !problem.empty()) {
    if (dialog_path) platform::message_box(request.parent, problem, kMessageCaption,
                                           platform::kMbIconExclamation | platform::kMbOk);
    return refuse(installer, ODBC_ERROR_INVALID_KEYWORD_VALUE, problem);
  }

  // The installer replaces the whole section when it registers the data
  // source; keys this call does not write must survive.
  auto kept = installer.entries(dsn.c_str());
  if (!installer.write_dsn(dsn.c_str(), request.driver)) {
    const std::string text = bad_name_text(dsn);
    if (dialog_path)
      platform::message_box(request.parent, text, kMessageCaption, platform::kMbIconExclamation | platform::kMbOk);
    return refuse(installer, ODBC_ERROR_INVALID_NAME, text);
  }
  for (const auto& [key, value] : kept)
    if (!iequals(key, "Driver")) installer.write(dsn.c_str(), key.c_str(), value.c_str());

  for (int attribute : kStoredOrder) {
    const ConnAttribute& a = block.attr[attribute];
    if (!dialog_path && !a.given) continue;
    std::string value = a.value;
    // The dialog returns the password scrambled; a given one is clear text.
    if (attribute == kAttrPwd && !dialog_path) value = scramble(value);
    const bool remove = value.empty() && deleted_when_empty(attribute);
    installer.write(dsn.c_str(), kAttrStoredKeys[attribute], remove ? nullptr : value.c_str());
  }

  if (block.attr[kAttrDsn].given && !request.incoming_dsn.empty() && !iequals(dsn, request.incoming_dsn))
    installer.remove_dsn(request.incoming_dsn.c_str());
  return kTrue;
}

BOOL config_dsn(HWND parent, WORD request_code, LPCSTR driver, LPCSTR attributes) {
  static std::mutex one_call_at_a_time;
  std::lock_guard lock(one_call_at_a_time);

  SetupDialogInputs& inputs = setup_dialog_inputs();
  fill_provider_names(kSetupProviderCount);

  const Installer* installer = Installer::get();
  if (!installer) return kFalse;  // nobody to tell: the installer itself is missing
  std::unique_ptr<ConnAttributes> block;
  try {
    block = std::make_unique<ConnAttributes>();  // zero-initialised
  } catch (const std::bad_alloc&) {
    return refuse(*installer, ODBC_ERROR_OUT_OF_MEM, "Out of memory");
  }

  bool provider_defaulted = false;
  if (attributes) {
    std::string joined;
    std::string why;
    if (!join_attributes(attributes, joined, why)) return refuse(*installer, ODBC_ERROR_INVALID_KEYWORD_VALUE, why);
    parse_attribute_string(joined, ';', *block, provider_defaulted);
  }

  Request request{parent, driver, request_code == ODBC_ADD_DSN,
                  block->attr[kAttrDsn].given ? std::string(block->get(kAttrDsn)) : std::string(), block.get()};

  const bool dsn_given = block->attr[kAttrDsn].given;
  if (!dsn_given && (request_code == ODBC_REMOVE_DSN || !parent))
    return refuse(*installer, ODBC_ERROR_INVALID_KEYWORD_VALUE, "No data source name given (DSN=name).");

  if (request_code == ODBC_REMOVE_DSN) {
    if (installer->remove_dsn(block->get(kAttrDsn).data())) return kTrue;
    return refuse(*installer, ODBC_ERROR_REMOVE_DSN_FAILED,
                  "Data source " + request.incoming_dsn + " could not be removed.");
  }

  // Configuring is for data sources that exist; only an add creates one.
  if (request_code != ODBC_ADD_DSN && dsn_given && !installer->has_section(request.incoming_dsn.c_str()))
    return refuse(*installer, ODBC_ERROR_INVALID_DSN,
                  "Data source " + request.incoming_dsn + " does not exist; add it first.");

  if (!parent) return save(*installer, request, false);

  // The dialog shows the stored provider unless the attributes name one.
  if (provider_defaulted) {
    block->attr[kAttrProvider].given = 0;
    block->set(kAttrProvider, "");
  }
  load_stored(*installer, request.incoming_dsn, *block);
  if (provider_defaulted && block->get(kAttrProvider).empty()) block->set(kAttrProvider, kDefaultProvider);

  inputs.block = block.get();
  inputs.driver_connect = false;
  intptr_t result = run_setup_dialog(parent);
  inputs.block = nullptr;
  if (result != platform::kIdOk)
    return refuse(*installer, ODBC_ERROR_USER_CANCELED, "The setup dialog was cancelled; nothing was written.");
  return save(*installer, request, true);
}

}  // namespace
}  // namespace quarl::setup

extern "C" QUARL_SETUP_EXPORT BOOL INSTAPI ConfigDSN(HWND hwndParent, WORD fRequest, LPCSTR lpszDriver,
                                                     LPCSTR lpszAttributes) {
  try {
    return quarl::setup::config_dsn(hwndParent, fRequest, lpszDriver, lpszAttributes);
  } catch (...) {
    quarl::setup::setup_dialog_inputs().block = nullptr;
    if (const auto* installer = quarl::setup::Installer::get())
      installer->post_error(ODBC_ERROR_GENERAL_ERR, "Internal error in the Quarl setup library");
    return 0;
  }
}
