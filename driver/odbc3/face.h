// The Unicode driver "Quarl Unicode" (libquarlw.so): its face values and
// tables, on the core that it shares with the ODBC 2 driver.
#pragma once

#include "driver/core/face.h"

namespace quarl::driver::odbc3 {

extern const DriverFace kUnicodeFace;

}  // namespace quarl::driver::odbc3
