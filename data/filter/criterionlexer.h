#pragma once
// Reading a search criterion into tokens, and the messages about what is wrong in it.

#include "../error.h"

#include <QString>
#include <vector>

namespace orbelant::criterion {

constexpr qsizetype QuotedCriterionLength = 80;
constexpr qsizetype QuotedTokenLength = 30;

enum class Operator { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

struct Token {
    enum class Kind { Column, BareWord, Number, Text, Comparison, And, Or, Not, Open, Close, End };
    Kind kind = Kind::End;
    qsizetype start = 0;  // index of the first UTF-16 unit in the criterion
    qsizetype length = 0;
    QString text;         // Column and BareWord: the name; Text: the value
    double number = 0;
    Operator op = Operator::Equal;
};

// The 1-based position a person counts to, in characters rather than UTF-16 units.
QString positionOf(QStringView text, qsizetype index);

// A piece of the criterion fit to stand in a message: one line, not too long.
QString excerpt(QStringView text, qsizetype maxLength);

// Builds the refusal of one criterion: its text quoted, then the problem.
class CriterionError {
public:
    explicit CriterionError(const QString &criterion) : m_criterion(criterion) {}

    std::unexpected<Error> operator()(const QString &problem) const
    {
        return fail(ErrorCode::BadCriterion,
                    QStringLiteral("«%1»: %2").arg(excerpt(m_criterion, QuotedCriterionLength), problem));
    }
    QString position(qsizetype index) const { return positionOf(m_criterion, index); }
    QString shown(const Token &token) const
    {
        return excerpt(QStringView(m_criterion).sliced(token.start, token.length), QuotedTokenLength);
    }

private:
    const QString &m_criterion;
};

// The tokens of `criterion`, the last one End; a character that starts no token, an
// unclosed bracket or quote, or a malformed number is refused.
Result<std::vector<Token>> tokenize(const QString &criterion);

} // namespace orbelant::criterion
