#pragma once
// The program's title and version, for captions and the About box.

#include <QString>

namespace orbelant {

inline QString programTitle()
{
    return QStringLiteral("Орбелант");
}

struct ProgramVersion {
    int major;
    int minor;
    int revision;
};

inline constexpr ProgramVersion programVersion{1, 0, 0};

} // namespace orbelant
