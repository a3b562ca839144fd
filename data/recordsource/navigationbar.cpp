#include "navigationbar.h"

#include <QLabel>
#include <QPainter>
#include <QPolygonF>
#include <QToolButton>

namespace orbelant {

NavigationBar::NavigationBar(QWidget *parent)
    : QWidget(parent)
{
    m_first = makeButton(Arrow::First, QStringLiteral("firstButton"), QStringLiteral("Первая запись"));
    m_previous = makeButton(Arrow::Previous, QStringLiteral("previousButton"), QStringLiteral("Предыдущая запись"));
    m_next = makeButton(Arrow::Next, QStringLiteral("nextButton"), QStringLiteral("Следующая запись"));
    m_last = makeButton(Arrow::Last, QStringLiteral("lastButton"), QStringLiteral("Последняя запись"));
    connect(m_first, &QToolButton::clicked, this, &NavigationBar::firstClicked);
    connect(m_previous, &QToolButton::clicked, this, &NavigationBar::previousClicked);
    connect(m_next, &QToolButton::clicked, this, &NavigationBar::nextClicked);
    connect(m_last, &QToolButton::clicked, this, &NavigationBar::lastClicked);

    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setFrameShape(QFrame::Panel);
    m_caption->setFrameShadow(QFrame::Sunken);
    m_caption->setAutoFillBackground(true);
    QFont barFont(QStringLiteral("Arial"), 9, QFont::Bold);
    barFont.setStyleHint(QFont::SansSerif);
    m_caption->setFont(barFont);
}

void NavigationBar::setCaption(const QString &caption)
{
    m_caption->setText(caption);
    m_caption->setAccessibleName(caption);
}

QString NavigationBar::caption() const
{
    return m_caption->text();
}

QToolButton *NavigationBar::makeButton(Arrow arrow, const QString &objectName, const QString &accessibleName)
{
    auto *button = new QToolButton(this);
    button->setObjectName(objectName);
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    button->setIcon(arrowIcon(arrow));
    button->setFocusPolicy(Qt::NoFocus); // the bar is worked with the mouse; Tab skips it
    button->setAutoRepeat(true);         // held down, it keeps stepping
    return button;
}

// A black triangle, with a bar at the outer end for the first and last buttons.
QIcon NavigationBar::arrowIcon(Arrow arrow)
{
    QPixmap picture(12, 10);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    const bool pointsLeft = arrow == Arrow::First || arrow == Arrow::Previous;
    const bool hasBar = arrow == Arrow::First || arrow == Arrow::Last;
    const qreal tipX = pointsLeft ? 2.5 : 9.5;
    const qreal baseX = pointsLeft ? 9.5 : 2.5;
    painter.drawPolygon(QPolygonF{QPointF(tipX, 5), QPointF(baseX, 0.5), QPointF(baseX, 9.5)});
    if (hasBar)
        painter.drawRect(QRectF(pointsLeft ? 0.5 : 10, 0.5, 1.5, 9));
    painter.end();
    return QIcon(picture);
}

void NavigationBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int side = height();
    m_first->setGeometry(0, 0, side, side);
    m_previous->setGeometry(side, 0, side, side);
    m_next->setGeometry(width() - 2 * side, 0, side, side);
    m_last->setGeometry(width() - side, 0, side, side);
    m_caption->setGeometry(2 * side, 0, qMax(0, width() - 4 * side), side);
}

} // namespace orbelant
