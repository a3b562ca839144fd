#pragma once
// Everything the real program is made of, built in order: the platform services, the
// workbook engine and the shell that owns the windows. The program ends when the shell's
// last window closes; a signal that ends it from outside closes every window first, as
// the user would.

#include "endingsignals.h"
#include "realplatform.h"
#include "sheetaccess.h"
#include "shell.h"

namespace orbelant {

class Application;

class Program {
public:
    explicit Program(Application &app);

    Shell &shell() { return m_shell; }

private:
    // Taken over first and given back last, so that a signal while the windows go still
    // waits for them and their lock file.
    EndingSignals m_endingSignals;
    RealPlatform m_platform;
    EngineSheetAccess m_sheets;
    PlatformServices m_services;
    Shell m_shell;
};

} // namespace orbelant
