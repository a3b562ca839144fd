#include "agesearch.h"

#include "numbertext.h"
#include "scaleranks.h"

#include <QRegularExpression>
#include <cmath>
#include <optional>
#include <ranges>

namespace orbelant {

namespace {

const QString ageColumn = QStringLiteral("Возраст");


// Only number cells are ages here: the criterion never finds a text cell by a number.
std::optional<double> ageOf(const SheetTable &table, qsizetype record, qsizetype column)
{
    const Cell age = table.cell(record, column);
    if (age.kind != Cell::Kind::Number || !std::isfinite(age.number))
        return std::nullopt;
    return age.number;
}

bool hasWord(const QString &text, const QString &word)
{
    static const QRegularExpression nonLetters(QStringLiteral("\\W+"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    return text.toLower().split(nonLetters, Qt::SkipEmptyParts).contains(word);
}

// The unit named in a sentence: "Берриасский" in Ярус is "берриасский ярус", "Ярус 10"
// stays "ярус 10", a noun such as "Голоцен" in Отдел gives "отдел голоцен".
QString unitPhrase(const QString &cellText, const QString &noun)
{
    QString name = cellText.simplified();
    if (name.isEmpty())
        return {};
    name[0] = name[0].toLower();
    if (hasWord(name, noun))
        return name;
    static const QRegularExpression adjectiveEnding(QStringLiteral("(ий|ый|ой|ая|яя)$"),
                                                    QRegularExpression::CaseInsensitiveOption);
    if (adjectiveEnding.match(name).hasMatch())
        return name + u' ' + noun;
    return noun + u' ' + name;
}

// A feminine unit in the accusative: the rank's noun and the adjectives in -ая and -яя
// take -у, -ую and -юю ("эдиакарская система" becomes "эдиакарскую систему"); a name set
// beside the noun keeps its form ("эратема кайнозой" becomes "эратему кайнозой"). Each
// ending keeps the case of the letters it replaces.
QString feminineAccusative(QString phrase, const QString &noun)
{
    static const QRegularExpression word(QStringLiteral("\\w+"), QRegularExpression::UseUnicodePropertiesOption);
    for (const QRegularExpressionMatch &match : word.globalMatch(phrase)) {
        const QString lower = match.captured().toLower();
        QString ending;
        if (lower == noun)
            ending = QStringLiteral("у");
        else if (lower.endsWith(u"ая"))
            ending = QStringLiteral("ую");
        else if (lower.endsWith(u"яя"))
            ending = QStringLiteral("юю");
        // Every new ending is as long as the old one, so the matches keep their places.
        const qsizetype start = match.capturedEnd() - ending.size();
        for (qsizetype i = 0; i < ending.size(); ++i)
            phrase[start + i] = phrase[start + i].isUpper() ? ending[i].toUpper() : ending[i];
    }
    return phrase;
}

// The most specific unit of the row that has a name, in the accusative.
QString unitName(const SheetTable &table, qsizetype record)
{
    for (const ScaleRank &rank : scaleRanks | std::views::reverse) {
        const qsizetype column = table.columnIndex(QStringView(rank.column));
        if (column < 0)
            continue;
        const QString noun = QString::fromUtf16(rank.noun);
        const QString name = unitPhrase(table.text(record, column), noun);
        if (!name.isEmpty())
            return rank.feminine ? feminineAccusative(name, noun) : name;
    }
    return {};
}

} // namespace

AgeSearch::AgeSearch(const QString &typedAge)
    : m_typedAge(typedAge)
{
}

QString AgeSearch::criterion() const
{
    return QStringLiteral("[%1] = ").arg(ageColumn) + m_typedAge;
}

AgePlace AgeSearch::placeOnScale(const SheetTable &table) const
{
    const std::optional<double> typed = parseNumberText(m_typedAge);
    const qsizetype column = table.columnIndex(ageColumn);
    if (!typed || *typed < 0 || column < 0)
        return {};

    AgePlace place;
    place.age = *typed;
    std::optional<double> oldest;
    for (qsizetype record = 0; record < table.recordCount(); ++record) {
        const std::optional<double> age = ageOf(table, record, column);
        if (!age)
            continue;
        if (!oldest || *age > *oldest)
            oldest = age;
        if (*age >= *typed && (place.record < 0 || *age < place.base)) {
            place.record = record;
            place.base = *age;
        }
    }
    if (!oldest)
        return {};
    if (place.record < 0) {
        place.kind = AgePlace::Kind::OlderThanScale;
        place.base = *oldest;
        return place;
    }

    place.kind = AgePlace::Kind::Within;
    place.unitName = unitName(table, place.record);
    for (qsizetype record = 0; record < table.recordCount(); ++record) {
        const std::optional<double> age = ageOf(table, record, column);
        if (age && *age < place.base && *age > place.top)
            place.top = *age;
    }
    return place;
}

QString AgeSearch::notFoundMessage(const AgePlace &place) const
{
    const auto shown = [](double number) { return groupDigits(formatNumber(number)); };
    const QString age = place.kind == AgePlace::Kind::Unknown ? m_typedAge : shown(place.age);
    QString message = QStringLiteral("Интервал с возрастом %1 млн. лет не найден.").arg(age);
    switch (place.kind) {
    case AgePlace::Kind::Unknown:
        break;
    case AgePlace::Kind::Within: {
        const QString bounds = shown(place.base) + u'–' + shown(place.top);
        const QString interval = place.unitName.isEmpty()
                                     ? QStringLiteral("интервал %1 млн. лет").arg(bounds)
                                     : QStringLiteral("%1 (%2 млн. лет)").arg(place.unitName, bounds);
        message += QStringLiteral("\nВозраст %1 млн. лет приходится на %2. Показать этот интервал?").arg(age, interval);
        break;
    }
    case AgePlace::Kind::OlderThanScale:
        message += QStringLiteral("\nВозраст %1 млн. лет больше, чем у самой древней границы шкалы (%2 млн. лет).")
                       .arg(age, shown(place.base));
        break;
    }
    return message;
}

QString AgeSearch::refusalMessage(const QString &refusal) const
{
    if (parseNumberText(m_typedAge))
        return refusal;
    return QStringLiteral("Возраст вводится числом в млн. лет, например 140 или 2,58.");
}

} // namespace orbelant
