// The built-in "TCP/IP" provider of the shell.
#pragma once

#include "tellix/tellix.h"

namespace tellix {

inline constexpr const char* kTcpProviderName = "TCP/IP";

uint8_t tcp_provider_load(ProviderTable* table);
void tcp_provider_unload();

}  // namespace tellix
