// Placeholder until the TCP/IP provider lands: it cannot be loaded.
#include "tellix/tcp_provider.h"

namespace tellix {

uint8_t tcp_provider_load(ProviderTable*) { return TELLIX_ERROR; }
void tcp_provider_unload() {}

}  // namespace tellix
