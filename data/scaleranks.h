#pragma once
// The scale's unit columns, from eonothem down to stage: the sheet's column, the noun that
// names the rank in a sentence, and its gender (a feminine noun and its adjectives change in
// the accusative, an inanimate masculine one stays as it is).

namespace orbelant {

struct ScaleRank {
    const char16_t *column;
    const char16_t *noun;
    bool feminine;
};

inline constexpr ScaleRank scaleRanks[] = {{u"Эонотема", u"эонотема", true},
                                           {u"Эратема", u"эратема", true},
                                           {u"Система", u"система", true},
                                           {u"Отдел", u"отдел", false},
                                           {u"Ярус", u"ярус", false}};

} // namespace orbelant
