#include "chartexport.h"

#include "chartdrawing.h"
#include "filefailure.h"
#include "svgpicture.h"
#include "numbertext.h"

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

namespace orbelant {

namespace {

using Written = std::expected<void, QString>;

Written writeFailure(const QSaveFile &file)
{
    return std::unexpected(FileFailure::capture(file, file.size()).message(QStringLiteral("Не удалось записать файл «%1»")));
}

// A picture larger than this (a quarter of a gigabyte in memory) is refused as PNG.
constexpr qint64 largestPngPixels = 64LL * 1024 * 1024;
// The same margin on every side of a PDF page.
constexpr qreal pageMarginMm = 10;

Written writePdf(const ChartLayout &layout, const ChartGeometry &geometry, QSaveFile &file)
{
    QPdfWriter pdf(&file);
    pdf.setTitle(chartTitle);
    pdf.setCreator(QStringLiteral("Орбелант"));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(pageMarginMm, pageMarginMm, pageMarginMm, pageMarginMm), QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(&pdf))
        return writeFailure(file);
    drawPages(painter, pdf, layout, geometry);
    painter.end();
    return {};
}

Written writeSvg(const ChartLayout &layout, const ChartGeometry &geometry, QSaveFile &file)
{
    SvgPicture svg(QSize(geometry.width(), geometry.height(layout.rowCount())), chartTitle);
    QPainter painter(&svg);
    drawChart(painter, layout, geometry);
    painter.end();
    const QByteArray document = svg.document();
    if (file.write(document) != document.size())
        return writeFailure(file);
    return {};
}

Written writePng(const ChartLayout &layout, const ChartGeometry &geometry, QSaveFile &file)
{
    const QSize size(geometry.width(), geometry.height(layout.rowCount()));
    QImage image;
    if (qint64(size.width()) * size.height() <= largestPngPixels)
        image = QImage(size, QImage::Format_RGB32);
    if (image.isNull()) {
        return std::unexpected(QStringLiteral("Шкала слишком велика для рисунка PNG (%1 × %2 точек). "
                                              "Сохраните её в PDF или SVG.")
                                   .arg(formatCount(size.width()), formatCount(size.height())));
    }
    QPainter painter(&image);
    drawChart(painter, layout, geometry);
    painter.end();
    if (!image.save(&file, "PNG"))
        return writeFailure(file);
    return {};
}

} // namespace

Written exportChart(const ChartLayout &layout, const QString &path)
{
    const QString extension = QFileInfo(path).suffix().toLower();
    const auto write = extension == QLatin1String("pdf")   ? writePdf
                       : extension == QLatin1String("svg") ? writeSvg
                       : extension == QLatin1String("png") ? writePng
                                                           : nullptr;
    if (!write) {
        return std::unexpected(QStringLiteral("Не удалось сохранить шкалу в файл «%1»: имя файла должно "
                                              "оканчиваться на .pdf, .svg или .png.")
                                   .arg(QFileInfo(path).fileName()));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return std::unexpected(FileFailure::capture(file, 0).message(QStringLiteral("Не удалось создать файл «%1»")));
    const ChartGeometry geometry(layout, ChartGeometry::chartFont());
    // A file not committed is left as it was.
    if (const Written written = write(layout, geometry, file); !written)
        return written;
    if (!file.commit())
        return writeFailure(file);
    return {};
}

} // namespace orbelant
