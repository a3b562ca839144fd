#pragma once
// The Windows files of the storage code: a HANDLE held as a SystemFile, and paths in
// Windows' own UTF-16.

#include "systemfile.h"

#include <windows.h>

namespace orbelant {

inline SystemFile fileOf(HANDLE handle)
{
    return SystemFile(reinterpret_cast<qintptr>(handle));
}

inline HANDLE handleOf(const SystemFile &file)
{
    return reinterpret_cast<HANDLE>(file.handle());
}

inline const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

} // namespace orbelant
