#pragma once
// The POSIX files of the storage code: a file descriptor held as a SystemFile.

#include "systemfile.h"

namespace orbelant {

inline int descriptorOf(const SystemFile &file)
{
    return static_cast<int>(file.handle());
}

} // namespace orbelant
