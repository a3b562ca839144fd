// The composition root: the real platform services, the workbook engine, the shell.

#include "application.h"
#include "programinfo.h"
#include "realplatform.h"
#include "sheetaccess.h"
#include "shell.h"

#include <QIcon>

static QIcon programIcon()
{
    Q_INIT_RESOURCE(resources);
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/orbelant-%1.png").arg(size), QSize(size, size));
    return icon;
}

int main(int argc, char *argv[])
{
    orbelant::Application app(argc, argv);
    app.setWindowIcon(programIcon());

    orbelant::RealPlatform platform(orbelant::programTitle());
    orbelant::EngineSheetAccess sheets;
    const orbelant::PlatformServices services = platform.services();
    app.setMessageBox(&services.messages);

    orbelant::Shell shell(services, sheets);
    QObject::connect(&shell, &orbelant::Shell::lastWindowClosed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    shell.start();
    return app.exec();
}
