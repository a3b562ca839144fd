#pragma once
// Looking at a printed page: where its ink is, and whether its picture is the window's.
// Pages are rasterised from PDF with pdftoppm at the dots per inch the picture was
// printed at.

#include "windowprint.h"

#include <QImage>
#include <QList>
#include <QPainter>
#include <QRect>
#include <QWidget>

namespace testsupport {

// The widget on its window's background at `dotsPerInch`, as a printer is given it.
inline QImage printedLook(QWidget &widget, int dotsPerInch)
{
    const qreal scale = qreal(dotsPerInch) / orbelant::designPixelsPerInch;
    QImage image((QSizeF(widget.size()) * scale).toSize(), QImage::Format_RGB32);
    image.fill(widget.palette().window().color());
    QPainter painter(&image);
    painter.scale(scale, scale);
    widget.render(&painter);
    return image;
}

// Where a window of `windowSize` pixels belongs on a page seen at `dotsPerInch`, from the
// top left of the printable area.
inline QRect windowPlace(QPoint origin, QSize windowSize, int dotsPerInch)
{
    const qreal scale = qreal(dotsPerInch) / orbelant::designPixelsPerInch;
    return QRect(origin, (QSizeF(windowSize) * scale).toSize());
}

// The smallest rectangle holding every pixel that is not white paper.
inline QRect inkedRect(const QImage &page)
{
    int left = page.width(), top = page.height(), right = -1, bottom = -1;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            if (qGray(page.pixel(x, y)) < 250) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// Whether two rectangles agree edge for edge within `dots`.
inline bool nearlyEqual(const QRect &a, const QRect &b, int dots)
{
    return qAbs(a.left() - b.left()) <= dots && qAbs(a.top() - b.top()) <= dots
           && qAbs(a.right() - b.right()) <= dots && qAbs(a.bottom() - b.bottom()) <= dots;
}

// `image` brought to the window's own pixels, where a dot of rounding vanishes.
inline QImage atWindowSize(const QImage &image, QSize windowSize)
{
    return image.scaled(windowSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
}

// The share of pixels within `areas` whose grey differs between the two images by more
// than a third of the scale: letters in another place, not the softening of their edges.
inline double mismatch(const QImage &printed, const QImage &window, const QList<QRect> &areas)
{
    qint64 different = 0;
    qint64 pixels = 0;
    for (const QRect &area : areas) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (qAbs(qGray(printed.pixel(x, y)) - qGray(window.pixel(x, y))) > 85)
                    ++different;
                ++pixels;
            }
        }
    }
    return pixels ? double(different) / double(pixels) : 0.0;
}

// The places of the named fields inside `window`.
inline QList<QRect> fieldRects(const QWidget &window, const QStringList &names)
{
    QList<QRect> rects;
    for (const QString &name : names) {
        if (const QWidget *field = window.findChild<QWidget *>(name))
            rects.append(QRect(field->mapTo(&window, QPoint(0, 0)), field->size()));
    }
    return rects;
}

// What is wrong with a printed `page` that should hold the window's picture from `origin`
// at `dotsPerInch`: ink outside its place, or a picture unlike `shown` (the window as
// printed) or as like `otherRow` (the window on another row) in `fields`. Empty when the
// page is right.
inline QString pageProblem(const QImage &page, QPoint origin, int dotsPerInch, const QImage &shown,
                           const QImage &otherRow, const QList<QRect> &fields)
{
    const QSize windowSize = (QSizeF(shown.size()) * orbelant::designPixelsPerInch / dotsPerInch).toSize();
    const QRect place = windowPlace(origin, windowSize, dotsPerInch);
    const QRect inked = inkedRect(page.convertToFormat(QImage::Format_RGB32));
    if (!nearlyEqual(inked, place, 2)) {
        return QStringLiteral("ink at %1,%2 size %3×%4, expected at %5,%6 size %7×%8")
            .arg(inked.x()).arg(inked.y()).arg(inked.width()).arg(inked.height())
            .arg(place.x()).arg(place.y()).arg(place.width()).arg(place.height());
    }
    const QImage printed = atWindowSize(page.copy(place), windowSize);
    const QImage expected = atWindowSize(shown, windowSize);
    const QImage unexpected = atWindowSize(otherRow, windowSize);
    const double toWindow = mismatch(printed, expected, {QRect(QPoint(0, 0), windowSize)});
    const double fieldsToShown = mismatch(printed, expected, fields);
    const double fieldsToOtherRow = mismatch(printed, unexpected, fields);
    if (toWindow < 0.001 && fieldsToShown < 0.001 && fieldsToOtherRow > 0.005)
        return {};
    return QStringLiteral("pixels unlike the window %1, in the fields %2, unlike another row in the fields %3")
        .arg(toWindow).arg(fieldsToShown).arg(fieldsToOtherRow);
}

} // namespace testsupport
