#pragma once
// The registry the launcher reads on this platform.

#include "sysinfoservices.h"

#include <memory>

namespace orbelant::sysinfo {

// Windows' own registry; elsewhere our stand-in that names an installed viewer.
std::unique_ptr<Registry> makeSystemRegistry();

} // namespace orbelant::sysinfo
