#include "windowprint.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QWidget>
#include <algorithm>

namespace orbelant {

namespace {

// Qt prints widgets as a picture drawn at the printer's resolution. 300 dots per inch
// keep the letters sharp and the picture small (about 1300 × 1900 dots for the main
// window), where the printer's own 600 or 1200 would need hundreds of megabytes.
constexpr int pictureDotsPerInch = 300;

QString printerName(const QPrinter &printer)
{
    if (!printer.printerName().isEmpty())
        return printer.printerName();
    return printer.outputFileName();
}

// Printer pixels per window pixel: the physical size, or less when the page is smaller.
qreal pageScale(const QWidget &clientArea, const QPrinter &printer, const QRect &printable)
{
    const qreal physical = qreal(printer.resolution()) / designPixelsPerInch;
    const qreal widthFit = qreal(printable.width()) / clientArea.width();
    const qreal heightFit = qreal(printable.height()) / clientArea.height();
    return std::min({physical, widthFit, heightFit});
}

} // namespace

ServiceResult printClientArea(QWidget &clientArea, QPrinter &printer)
{
    printer.setDocName(clientArea.window()->windowTitle());
    printer.setResolution(pictureDotsPerInch);
    // No margins of our own: the picture starts at the top left of what the printer can
    // print (margins below the printer's minimum are raised to it).
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
    return printDrawing(printer, QStringLiteral("Форма не напечатана."), [&](QPainter &painter, QPagedPaintDevice &) {
        // The painter's origin is the top left of the printable area, in printer pixels.
        const qreal scale = pageScale(clientArea, printer, painter.viewport());
        painter.scale(scale, scale);
        clientArea.render(&painter, QPoint(0, 0), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    });
}

ServiceResult printDrawing(QPrinter &printer, const QString &notPrinted, const WindowPrinter::PageDrawing &draw)
{
    QPainter painter;
    if (!painter.begin(&printer)) {
        return std::unexpected(
            QStringLiteral("Принтер «%1» не принял задание. ").arg(printerName(printer)) + notPrinted);
    }
    draw(painter, printer);
    const bool ended = painter.end();
    if (!ended || printer.printerState() == QPrinter::Error) {
        return std::unexpected(
            QStringLiteral("Печать на принтере «%1» не удалась. ").arg(printerName(printer)) + notPrinted);
    }
    return {};
}

} // namespace orbelant
