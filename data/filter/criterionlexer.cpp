#include "criterionlexer.h"

#include "../numbertext.h"

#include <algorithm>

namespace orbelant::criterion {

// The 1-based position a person counts to, in characters rather than UTF-16 units.
QString positionOf(QStringView text, qsizetype index)
{
    qsizetype characters = 0;
    for (qsizetype i = 0; i < index && i < text.size(); ++i)
        if (!(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()))
            ++characters;
    return QString::number(characters + 1);
}

// A piece of the criterion fit to stand in a message: one line, not too long.
QString excerpt(QStringView text, qsizetype maxLength)
{
    qsizetype length = std::min(text.size(), maxLength);
    if (length < text.size() && length > 0 && text[length - 1].isHighSurrogate())
        --length;
    QString shown = text.first(length).toString();
    for (QChar &c : shown)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    while (!shown.isEmpty() && shown.back().isSpace())
        shown.chop(1);
    if (length < text.size())
        shown += u'…';
    return shown;
}

namespace {


class Lexer {
public:
    explicit Lexer(const QString &criterion) : m_text(criterion), m_error(criterion) {}

    Result<std::vector<Token>> tokens()
    {
        std::vector<Token> tokens;
        for (;;) {
            skipBlanks();
            auto token = next();
            if (!token)
                return std::unexpected(token.error());
            tokens.push_back(std::move(*token));
            if (tokens.back().kind == Token::Kind::End)
                return tokens;
        }
    }

private:
    char32_t codePointAt(qsizetype i) const
    {
        if (i >= m_text.size())
            return 0;
        if (m_text[i].isHighSurrogate() && i + 1 < m_text.size() && m_text[i + 1].isLowSurrogate())
            return QChar::surrogateToUcs4(m_text[i], m_text[i + 1]);
        return m_text[i].unicode();
    }
    static qsizetype widthOf(char32_t c) { return QChar::requiresSurrogates(c) ? 2 : 1; }
    bool isDigitAt(qsizetype i) const { return i < m_text.size() && m_text[i] >= u'0' && m_text[i] <= u'9'; }
    bool isSeparatorAt(qsizetype i) const { return i < m_text.size() && (m_text[i] == u'.' || m_text[i] == u','); }
    // A sign can only start a number: the criterion has no arithmetic.
    bool startsNumber(qsizetype i) const
    {
        if (m_text[i] == u'+' || m_text[i] == u'-')
            ++i;
        return isDigitAt(i) || (isSeparatorAt(i) && isDigitAt(i + 1));
    }
    bool isWordStart(char32_t c) const { return QChar::isLetter(c) || c == U'_'; }
    bool isWordPart(char32_t c) const { return QChar::isLetterOrNumber(c) || QChar::isMark(c) || c == U'_'; }

    // The quotes a word processor puts in place of ' and ".
    static bool isTypographicQuote(char32_t c)
    {
        return c == U'«' || c == U'»' || c == U'„' || c == U'“' || c == U'”' || c == U'‘' || c == U'’';
    }

    void skipBlanks()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }

    std::unexpected<Error> unexpectedCharacter(qsizetype at) const
    {
        const char32_t c = codePointAt(at);
        const QString position = m_error.position(at);
        if (isTypographicQuote(c))
            return m_error(QStringLiteral("в позиции %2 стоит кавычка %1, а текст берут в прямые кавычки ' или \"")
                               .arg(QString::fromUcs4(&c, 1), position));
        if (QChar::isPrint(c) && !QChar::isSpace(c))
            return m_error(QStringLiteral("неожиданный знак «%1» в позиции %2")
                               .arg(QString::fromUcs4(&c, 1), position));
        const QString code = QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0');
        return m_error(QStringLiteral("неожиданный невидимый знак U+%1 в позиции %2").arg(code, position));
    }

    Token startToken(Token::Kind kind) const
    {
        Token token;
        token.kind = kind;
        token.start = m_pos;
        return token;
    }

    Result<Token> next()
    {
        Token token = startToken(Token::Kind::End);
        if (m_pos >= m_text.size())
            return token;
        const QChar c = m_text[m_pos];
        if (c == u'[')
            return bracketedName();
        if (c == u'\'' || c == u'"')
            return quotedText(c);
        if (startsNumber(m_pos))
            return number();
        if (isWordStart(codePointAt(m_pos)))
            return word();
        return punctuation();
    }

    Result<Token> bracketedName()
    {
        Token token = startToken(Token::Kind::Column);
        const qsizetype close = m_text.indexOf(u']', m_pos + 1);
        if (close < 0)
            return m_error(QStringLiteral("не закрыта квадратная скобка, открытая в позиции %1").arg(m_error.position(m_pos)));
        token.text = m_text.sliced(m_pos + 1, close - m_pos - 1);
        if (token.text.trimmed().isEmpty())
            return m_error(QStringLiteral("пустое имя столбца в позиции %1").arg(m_error.position(m_pos)));
        m_pos = close + 1;
        token.length = m_pos - token.start;
        return token;
    }

    // 'текст' or "текст"; the quote doubled inside stands for one quote.
    Result<Token> quotedText(QChar quote)
    {
        Token token = startToken(Token::Kind::Text);
        for (qsizetype i = m_pos + 1; i < m_text.size(); ++i) {
            if (m_text[i] != quote) {
                token.text += m_text[i];
            } else if (i + 1 < m_text.size() && m_text[i + 1] == quote) {
                token.text += quote;
                ++i;
            } else {
                m_pos = i + 1;
                token.length = m_pos - token.start;
                return token;
            }
        }
        return m_error(QStringLiteral("не закрыта кавычка, открытая в позиции %1").arg(m_error.position(m_pos)));
    }

    // [+-] digits [(.|,) digits] [(e|E) [+-] digits]; a letter, digit or separator right
    // after it means the number was mistyped ("14о" with a Cyrillic о).
    Result<Token> number()
    {
        Token token = startToken(Token::Kind::Number);
        qsizetype i = m_pos;
        if (m_text[i] == u'+' || m_text[i] == u'-')
            ++i;
        while (isDigitAt(i))
            ++i;
        if (isSeparatorAt(i)) {
            ++i;
            while (isDigitAt(i))
                ++i;
        }
        if (i < m_text.size() && (m_text[i] == u'e' || m_text[i] == u'E')) {
            qsizetype exponent = i + 1;
            if (exponent < m_text.size() && (m_text[exponent] == u'+' || m_text[exponent] == u'-'))
                ++exponent;
            if (isDigitAt(exponent)) {
                i = exponent;
                while (isDigitAt(i))
                    ++i;
            }
        }
        if (isSeparatorAt(i) || (i < m_text.size() && isWordPart(codePointAt(i))))
            return unexpectedCharacter(i);
        token.length = i - m_pos;
        const QStringView written = QStringView(m_text).sliced(m_pos, token.length);
        const std::optional<double> value = parseNumberText(written);
        if (!value)
            return m_error(QStringLiteral("число «%1» в позиции %2 вне допустимого диапазона")
                               .arg(excerpt(written, QuotedTokenLength), m_error.position(m_pos)));
        token.number = *value;
        m_pos = i;
        return token;
    }

    Result<Token> word()
    {
        Token token = startToken(Token::Kind::BareWord);
        qsizetype i = m_pos;
        while (i < m_text.size() && isWordPart(codePointAt(i)))
            i += widthOf(codePointAt(i));
        token.length = i - m_pos;
        token.text = m_text.sliced(m_pos, token.length);
        if (token.text.compare(QLatin1String("AND"), Qt::CaseInsensitive) == 0)
            token.kind = Token::Kind::And;
        else if (token.text.compare(QLatin1String("OR"), Qt::CaseInsensitive) == 0)
            token.kind = Token::Kind::Or;
        else if (token.text.compare(QLatin1String("NOT"), Qt::CaseInsensitive) == 0)
            token.kind = Token::Kind::Not;
        m_pos = i;
        return token;
    }

    Result<Token> punctuation()
    {
        Token token = startToken(Token::Kind::Comparison);
        const QStringView rest = QStringView(m_text).sliced(m_pos);
        if (rest.startsWith(u"<>")) {
            token.op = Operator::NotEqual;
            token.length = 2;
        } else if (rest.startsWith(u"<=")) {
            token.op = Operator::LessEqual;
            token.length = 2;
        } else if (rest.startsWith(u">=")) {
            token.op = Operator::GreaterEqual;
            token.length = 2;
        } else if (rest.startsWith(u'<')) {
            token.op = Operator::Less;
            token.length = 1;
        } else if (rest.startsWith(u'>')) {
            token.op = Operator::Greater;
            token.length = 1;
        } else if (rest.startsWith(u'=')) {
            token.op = Operator::Equal;
            token.length = 1;
        } else if (rest.startsWith(u'(')) {
            token.kind = Token::Kind::Open;
            token.length = 1;
        } else if (rest.startsWith(u')')) {
            token.kind = Token::Kind::Close;
            token.length = 1;
        } else if (rest.startsWith(u"!=")) {
            return m_error(QStringLiteral("знак «!=» в позиции %1 не поддерживается; «не равно» записывается как «<>»")
                               .arg(m_error.position(m_pos)));
        } else {
            return unexpectedCharacter(m_pos);
        }
        m_pos += token.length;
        return token;
    }

    const QString &m_text;
    CriterionError m_error;
    qsizetype m_pos = 0;
};

} // namespace

Result<std::vector<Token>> tokenize(const QString &criterion)
{
    return Lexer(criterion).tokens();
}

} // namespace orbelant::criterion
