// The eight connection attributes of a data source and the attribute string
// grammar that both the setup library (separator ';' after joining) and the
// driver's connection strings (separator ';') use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarl {

enum AttrIndex : int {
  kAttrDsn = 0,
  kAttrDescription,
  kAttrProvider,
  kAttrConnection,
  kAttrClientConfig,
  kAttrUid,
  kAttrPwd,
  kAttrChargeCode,
  kAttrCount
};

// Keys in attribute and connection strings.
inline constexpr const char* kAttrKeywords[kAttrCount] = {
    "DSN", "Description", "Provider", "Connection", "DataDescriptionFile", "UID", "PWD", "chargecode"};
// Keys in the data source's stored section (the data source name is the section).
inline constexpr const char* kAttrStoredKeys[kAttrCount] = {
    nullptr, "Description", "Provider", "Connection", "ClientConfig", "UID", "PWD", "chargecode"};

inline constexpr const char* kDefaultProvider = "TCP/IP";
inline constexpr const char* kDefaultClientConfig = "quarl/clientconfig";
inline constexpr int kAttrValueMax = 255;
// The host login holds at most this many characters of the user id and of
// the password.
inline constexpr size_t kLoginUserIdMax = 18;
inline constexpr size_t kLoginPasswordMax = 18;
// Keys of 21 or more characters match nothing.
inline constexpr int kAttrKeyMax = 20;

struct ConnAttribute {
  uint32_t given;
  uint32_t has_value;
  uint32_t fixed;
  char value[kAttrValueMax + 1];
};

// The connection attribute block: zero-initialise it before use.
struct ConnAttributes {
  ConnAttribute attr[kAttrCount];

  void set(int index, std::string_view value);
  std::string_view get(int index) const { return attr[index].value; }
};

enum class AttrParse { Complete, Incomplete };

// Parses text into block, marking what it finds as given (values cut to 255
// characters).  When the parse completes without "Provider", the provider
// becomes "TCP/IP" and counts as given.
AttrParse parse_attribute_string(std::string_view text, char separator, ConnAttributes& block);
// The same; provider_defaulted tells whether the provider was set by that
// default rather than named in the text, and unknown_keys (when given)
// receives the keys that matched no attribute, in text order.
AttrParse parse_attribute_string(std::string_view text, char separator, ConnAttributes& block,
                                 bool& provider_defaulted, std::vector<std::string>* unknown_keys = nullptr);

// The attribute a keyword names (without regard to case), or -1.
int find_attribute_keyword(std::string_view key);

}  // namespace quarl
