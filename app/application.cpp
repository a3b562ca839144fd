#include "application.h"

#include "dialogfont.h"
#include "programinfo.h"
#include "services.h"

#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>
#include <exception>
#include <new>

namespace orbelant {

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // No display name: the platform would add " — Орбелант" to every window title that
    // does not end with it. Each window's caption is its whole title.
    setApplicationName(programTitle());
    setApplicationVersion(QStringLiteral("%1.%2.%3")
                              .arg(programVersion.major)
                              .arg(programVersion.minor)
                              .arg(programVersion.revision));
    setQuitOnLastWindowClosed(false); // the shell decides when the program ends
    setFont(dialogFont(font()));
    installRussianTranslation();
}

void Application::installRussianTranslation()
{
    auto *translator = new QTranslator(this);
    // The copy built into the program where there is one (Windows has no system copy),
    // otherwise Qt's own folder or one beside the program.
    const QStringList folders = {QStringLiteral(":/translations"), QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                 QDir(applicationDirPath()).filePath(QStringLiteral("translations"))};
    for (const QString &folder : folders) {
        if (translator->load(QStringLiteral("qtbase_ru"), folder)) {
            installTranslator(translator);
            return;
        }
    }
    delete translator;
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc &) {
        report(QStringLiteral("Не хватает памяти для выполнения команды. Команда прервана, программа продолжает работу."));
    } catch (const std::exception &error) {
        report(QStringLiteral("Команда прервана из-за непредвиденной ошибки (%1). Программа продолжает работу.")
                   .arg(QString::fromLocal8Bit(error.what())));
    } catch (...) {
        report(QStringLiteral("Команда прервана из-за непредвиденной ошибки. Программа продолжает работу."));
    }
    return false;
}

void Application::report(const QString &text)
{
    if (m_messages)
        m_messages->show(text, MessageBoxService::Icon::Critical);
}

} // namespace orbelant
