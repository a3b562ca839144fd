#include "svgpicture.h"

#include <QLocale>
#include <QPaintEngine>
#include <QPainterPath>
#include <QTextItem>
#include <span>

namespace orbelant {

namespace {

constexpr int dotsPerInch = 96;

QString number(qreal value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// The font's families in CSS's form, a generic family last: Arial, 'Liberation Sans', sans-serif.
QString families(const QFont &font)
{
    QStringList names;
    for (const QString &family : font.families())
        names << (family.contains(QLatin1Char(' ')) ? QLatin1Char('\'') + family + QLatin1Char('\'') : family);
    return (names << QStringLiteral("sans-serif")).join(QStringLiteral(", ")).toHtmlEscaped();
}

// ` fill="#rrggbb"`, with ` fill-opacity="…"` for a colour one can see through.
QString paint(const QString &attribute, const QColor &colour)
{
    QString text = QStringLiteral(" %1=\"%2\"").arg(attribute, colour.name());
    if (colour.alpha() < 255)
        text += QStringLiteral(" %1-opacity=\"%2\"").arg(attribute, number(colour.alphaF()));
    return text;
}

} // namespace

// Writes each drawing call as one SVG element in the painter's coordinates, with the
// painter's transform as the element's own.
class SvgPaintEngine final : public QPaintEngine {
public:
    explicit SvgPaintEngine(QString title)
        : QPaintEngine(AllFeatures)
        , m_title(std::move(title))
    {
    }

    QString document;

    bool begin(QPaintDevice *device) override
    {
        const QString width = QString::number(device->width());
        const QString height = QString::number(device->height());
        document = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%1\" height=\"%2\" "
                                  "viewBox=\"0 0 %1 %2\">\n<title>%3</title>\n")
                       .arg(width, height, m_title.toHtmlEscaped());
        return true;
    }

    bool end() override
    {
        document += QStringLiteral("</svg>\n");
        return true;
    }

    void updateState(const QPaintEngineState &changed) override
    {
        m_pen = changed.pen();
        m_brush = changed.brush();
        m_transform = changed.transform();
    }

    void drawRects(const QRectF *rects, int count) override
    {
        for (const QRectF &rect : std::span(rects, count)) {
            element(QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"")
                        .arg(number(rect.x()), number(rect.y()), number(rect.width()), number(rect.height())));
        }
    }

    void drawPath(const QPainterPath &path) override
    {
        QString data;
        for (int index = 0; index < path.elementCount(); ++index) {
            const QPainterPath::Element point = path.elementAt(index);
            const char *command = point.isMoveTo() ? "M" : point.isLineTo() ? "L" : point.isCurveTo() ? "C" : "";
            data += QLatin1String(command) + number(point.x) + QLatin1Char(' ') + number(point.y) + QLatin1Char(' ');
        }
        element(QStringLiteral("<path d=\"%1\"").arg(data.trimmed()));
    }

    void drawPolygon(const QPointF *points, int count, PolygonDrawMode mode) override
    {
        QPainterPath path;
        path.addPolygon(QPolygonF(QList<QPointF>(points, points + count)));
        if (mode != PolylineMode)
            path.closeSubpath();
        const QBrush brush = m_brush;
        if (mode == PolylineMode)
            m_brush = Qt::NoBrush;
        drawPath(path);
        m_brush = brush;
    }

    void drawTextItem(const QPointF &at, const QTextItem &item) override
    {
        const QFont font = item.font();
        const qreal pixels = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * dotsPerInch / 72;
        QString text = QStringLiteral("<text x=\"%1\" y=\"%2\" font-family=\"%3\" font-size=\"%4\"")
                           .arg(number(at.x()), number(at.y()), families(font), number(pixels))
                       + paint(QStringLiteral("fill"), m_pen.color());
        if (font.bold())
            text += QStringLiteral(" font-weight=\"bold\"");
        document += text + transform() + QLatin1Char('>') + item.text().toHtmlEscaped() + QStringLiteral("</text>\n");
    }

    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    Type type() const override { return User; }

private:
    // Closes an element with the painter's brush as its fill and its pen as its stroke.
    void element(const QString &start)
    {
        QString attributes = m_brush.style() == Qt::NoBrush ? QStringLiteral(" fill=\"none\"")
                                                            : paint(QStringLiteral("fill"), m_brush.color());
        if (m_pen.style() != Qt::NoPen) {
            attributes += paint(QStringLiteral("stroke"), m_pen.color())
                          + QStringLiteral(" stroke-width=\"%1\"").arg(number(m_pen.widthF()));
        }
        document += start + attributes + transform() + QStringLiteral("/>\n");
    }

    QString transform() const
    {
        if (m_transform.isIdentity())
            return {};
        return QStringLiteral(" transform=\"matrix(%1 %2 %3 %4 %5 %6)\"")
            .arg(number(m_transform.m11()), number(m_transform.m12()), number(m_transform.m21()),
                 number(m_transform.m22()), number(m_transform.dx()), number(m_transform.dy()));
    }

    QString m_title;
    QPen m_pen;
    QBrush m_brush;
    QTransform m_transform;
};

SvgPicture::SvgPicture(QSize size, QString title)
    : m_size(size)
    , m_engine(std::make_unique<SvgPaintEngine>(std::move(title)))
{
}

SvgPicture::~SvgPicture() = default;

QPaintEngine *SvgPicture::paintEngine() const
{
    return m_engine.get();
}

QByteArray SvgPicture::document() const
{
    return m_engine->document.toUtf8();
}

int SvgPicture::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth: return m_size.width();
    case PdmHeight: return m_size.height();
    case PdmWidthMM: return m_size.width() * 254 / (10 * dotsPerInch);
    case PdmHeightMM: return m_size.height() * 254 / (10 * dotsPerInch);
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY: return dotsPerInch;
    case PdmDepth: return 32;
    default: return QPaintDevice::metric(metric);
    }
}

} // namespace orbelant
