#pragma once
// A picture that a QPainter draws as an SVG document: rectangles, outlines, paths and texts,
// in solid colours, under the painter's transform. Enough for the chart, and the same on every
// system without a Qt module of its own.

#include <QPaintDevice>
#include <QSize>
#include <QString>
#include <memory>

namespace orbelant {

class SvgPaintEngine;

class SvgPicture final : public QPaintDevice {
public:
    SvgPicture(QSize size, QString title);
    ~SvgPicture() override;

    QPaintEngine *paintEngine() const override;
    // The whole document; complete once the painter has ended.
    QByteArray document() const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QSize m_size;
    std::unique_ptr<SvgPaintEngine> m_engine;
};

} // namespace orbelant
