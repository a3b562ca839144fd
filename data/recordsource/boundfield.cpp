#include "boundfield.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace orbelant {

BoundField::BoundField(QWidget *field, QString column)
    : m_field(field)
    , m_column(std::move(column))
{
}

void BoundField::show(const QString &text)
{
    if (auto *line = qobject_cast<QLineEdit *>(m_field)) {
        line->setText(text);
        line->setCursorPosition(0);
    } else if (auto *plain = qobject_cast<QPlainTextEdit *>(m_field)) {
        plain->setPlainText(text);
    } else if (auto *rich = qobject_cast<QTextEdit *>(m_field)) {
        rich->setPlainText(text);
    }
    m_shown = this->text();
}

QString BoundField::text() const
{
    if (auto *line = qobject_cast<QLineEdit *>(m_field))
        return line->text();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(m_field))
        return plain->toPlainText();
    if (auto *rich = qobject_cast<QTextEdit *>(m_field))
        return rich->toPlainText();
    return {};
}

bool BoundField::isEdited() const
{
    return m_field && text() != m_shown;
}

} // namespace orbelant
