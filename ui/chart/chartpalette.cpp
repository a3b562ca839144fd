#include "chartpalette.h"

#include <algorithm>
#include <cmath>

namespace orbelant {

namespace {

QString key(ChartRank rank, const QString &comparableName)
{
    return QString::number(static_cast<int>(rank)) + QLatin1Char(':') + comparableName;
}

QStringList namesOf(const ChartUnit &unit)
{
    return QString::fromUtf16(unit.names).split(QLatin1Char('|'));
}

// How far `age` lies outside the unit's time; 0 inside it.
double distance(const ChartUnit &unit, double age)
{
    return std::max({unit.top - age, age - unit.base, 0.0});
}

// The share of a colour channel in the light the eye sees (the sRGB curve, near enough).
double linear(int channel)
{
    return std::pow(channel / 255.0, 2.2);
}

} // namespace

ChartPalette::ChartPalette()
{
    const std::span<const ChartUnit> units = chartUnits();
    QHash<QString, const ChartUnit *> byEnglishName; // rank and English name → unit
    for (const ChartUnit &unit : units)
        byEnglishName.insert(key(unit.rank, namesOf(unit).last()), &unit);

    for (const ChartUnit &unit : units) {
        Entry entry{&unit, {}, {}};
        for (const QString &name : namesOf(unit))
            entry.names.append(comparable(name));
        if (unit.rank != ChartRank::Eonothem) {
            const auto above = static_cast<ChartRank>(static_cast<int>(unit.rank) - 1);
            if (const ChartUnit *parent = byEnglishName.value(key(above, QString::fromUtf16(unit.parent)))) {
                for (const QString &name : namesOf(*parent))
                    entry.parentNames.append(comparable(name));
            }
        }
        const int index = static_cast<int>(m_entries.size());
        for (const QString &name : entry.names)
            m_byName[key(unit.rank, name)].push_back(index);
        m_entries.push_back(std::move(entry));
    }
}

const ChartPalette &ChartPalette::chart()
{
    static const ChartPalette palette;
    return palette;
}

QString ChartPalette::comparable(QStringView name)
{
    static const QStringList rankWords = {
        QStringLiteral("эонотема"), QStringLiteral("эон"),     QStringLiteral("эратема"),
        QStringLiteral("эра"),      QStringLiteral("система"), QStringLiteral("период"),
        QStringLiteral("отдел"),    QStringLiteral("эпоха"),   QStringLiteral("ярус"),
        QStringLiteral("век")};
    static const QStringList adjectiveEndings = {
        QStringLiteral("ая"), QStringLiteral("яя"), QStringLiteral("ий"), QStringLiteral("ый"),
        QStringLiteral("ой"), QStringLiteral("ое"), QStringLiteral("ее"), QStringLiteral("ые"),
        QStringLiteral("ие")};

    QStringList words = name.toString().toLower().replace(QChar(u'ё'), QChar(u'е')).simplified().split(QLatin1Char(' '));
    if (words.size() > 1 && rankWords.contains(words.last()))
        words.removeLast();
    for (QString &word : words) {
        const auto ending = std::find_if(adjectiveEndings.cbegin(), adjectiveEndings.cend(),
                                         [&word](const QString &end) { return word.endsWith(end); });
        if (ending != adjectiveEndings.cend())
            word.chop(ending->size());
    }
    return words.join(QLatin1Char(' '));
}

const ChartUnit *ChartPalette::find(ChartRank rank, QStringView name, QStringView parentName,
                                    const std::optional<TimeSpan> &span) const
{
    const auto found = m_byName.constFind(key(rank, comparable(name)));
    if (found == m_byName.cend())
        return span ? byTime(rank, span->middle()) : nullptr;

    std::vector<int> candidates;
    const QString parent = comparable(parentName);
    std::copy_if(found->cbegin(), found->cend(), std::back_inserter(candidates),
                 [&](int index) { return m_entries[index].parentNames.contains(parent); });
    if (candidates.empty())
        candidates = *found;
    if (!span)
        return m_entries[candidates.front()].unit;
    const double age = span->middle();
    const int nearest = *std::min_element(candidates.cbegin(), candidates.cend(), [&](int left, int right) {
        return distance(*m_entries[left].unit, age) < distance(*m_entries[right].unit, age);
    });
    return m_entries[nearest].unit;
}

const ChartUnit *ChartPalette::byTime(ChartRank rank, double age) const
{
    for (const Entry &entry : m_entries) {
        if (entry.unit->rank == rank && distance(*entry.unit, age) == 0)
            return entry.unit;
    }
    return nullptr;
}

QColor textColourOn(const QColor &fill)
{
    const double luminance =
        0.2126 * linear(fill.red()) + 0.7152 * linear(fill.green()) + 0.0722 * linear(fill.blue());
    const double againstBlack = (luminance + 0.05) / 0.05;
    const double againstWhite = 1.05 / (luminance + 0.05);
    return againstBlack >= againstWhite ? QColor(Qt::black) : QColor(Qt::white);
}

} // namespace orbelant
