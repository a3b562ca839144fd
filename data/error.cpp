#include "error.h"

namespace orbelant {

// Every sentence the engine shows to a user is written here, and only here.
static QString sentenceFor(ErrorCode code, const QString &detail)
{
    switch (code) {
    case ErrorCode::FileMissing:
        return QStringLiteral("Файл «%1» не найден.").arg(detail);
    case ErrorCode::FileUnreadable:
        return QStringLiteral("Не удаётся прочитать файл «%1»: он недоступен или занят другой программой.").arg(detail);
    case ErrorCode::NotCompoundFile:
        return QStringLiteral("Файл «%1» не является книгой Excel 97–2003.").arg(detail);
    case ErrorCode::NoWorkbookStream:
        return QStringLiteral("В файле «%1» нет книги Excel.").arg(detail);
    case ErrorCode::OldFormat:
        return QStringLiteral("Книга «%1» сохранена в формате Excel 95 или более ранней версии. Пересохраните её в формате Excel 97–2003.").arg(detail);
    case ErrorCode::Encrypted:
        return QStringLiteral("Книга «%1» защищена паролем. Снимите пароль в Excel или LibreOffice и сохраните книгу снова.").arg(detail);
    case ErrorCode::SheetMissing:
        return QStringLiteral("В книге нет листа «%1».").arg(detail);
    case ErrorCode::NotWorksheet:
        return QStringLiteral("Лист «%1» не является листом с данными.").arg(detail);
    case ErrorCode::Damaged:
        return QStringLiteral("Книга повреждена: %1.").arg(detail);
    case ErrorCode::DamagedReadOnly:
        return QStringLiteral("Файл книги «%1» повреждён: книгу можно просматривать, но изменения в неё не записываются. "
                              "Чтобы править книгу, пересохраните её в Excel или LibreOffice.").arg(detail);
    case ErrorCode::TooLarge:
        return QStringLiteral("Книга слишком велика: %1.").arg(detail);
    case ErrorCode::BadCriterion:
        // detail: «the criterion»: what is wrong with it
        return QStringLiteral("Неверное условие поиска %1.").arg(detail);
    case ErrorCode::UnknownColumn:
        return QStringLiteral("На листе нет столбца «%1».").arg(detail);
    case ErrorCode::NotANumber:
        return QStringLiteral("%1 Книга не изменена.").arg(detail);
    case ErrorCode::TextTooLong:
        return QStringLiteral("Текст в поле «%1» длиннее 32 767 знаков. Книга не изменена.").arg(detail);
    case ErrorCode::NoSuchRecord:
        return QStringLiteral("На листе нет записи %1.").arg(detail);
    case ErrorCode::ChangedOnDisk:
        return QStringLiteral("Книгу «%1» изменила другая программа. Изменения не сохранены; обновите данные и повторите ввод.").arg(detail);
    case ErrorCode::CannotEdit:
        return QStringLiteral("%1 Книга не изменена.").arg(detail);
    case ErrorCode::ReadOnly:
        return QStringLiteral("Файл книги «%1» защищён от записи. Изменения не сохранены.").arg(detail);
    case ErrorCode::LockedByOther:
        // detail: «the workbook» and who has it open
        return QStringLiteral("Книга %1. Изменения не сохранены; закройте книгу в той программе и повторите ввод.").arg(detail);
    case ErrorCode::Busy:
        return QStringLiteral("Книгу «%1» сейчас сохраняет другая программа. Изменения не сохранены; попробуйте ещё раз чуть позже.").arg(detail);
    case ErrorCode::WriteFailed:
        // detail: «the workbook»: the reason
        return QStringLiteral("Не удалось сохранить книгу %1. Книга не изменена.").arg(detail);
    case ErrorCode::WriteCheckFailed:
        // detail: what the check found
        return QStringLiteral("Изменения не сохранены: новая книга не прошла проверку перед записью (%1). "
                              "Книга не изменена.").arg(detail);
    }
    return detail;
}

Error Error::make(ErrorCode code, const QString &detail, qint64 offset)
{
    return Error{code, sentenceFor(code, detail), offset};
}

} // namespace orbelant
