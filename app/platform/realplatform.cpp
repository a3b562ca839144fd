#include "realplatform.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QWidget>

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
    if (QPrinterInfo::defaultPrinter().isNull())
        return std::unexpected(QStringLiteral("Принтер по умолчанию не установлен. Форма не напечатана."));
    const QPixmap image = clientArea.grab();
    QPrinter printer(QPrinter::HighResolution);
    QPainter painter;
    if (!painter.begin(&printer))
        return std::unexpected(QStringLiteral("Не удалось начать печать на принтере «%1».").arg(printer.printerName()));
    // The window's image at its size on screen, scaled down only when the page is smaller.
    const QRect page = painter.viewport();
    const qreal screenToPage = printer.resolution() / qreal(clientArea.logicalDpiX());
    QSize size = (QSizeF(image.deviceIndependentSize()) * screenToPage).toSize();
    if (size.width() > page.width() || size.height() > page.height())
        size.scale(page.size(), Qt::KeepAspectRatio);
    painter.drawPixmap(QRect(QPoint(0, 0), size), image);
    if (!painter.end())
        return std::unexpected(QStringLiteral("Печать на принтере «%1» не удалась.").arg(printer.printerName()));
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
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return std::unexpected(QStringLiteral("Не удаётся открыть файл «%1» для записи.").arg(path));
    if (file.write(line) != line.size() || !file.flush())
        return std::unexpected(QStringLiteral("Не удалось дописать строку в файл «%1».").arg(path));
    return {};
}

QString LocalFileTest::existingFileName(const QString &path) const
{
    const QFileInfo info(path);
    return info.isFile() ? info.fileName() : QString();
}

ServiceResult DetachedProcessStarter::start(const QString &path)
{
    if (!QProcess::startDetached(path, {}))
        return std::unexpected(QStringLiteral("Не удалось запустить программу «%1».").arg(path));
    return {};
}

RealPlatform::RealPlatform(const QString &programTitle)
    : m_messages(programTitle)
{
}

PlatformServices RealPlatform::services()
{
    return PlatformServices{m_messages, m_printer, m_textFile, m_codePage, m_files, m_processes};
}

} // namespace orbelant
