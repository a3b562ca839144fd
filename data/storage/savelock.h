#pragma once
// One save of a workbook at a time, across processes: a lock on the workbook file, held
// by a save from its re-read of the file until the new file has replaced it. The waiting
// is shared; savelock_linux.cpp and savelock_win.cpp lock and say who holds a lock.

#include "../error.h"
#include "systemfile.h"

#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace orbelant {

// How a save passes a step of its wait for another save; the window keeps painting
// meanwhile. Empty: the thread sleeps.
using SavePause = std::function<void(std::chrono::milliseconds)>;

class SaveLock {
public:
    // The system's lock on an open file: 0 when it is taken, else the system's error code.
    using LockCall = int (*)(qintptr file);

    // Another save of ours holding the lock is waited for, up to `wait` (then Busy).
    // Another program holding it refuses at once (LockedByOther), naming it where the
    // system says which. On a file system without locks the lock holds nothing, and the
    // save's re-read of the file alone keeps it safe. `lock` stands in for the system's.
    static Result<SaveLock> acquire(const QString &path, std::chrono::milliseconds wait, const SavePause &pause = {},
                                    LockCall lock = nullptr);

private:
    explicit SaveLock(SystemFile file) : m_file(std::move(file)) {}
    SystemFile m_file; // closing it releases the lock
};

// ---- What differs between platforms (savelock_linux.cpp, savelock_win.cpp) ----
namespace savelock {
// A process that holds the file; pid 0 and no name where the system does not say.
struct Holder {
    qint64 pid = 0;
    QString name;
};
enum class Refusal { Missing, WriteProtected, InUse, Held, NoLocks, Other };

SystemFile openForLock(const QString &path);
Refusal openRefusal(int error);
int lockWhole(qintptr file);
Refusal lockRefusal(int error);
// Another program's lock on `file`; nullopt for a save of ours (or none any more).
std::optional<Holder> lockHolder(const SystemFile &file);
// The program that keeps `path` open where an open answered InUse.
Holder programUsing(const QString &path);
} // namespace savelock

} // namespace orbelant
