#pragma once
// Whether the system's print spooler took a job.

#include <QString>

namespace orbelant {

// The spooler's reason for refusing the last job handed to it from this thread, empty
// when it took the job or there is no spooler to ask. Qt hands a finished job to CUPS
// without looking at the answer, so a queue that refuses jobs would otherwise pass for
// printed; this asks CUPS itself.
QString spoolerRefusal();

} // namespace orbelant
