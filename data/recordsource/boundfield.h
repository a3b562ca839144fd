#pragma once
// One text field bound to a column of the record source: a QLineEdit, QPlainTextEdit or
// QTextEdit (plain text only).

#include <QPointer>
#include <QString>
#include <QWidget>

namespace orbelant {

class BoundField {
public:
    BoundField(QWidget *field, QString column);

    const QString &column() const { return m_column; }
    QWidget *widget() const { return m_field; }

    // Shows `text` and remembers it as the stored value of the field.
    void show(const QString &text);
    // The text as the field shows it now, including unsaved typing.
    QString text() const;
    // Whether the user has changed the text since it was last shown.
    bool isEdited() const;
    // Takes the text the field shows now as its stored value.
    void markStored() { m_shown = text(); }

private:
    QPointer<QWidget> m_field;
    QString m_column;
    QString m_shown; // read back from the field after show(), so line ends compare equal
};

} // namespace orbelant
