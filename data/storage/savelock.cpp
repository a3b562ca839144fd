#include "savelock.h"

#include <QThread>

namespace orbelant {

namespace {

constexpr std::chrono::milliseconds PauseStep{20};

std::unexpected<Error> heldBy(const QString &displayName, const savelock::Holder &holder)
{
    const QString program = holder.name.isEmpty() ? QStringLiteral("другой программой") : QStringLiteral("программой «%1»").arg(holder.name);
    const QString process = holder.pid > 0 ? QStringLiteral(" (процесс %1)").arg(holder.pid) : QString();
    return fail(ErrorCode::LockedByOther, QStringLiteral("«%1» сейчас заблокирована %2%3").arg(displayName, program, process));
}

} // namespace

// A save that replaced the file meanwhile leaves us holding the old one: then the new
// file is opened and locked in its turn.
Result<SaveLock> SaveLock::acquire(const QString &path, std::chrono::milliseconds wait, const SavePause &pause, LockCall lock)
{
    using savelock::Refusal;
    const QString displayName = displayNameOf(path);
    const QString target = resolvedPath(path);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (true) {
        SystemFile file = savelock::openForLock(target);
        if (!file.isOpen()) {
            const int error = lastSystemError();
            switch (savelock::openRefusal(error)) {
            case Refusal::Missing:
                return fail(ErrorCode::FileMissing, displayName);
            case Refusal::WriteProtected:
                return fail(ErrorCode::ReadOnly, displayName);
            case Refusal::InUse:
                return heldBy(displayName, savelock::programUsing(target));
            default:
                return writeFailed(displayName, systemErrorText(error));
            }
        }
        const int error = (lock ? lock : savelock::lockWhole)(file.handle());
        if (error == 0 && isFileAt(file, target))
            return SaveLock(std::move(file));
        if (error != 0) {
            switch (savelock::lockRefusal(error)) {
            case Refusal::NoLocks:
                return SaveLock(SystemFile());
            case Refusal::Held:
                if (const auto holder = savelock::lockHolder(file))
                    return heldBy(displayName, *holder);
                break;
            default:
                return writeFailed(displayName, systemErrorText(error));
            }
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return fail(ErrorCode::Busy, displayName);
        if (pause)
            pause(PauseStep);
        else
            QThread::msleep(static_cast<unsigned long>(PauseStep.count()));
    }
}

} // namespace orbelant
