#include "chartaccessible.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QWidget>
#include <mutex>

namespace orbelant {

namespace {

// One run of one column.
class CellAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CellAccessible(ChartView *view, int column, qsizetype run)
        : m_view(view)
        , m_column(column)
        , m_run(run)
    {
    }

    int column() const { return m_column; }
    qsizetype runIndex() const { return m_run; }

    bool isValid() const override
    {
        return m_view && m_column < m_view->chart().columnCount()
               && m_run < static_cast<qsizetype>(m_view->chart().columns()[m_column].runs.size());
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view->window()->windowHandle(); }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_view); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override {}
    QAccessible::Role role() const override { return QAccessible::Cell; }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name)
            return run().text;
        if (type == QAccessible::Description)
            return m_view->chart().rankAndBounds(m_column, run().first);
        return {};
    }

    QRect rect() const override
    {
        const QRect inViewport = m_view->runRect(m_column, run().first);
        return QRect(m_view->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        const qsizetype current = m_view->currentRow();
        state.selected = current >= run().first && current < run().first + run().count;
        const ChartView::Cell focus = m_view->focusCell();
        state.focused = m_view->hasFocus() && focus.column == m_column
                        && m_view->chart().runIndex(focus.column, focus.row) == m_run;
        state.offscreen = !m_view->viewport()->rect().intersects(m_view->runRect(m_column, run().first));
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && isValid())
            m_view->choose({m_column, run().first});
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    const ChartRun &run() const { return m_view->chart().columns()[m_column].runs[m_run]; }

    QPointer<ChartView> m_view;
    int m_column;
    qsizetype m_run;
};

// The view: its children are the cells, column after column, each column's runs in row order.
class ChartViewAccessible final : public QAccessibleWidget {
public:
    explicit ChartViewAccessible(ChartView *view)
        : QAccessibleWidget(view, QAccessible::Chart)
    {
    }
    ~ChartViewAccessible() override { forgetCells(); }

    int childCount() const override
    {
        qsizetype count = 0;
        for (const ChartColumn &column : view()->chart().columns())
            count += column.runs.size();
        return static_cast<int>(count);
    }

    QAccessibleInterface *child(int index) const override
    {
        qsizetype rest = index;
        for (int column = 0; column < view()->chart().columnCount() && rest >= 0; ++column) {
            const qsizetype runs = view()->chart().columns()[column].runs.size();
            if (rest < runs)
                return cell(column, rest);
            rest -= runs;
        }
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *found = dynamic_cast<const CellAccessible *>(child);
        if (!found || !m_cells.contains(key(found->column(), found->runIndex())))
            return -1;
        qsizetype index = found->runIndex();
        for (int column = 0; column < found->column(); ++column)
            index += view()->chart().columns()[column].runs.size();
        return static_cast<int>(index);
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const ChartView::Cell found = view()->cellAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return found.column < 0 ? nullptr : cellAt(found);
    }

    QAccessibleInterface *cellAt(const ChartView::Cell &at) const
    {
        return cell(at.column, view()->chart().runIndex(at.column, at.row));
    }

    void forgetCells()
    {
        for (const QAccessible::Id id : std::as_const(m_cells))
            QAccessible::deleteAccessibleInterface(id);
        m_cells.clear();
    }

private:
    ChartView *view() const { return static_cast<ChartView *>(widget()); }
    static qint64 key(int column, qsizetype run) { return (qint64(column) << 32) | qint64(run); }

    // The same interface for a cell every time it is asked for, until the chart changes.
    QAccessibleInterface *cell(int column, qsizetype run) const
    {
        const qint64 cellKey = key(column, run);
        if (const auto found = m_cells.constFind(cellKey); found != m_cells.cend())
            return QAccessible::accessibleInterface(*found);
        auto *made = new CellAccessible(view(), column, run);
        m_cells.insert(cellKey, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    mutable QHash<qint64, QAccessible::Id> m_cells;
};

QAccessibleInterface *chartAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(ChartView::staticMetaObject.className()) && object && object->isWidgetType())
        return new ChartViewAccessible(static_cast<ChartView *>(object));
    return nullptr;
}

ChartViewAccessible *accessibleOf(ChartView *view)
{
    if (!QAccessible::isActive())
        return nullptr;
    return dynamic_cast<ChartViewAccessible *>(QAccessible::queryAccessibleInterface(view));
}

} // namespace

void installChartAccessibility()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(chartAccessibleFactory); });
}

void announceChartChanged(ChartView *view)
{
    if (ChartViewAccessible *chart = accessibleOf(view)) {
        chart->forgetCells();
        QAccessibleEvent event(view, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&event);
    }
}

void announceCurrentRow(ChartView *view)
{
    if (accessibleOf(view)) {
        QAccessibleEvent event(view, QAccessible::SelectionWithin);
        QAccessible::updateAccessibility(&event);
    }
}

void announceFocus(ChartView *view, const ChartView::Cell &cell)
{
    ChartViewAccessible *chart = accessibleOf(view);
    if (chart && view->hasFocus()) {
        QAccessibleEvent event(chart->cellAt(cell), QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace orbelant
