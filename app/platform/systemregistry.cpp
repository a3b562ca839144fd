#include "systemregistry.h"

#ifdef _WIN32
#include "win32sysinfo.h"
#else
#include "viewerregistry.h"
#endif

namespace orbelant::sysinfo {

std::unique_ptr<Registry> makeSystemRegistry()
{
#ifdef _WIN32
    return std::make_unique<Win32Registry>();
#else
    return std::make_unique<ViewerRegistry>(ViewerRegistry::fromEnvironment());
#endif
}

} // namespace orbelant::sysinfo
