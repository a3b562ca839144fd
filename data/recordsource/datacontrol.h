#pragma once
// The record source of a window: opens one sheet of a workbook as a set of rows, keeps
// one row current, shows it in the bound fields and stores the user's edits back before
// another row is made current. Its navigation bar steps through the rows.
//
// Property and operation names follow the data control this design comes from
// (DatabaseName, RecordSource, Caption, Refresh, MoveFirst, FindFirst …).

#include "boundfield.h"
#include "error.h"
#include "sheettable.h"
#include "writeback.h"

#include <QWidget>
#include <memory>
#include <vector>

namespace orbelant {

class MessageBoxService;
class NavigationBar;
class SheetAccess;
class WorkbookLockFile;

class DataControl final : public QWidget {
    Q_OBJECT
public:
    enum class FindOutcome {
        Found,        // that row is current now
        NotFound,     // no row meets the criterion; the current row is unchanged
        KeptForEdits, // a row was found, but the edits of the current row could not be
                      // stored; the user has been told and the current row is unchanged
    };

    explicit DataControl(QWidget *parent = nullptr);
    ~DataControl() override;

    // The engine and the message box; both must be set before Refresh().
    void setServices(SheetAccess &sheets, MessageBoxService &messages);

    QString DatabaseName() const { return m_databaseName; }
    // A relative name is taken from the current directory when the workbook is opened.
    void setDatabaseName(const QString &name) { m_databaseName = name; }
    QString RecordSource() const { return m_recordSource; }
    void setRecordSource(const QString &sheetName) { m_recordSource = sheetName; }
    QString Caption() const;
    void setCaption(const QString &caption);

    // Shows column `column` of the current row in `field` (QLineEdit, QPlainTextEdit or
    // QTextEdit) and stores what the user types there.
    void bindField(QWidget *field, const QString &column);

    bool isOpen() const { return m_open; }
    qsizetype recordCount() const { return m_table.recordCount(); }
    // The current row, from 0; -1 when there is none.
    qsizetype currentRecord() const { return m_current; }
    const SheetTable &table() const { return m_table; }
    // The workbook's full path as it was opened; empty before the first Refresh().
    QString databasePath() const { return m_path; }
    // Whether the user has typed into a bound field since the row was shown.
    bool hasEdits() const;

    // Stores the edits of the current row, then (re-)opens the workbook and makes its
    // first row current. Also opens the workbook the first time. When the edits are
    // refused the user may keep them (false, nothing re-read) or let them go. A workbook
    // that cannot be opened is reported in a message box and leaves the fields empty; one
    // that can be shown but never saved (a damaged file) is shown after a message saying so.
    // While the workbook is open, a lock file beside it tells office programs so.
    bool Refresh();

    // These make another row current after storing the current row's edits. They return
    // false when the edits were refused (the user has been told, the row and the typing
    // stay) and do nothing without an open workbook.
    bool MoveFirst();
    bool MovePrevious(); // stays on the first row
    bool MoveNext();     // stays on the last row
    bool MoveLast();
    bool moveTo(qsizetype record); // a row remembered from currentRecord()

    // Makes the first row, in sheet order, that meets `criterion` current. A criterion
    // the engine cannot evaluate is returned as the error, for the caller to show.
    Result<FindOutcome> FindFirst(const QString &criterion);

    // Stores the current row's edits now. False when refused; the user has been told.
    bool storeEdits();
    // For closing the window: stores the edits; when refused, asks whether to close
    // without them. True when closing may go on.
    bool prepareToClose();

signals:
    void currentRecordChanged(qsizetype record);
    // The rows changed: the workbook was read again, or edits were stored into it.
    void tableChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    enum class WhenRefused { Stay, OfferToDrop };
    bool leaveCurrentRecord(WhenRefused whenRefused, const QString &dropQuestion = {});
    bool makeCurrent(qsizetype record);
    void showCurrentRecord();
    void reportMissingColumns();
    std::vector<CellEdit> collectEdits() const;

    NavigationBar *m_bar;
    SheetAccess *m_sheets = nullptr;
    MessageBoxService *m_messages = nullptr;
    QString m_databaseName;
    QString m_recordSource = QStringLiteral("Лист1$");
    QString m_path;
    SheetTable m_table;
    bool m_open = false;
    qsizetype m_current = -1;
    std::vector<BoundField> m_fields;
    std::unique_ptr<WorkbookLockFile> m_lockFile;
};

} // namespace orbelant
