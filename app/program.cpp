#include "program.h"

#include "application.h"
#include "programinfo.h"

#include <QIcon>

// The resource initialiser must be called outside any namespace.
static QIcon programIcon()
{
    Q_INIT_RESOURCE(resources);
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/orbelant-%1.png").arg(size), QSize(size, size));
    return icon;
}

namespace orbelant {

Program::Program(Application &app)
    : m_platform(programTitle())
    , m_services(m_platform.services())
    , m_shell(m_services, m_sheets)
{
    app.setWindowIcon(programIcon());
    app.setMessageBox(&m_services.messages);
    QObject::connect(&m_shell, &Shell::lastWindowClosed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // Typing not yet stored is stored, or the user is asked, as when the windows are closed.
    QObject::connect(&m_endingSignals, &EndingSignals::endRequested, &m_shell, [this] { m_shell.endProgram(); });
}

} // namespace orbelant
