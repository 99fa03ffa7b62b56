// The connection handler records: one per connected connection, holding its
// sub id (sent in every HostMessage header) and its host login.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/attributes.h"

namespace quarl::driver {

struct ConnBlock;
struct PhysComm;

inline constexpr int kSubIdCount = 63;
inline constexpr size_t kUserIdMax = kLoginUserIdMax;
inline constexpr size_t kPasswordMax = kLoginPasswordMax;
inline constexpr size_t kClientConfigMax = 256;

// The sequence characters of a sub connection travel with the connection's
// HostChannel, which is this record's only user.
struct SubConnection {
  uint8_t login_count = 0;
  uint8_t sub_id = 0;
  PhysComm* link = nullptr;
  std::string user_id;        // at most 18 characters
  std::string password;       // at most 18 characters
  std::string client_config;  // at most 256 characters
};

// Allocates a record with a fresh sub id and puts it in the process-wide
// list; null with "No free sub connections" posted when all 63 are taken.
SubConnection* alloc_subconnection(ConnBlock& conn, std::string_view uid, std::string_view pwd,
                                   std::string_view client_config);
void free_subconnection(SubConnection* record);
// 1 to 63, or 0 when none is free.
uint8_t take_sub_id();
void release_sub_id(uint8_t id);
// Sub ids in use (tests).
int sub_ids_in_use();

}  // namespace quarl::driver
