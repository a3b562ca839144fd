#include "datacontrol.h"

#include "navigationbar.h"
#include "storage/officelocks.h"
#include "services.h"
#include "sheetaccess.h"

#include <QDir>

namespace orbelant {

DataControl::DataControl(QWidget *parent)
    : QWidget(parent)
    , m_bar(new NavigationBar(this))
{
    setCaption(QStringLiteral("Орбелант"));
    connect(m_bar, &NavigationBar::firstClicked, this, &DataControl::MoveFirst);
    connect(m_bar, &NavigationBar::previousClicked, this, &DataControl::MovePrevious);
    connect(m_bar, &NavigationBar::nextClicked, this, &DataControl::MoveNext);
    connect(m_bar, &NavigationBar::lastClicked, this, &DataControl::MoveLast);
}

DataControl::~DataControl() = default;

void DataControl::setServices(SheetAccess &sheets, MessageBoxService &messages)
{
    m_sheets = &sheets;
    m_messages = &messages;
}

QString DataControl::Caption() const
{
    return m_bar->caption();
}

void DataControl::setCaption(const QString &caption)
{
    m_bar->setCaption(caption);
}

void DataControl::bindField(QWidget *field, const QString &column)
{
    m_fields.emplace_back(field, column);
    showCurrentRecord();
}

void DataControl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_bar->setGeometry(rect());
}

bool DataControl::hasEdits() const
{
    for (const BoundField &field : m_fields) {
        if (field.isEdited())
            return true;
    }
    return false;
}

bool DataControl::Refresh()
{
    if (!m_sheets || !m_messages) {
        qWarning("DataControl: Refresh() before setServices()");
        return false;
    }
    if (!leaveCurrentRecord(WhenRefused::OfferToDrop, QStringLiteral("Обновить данные без сохранения изменений?")))
        return false;

    m_lockFile.reset(); // the workbook is closed until it is read again
    m_path = QDir::current().absoluteFilePath(m_databaseName);
    Result<SheetTable> read = m_sheets->read(m_path, m_recordSource);
    m_open = read.has_value();
    m_table = m_open ? std::move(*read) : SheetTable{};
    m_current = m_table.recordCount() > 0 ? 0 : -1;
    showCurrentRecord();
    emit tableChanged();
    emit currentRecordChanged(m_current);
    if (!m_open) {
        m_messages->show(read.error().message, MessageBoxService::Icon::Critical);
        return false;
    }
    if (m_table.notSaveable)
        m_messages->show(m_table.notSaveable->message, MessageBoxService::Icon::Critical);
    else
        m_lockFile = m_sheets->markOpen(m_path);
    reportMissingColumns();
    return true;
}

bool DataControl::MoveFirst()
{
    return moveTo(0);
}

bool DataControl::MovePrevious()
{
    return moveTo(qMax<qsizetype>(0, m_current - 1));
}

bool DataControl::MoveNext()
{
    return moveTo(qMin(m_table.recordCount() - 1, m_current + 1));
}

bool DataControl::MoveLast()
{
    return moveTo(m_table.recordCount() - 1);
}

bool DataControl::moveTo(qsizetype record)
{
    if (!m_open || record < 0 || record >= m_table.recordCount())
        return false;
    return makeCurrent(record);
}

Result<DataControl::FindOutcome> DataControl::FindFirst(const QString &criterion)
{
    if (!m_open)
        return FindOutcome::NotFound;
    const Result<std::optional<qsizetype>> found = m_sheets->findFirst(m_table, criterion, 0);
    if (!found)
        return std::unexpected(found.error());
    if (!found->has_value())
        return FindOutcome::NotFound;
    return makeCurrent(**found) ? FindOutcome::Found : FindOutcome::KeptForEdits;
}

bool DataControl::storeEdits()
{
    return leaveCurrentRecord(WhenRefused::Stay);
}

bool DataControl::prepareToClose()
{
    return leaveCurrentRecord(WhenRefused::OfferToDrop, QStringLiteral("Закрыть окно без сохранения изменений?"));
}

bool DataControl::makeCurrent(qsizetype record)
{
    if (record == m_current)
        return true;
    if (!leaveCurrentRecord(WhenRefused::Stay))
        return false;
    m_current = record;
    showCurrentRecord();
    emit currentRecordChanged(m_current);
    return true;
}

// Stores what the user typed into the current row. When the engine refuses, the user
// is told why; the typing stays in the fields unless the user chose to let it go.
bool DataControl::leaveCurrentRecord(WhenRefused whenRefused, const QString &dropQuestion)
{
    if (!m_open || m_current < 0)
        return true;
    const std::vector<CellEdit> edits = collectEdits();
    if (edits.empty())
        return true;

    if (!m_lockFile && !m_table.notSaveable) // another window had it when this one opened it
        m_lockFile = m_sheets->markOpen(m_path);
    const Result<std::vector<Cell>> stored = m_sheets->store(m_path, m_table, m_current, edits);
    if (!stored) {
        if (whenRefused == WhenRefused::Stay) {
            m_messages->show(stored.error().message, MessageBoxService::Icon::Critical);
            return false;
        }
        return m_messages->ask(stored.error().message + QStringLiteral("\n\n") + dropQuestion);
    }
    if (static_cast<qsizetype>(stored->size()) == m_table.columnCount()) {
        for (qsizetype column = 0; column < m_table.columnCount(); ++column)
            m_table.setCell(m_current, column, (*stored)[static_cast<size_t>(column)]);
        emit tableChanged();
    }
    for (BoundField &field : m_fields)
        field.markStored();
    return true;
}

std::vector<CellEdit> DataControl::collectEdits() const
{
    std::vector<CellEdit> edits;
    for (const BoundField &field : m_fields) {
        const qsizetype column = m_table.columnIndex(field.column());
        if (column >= 0 && field.isEdited())
            edits.push_back(CellEdit{column, field.text()});
    }
    return edits;
}

void DataControl::showCurrentRecord()
{
    for (BoundField &field : m_fields) {
        const qsizetype column = m_table.columnIndex(field.column());
        const bool hasValue = m_current >= 0 && column >= 0;
        field.show(hasValue ? m_table.text(m_current, column) : QString());
    }
}

void DataControl::reportMissingColumns()
{
    QStringList sentences;
    for (const BoundField &field : m_fields) {
        if (m_table.columnIndex(field.column()) < 0)
            sentences += Error::make(ErrorCode::UnknownColumn, field.column()).message;
    }
    if (!sentences.isEmpty())
        m_messages->show(sentences.join(QLatin1Char('\n')), MessageBoxService::Icon::Critical);
}

} // namespace orbelant
