#include "realplatform.h"

#include "filefailure.h"
#include "spoolerstatus.h"
#include "windowprint.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QWidget>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace orbelant {

QtMessageBox::QtMessageBox(QString defaultCaption)
    : m_defaultCaption(std::move(defaultCaption))
{
}

QString QtMessageBox::captionOr(const QString &caption) const
{
    return caption.isEmpty() ? m_defaultCaption : caption;
}

void QtMessageBox::show(const QString &text, Icon icon, const QString &caption)
{
    const auto boxIcon = icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon;
    QMessageBox box(boxIcon, captionOr(caption), text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool QtMessageBox::ask(const QString &text, const QString &caption)
{
    QMessageBox box(QMessageBox::Question, captionOr(caption), text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

ServiceResult DefaultPrinter::print(QWidget &clientArea)
{
    return printOnDefault(QStringLiteral("Форма не напечатана."),
                          [&](QPrinter &printer) { return printClientArea(clientArea, printer); });
}

ServiceResult DefaultPrinter::printPages(const QString &documentName, const QString &notPrinted,
                                         const PageDrawing &draw)
{
    return printOnDefault(notPrinted, [&](QPrinter &printer) {
        printer.setDocName(documentName);
        return printDrawing(printer, notPrinted, draw);
    });
}

ServiceResult DefaultPrinter::printOnDefault(const QString &notPrinted,
                                             const std::function<ServiceResult(QPrinter &)> &job)
{
    const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
    if (defaultPrinter.isNull())
        return std::unexpected(QStringLiteral("Принтер по умолчанию не установлен. ") + notPrinted);
    QPrinter printer(defaultPrinter, QPrinter::HighResolution);
    if (const ServiceResult printed = job(printer); !printed)
        return printed;
    if (const QString refusal = spoolerRefusal(); !refusal.isEmpty()) {
        return std::unexpected(QStringLiteral("Принтер «%1» отказался принять задание (%2). ")
                                   .arg(printer.printerName(), refusal) + notPrinted);
    }
    return {};
}

AppendingTextFile::AppendingTextFile(const CodePage &codePage)
    : m_codePage(codePage)
{
}

ServiceResult AppendingTextFile::appendLine(const QString &path, const QStringList &texts)
{
    QByteArray line;
    for (const QString &text : texts)
        line += m_codePage.fromUnicode(text);
    line += "\r\n";

    // Unbuffered, so that the one write below is the one write to the system.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        const FileFailure failure = FileFailure::capture(file, line.size());
        return std::unexpected(failure.message(QStringLiteral("Не удалось открыть файл «%1»")));
    }
    const qint64 sizeBefore = file.size();
    if (file.write(line) != line.size()) {
        const FileFailure failure = FileFailure::capture(file, line.size());
        file.resize(sizeBefore); // cut off whatever part of the line did get out
        file.close();
        return std::unexpected(failure.message(QStringLiteral("Не удалось дописать строку в файл «%1»")));
    }
    file.close();
    return {};
}

QString LocalFileTest::existingFileName(const QString &path) const
{
    const QFileInfo info(path);
    return info.isFile() ? info.fileName() : QString();
}

#ifdef Q_OS_WIN

// Exactly that file, without a search along PATH: CreateProcessW with the program's own
// name as its command line, in a normal window that may take the foreground from us.
ServiceResult DetachedProcessStarter::start(const QString &path)
{
    const std::wstring program = QDir::toNativeSeparators(path).toStdWString();
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (path.isEmpty() || !CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                          nullptr, &startup, &process))
        return std::unexpected(QStringLiteral("Не удалось запустить программу «%1».").arg(path));
    AllowSetForegroundWindow(process.dwProcessId);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return {};
}

#else

ServiceResult DetachedProcessStarter::start(const QString &path)
{
    if (!QProcess::startDetached(path, {}))
        return std::unexpected(QStringLiteral("Не удалось запустить программу «%1».").arg(path));
    return {};
}

#endif

RealPlatform::RealPlatform(const QString &programTitle)
    : m_messages(programTitle)
{
}

PlatformServices RealPlatform::services()
{
    return PlatformServices{m_messages, m_printer, m_textFile, m_codePage, m_files, m_processes};
}

} // namespace orbelant
