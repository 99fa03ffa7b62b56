// Library load: the settings are read once, before any entry point can run.
// Nothing is torn down at unload.
#include "driver/core/settings.h"

namespace {

__attribute__((constructor)) void quarl_driver_attach() { quarl::driver::load_settings(); }

}  // namespace
