#pragma once
// The system's error codes (errno on POSIX, GetLastError() on Windows) in Russian words.

#include <QString>

namespace orbelant {

// The error code of the system call that just failed.
int lastSystemError();

// Words of our own, such as "на диске нет места"; empty for a code without them.
QString systemErrorReason(int code);

// The same, and for a code without words of its own its number: "ошибка системы № 37".
QString systemErrorText(int code);

} // namespace orbelant
