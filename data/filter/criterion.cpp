#include "criterion.h"

#include "../numbertext.h"

#include <algorithm>
#include <vector>

namespace orbelant {

namespace {

constexpr qsizetype MaxCriterionLength = 10000;
constexpr int MaxNesting = 100;          // parentheses and NOT inside one another
constexpr qsizetype QuotedCriterionLength = 80;
constexpr qsizetype QuotedTokenLength = 30;

QString comparisonSigns() { return QStringLiteral("=, <>, <, >, <= или >="); }

enum class Operator { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual };

// What one comparison reads: a column of the current record, or a value typed in the
// criterion (a number or a non-empty text; an empty text is kept as an empty cell).
struct Operand {
    qsizetype column = -1;
    Cell value;
};

struct Expression {
    enum class Kind { Comparison, All, Any, Not };
    Kind kind = Kind::Comparison;
    Operand left;
    Operator op = Operator::Equal;
    Operand right;
    std::vector<Expression> children; // All, Any: two or more; Not: one
};

// ---- Reading the text into tokens -------------------------------------------------

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
            return m_error(QStringLiteral("знак «!=» в позиции %1 не поддерживается, «не равно» записывается как «<>»")
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

// ---- Building the expression --------------------------------------------------------

//   criterion  := any End
//   any        := all (OR all)*
//   all        := negation (AND negation)*
//   negation   := NOT negation | primary
//   primary    := '(' any ')' | operand comparison operand
class Parser {
public:
    Parser(const QString &criterion, std::vector<Token> tokens, const SheetTable &table)
        : m_error(criterion), m_tokens(std::move(tokens)), m_table(table)
    {
    }

    qsizetype columnsUsed() const { return m_columnsUsed; }

    Result<Expression> criterion()
    {
        if (current().kind == Token::Kind::End)
            return m_error(QStringLiteral("условие пустое"));
        auto expression = any();
        if (!expression)
            return expression;
        if (current().kind == Token::Kind::Close)
            return m_error(QStringLiteral("лишняя закрывающая скобка в позиции %1").arg(position(current())));
        if (current().kind != Token::Kind::End)
            return expected(QStringLiteral("AND, OR или конец условия"));
        return expression;
    }

private:
    const Token &current() const { return m_tokens[m_index]; }
    const Token &previous() const { return m_tokens[m_index - 1]; }
    void advance()
    {
        if (m_index + 1 < m_tokens.size())
            ++m_index;
    }
    QString position(const Token &token) const { return m_error.position(token.start); }

    std::unexpected<Error> expected(const QString &what) const
    {
        return m_error(QStringLiteral("в позиции %1 ожидалось %2, а стоит «%3»")
                           .arg(position(current()), what, m_error.shown(current())));
    }
    std::unexpected<Error> tooDeep(const Token &token) const
    {
        return m_error(QStringLiteral("в позиции %1 скобки и NOT вложены глубже %2 уровней")
                           .arg(position(token), QString::number(MaxNesting)));
    }

    Result<Expression> any() { return chain(Token::Kind::Or, Expression::Kind::Any); }
    Result<Expression> all() { return chain(Token::Kind::And, Expression::Kind::All); }

    // One or more terms joined by `keyword`; AND binds tighter than OR.
    Result<Expression> chain(Token::Kind keyword, Expression::Kind kind)
    {
        auto first = keyword == Token::Kind::Or ? all() : negation();
        if (!first || current().kind != keyword)
            return first;
        Expression joined;
        joined.kind = kind;
        joined.children.push_back(std::move(*first));
        while (current().kind == keyword) {
            advance();
            auto term = keyword == Token::Kind::Or ? all() : negation();
            if (!term)
                return term;
            joined.children.push_back(std::move(*term));
        }
        return joined;
    }

    Result<Expression> negation()
    {
        if (current().kind != Token::Kind::Not)
            return primary();
        const Token &keyword = current();
        if (++m_depth > MaxNesting)
            return tooDeep(keyword);
        advance();
        auto operand = negation();
        --m_depth;
        if (!operand)
            return operand;
        Expression negated;
        negated.kind = Expression::Kind::Not;
        negated.children.push_back(std::move(*operand));
        return negated;
    }

    Result<Expression> primary()
    {
        if (current().kind != Token::Kind::Open)
            return comparison();
        const Token &open = current();
        if (++m_depth > MaxNesting)
            return tooDeep(open);
        advance();
        auto inner = any();
        --m_depth;
        if (!inner)
            return inner;
        if (current().kind == Token::Kind::End)
            return m_error(QStringLiteral("не закрыта скобка, открытая в позиции %1").arg(position(open)));
        if (current().kind != Token::Kind::Close)
            return expected(QStringLiteral("AND, OR или «)»"));
        advance();
        return inner;
    }

    Result<Expression> comparison()
    {
        Expression compared;
        auto left = operand(false);
        if (!left)
            return std::unexpected(left.error());
        if (current().kind != Token::Kind::Comparison) {
            if (current().kind == Token::Kind::End)
                return m_error(QStringLiteral("после «%1» не хватает сравнения: %2")
                                   .arg(m_error.shown(previous()), comparisonSigns()));
            return expected(QStringLiteral("знак сравнения (%1)").arg(comparisonSigns()));
        }
        compared.op = current().op;
        advance();
        auto right = operand(true);
        if (!right)
            return std::unexpected(right.error());
        compared.left = std::move(*left);
        compared.right = std::move(*right);
        return compared;
    }

    Result<Operand> operand(bool afterComparison)
    {
        const Token &token = current();
        Operand read;
        switch (token.kind) {
        case Token::Kind::Number:
            read.value = Cell::makeNumber(token.number);
            break;
        case Token::Kind::Text:
            read.value = Cell::makeText(token.text);
            break;
        case Token::Kind::Column:
        case Token::Kind::BareWord: {
            read.column = columnNamed(token.text);
            if (read.column < 0) {
                QString problem = QStringLiteral("в листе нет столбца «%1»").arg(excerpt(token.text, QuotedTokenLength));
                if (token.kind == Token::Kind::BareWord && afterComparison)
                    problem += QStringLiteral(" (текст для сравнения берите в кавычки: '%1')").arg(excerpt(token.text, QuotedTokenLength));
                return m_error(problem);
            }
            m_columnsUsed = std::max(m_columnsUsed, read.column + 1);
            break;
        }
        case Token::Kind::End:
            if (afterComparison)
                return m_error(QStringLiteral("после «%1» не указано, с чем сравнивать").arg(m_error.shown(previous())));
            return m_error(QStringLiteral("после «%1» не хватает условия").arg(m_error.shown(previous())));
        default:
            return expected(afterComparison ? QStringLiteral("значение или столбец") : QStringLiteral("условие"));
        }
        advance();
        return read;
    }

    // The name as written, or without the blanks around it ("[ Возраст ]").
    qsizetype columnNamed(const QString &name) const
    {
        const qsizetype column = m_table.columnIndex(name);
        return column >= 0 ? column : m_table.columnIndex(QStringView(name).trimmed());
    }

    CriterionError m_error;
    std::vector<Token> m_tokens;
    const SheetTable &m_table;
    size_t m_index = 0;
    int m_depth = 0;
    qsizetype m_columnsUsed = 0;
};

// ---- Evaluating it for one record ---------------------------------------------------

enum class Truth { False, True, Unknown };

Truth truthOf(bool value) { return value ? Truth::True : Truth::False; }

template <typename T>
bool holds(Operator op, const T &left, const T &right)
{
    switch (op) {
    case Operator::Equal:
        return left == right;
    case Operator::NotEqual:
        return left != right;
    case Operator::Less:
        return left < right;
    case Operator::Greater:
        return left > right;
    case Operator::LessEqual:
        return left <= right;
    case Operator::GreaterEqual:
        return left >= right;
    }
    return false;
}

// Empty, boolean and error cells make a comparison unknown. A number and a text are
// never equal, so only <> holds between them.
Truth compare(const Cell &left, Operator op, const Cell &right)
{
    const auto comparable = [](const Cell &cell) {
        return cell.kind == Cell::Kind::Number || cell.kind == Cell::Kind::Text;
    };
    if (!comparable(left) || !comparable(right))
        return Truth::Unknown;
    if (left.kind != right.kind)
        return truthOf(op == Operator::NotEqual);
    if (left.kind == Cell::Kind::Number)
        return truthOf(holds(op, left.number, right.number));
    return truthOf(holds(op, QStringView(left.text).compare(right.text, Qt::CaseInsensitive), 0));
}

const Cell &valueOf(const Operand &operand, const SheetTable &table, qsizetype record)
{
    return operand.column >= 0 ? table.cell(record, operand.column) : operand.value;
}

Truth evaluate(const Expression &expression, const SheetTable &table, qsizetype record)
{
    switch (expression.kind) {
    case Expression::Kind::Comparison:
        return compare(valueOf(expression.left, table, record), expression.op,
                       valueOf(expression.right, table, record));
    case Expression::Kind::Not:
        switch (evaluate(expression.children.front(), table, record)) {
        case Truth::True:
            return Truth::False;
        case Truth::False:
            return Truth::True;
        case Truth::Unknown:
            return Truth::Unknown;
        }
        return Truth::Unknown;
    case Expression::Kind::All:
    case Expression::Kind::Any: {
        // AND stops at the first false, OR at the first true; otherwise an unknown
        // term makes the whole unknown.
        const Truth decisive = expression.kind == Expression::Kind::All ? Truth::False : Truth::True;
        Truth result = expression.kind == Expression::Kind::All ? Truth::True : Truth::False;
        for (const Expression &term : expression.children) {
            const Truth value = evaluate(term, table, record);
            if (value == decisive)
                return decisive;
            if (value == Truth::Unknown)
                result = Truth::Unknown;
        }
        return result;
    }
    }
    return Truth::Unknown;
}

} // namespace

struct Criterion::Node {
    Expression expression;
};

Criterion::Criterion(std::unique_ptr<Node> root, qsizetype columnsUsed)
    : m_root(std::move(root)), m_columnsUsed(columnsUsed)
{
}
Criterion::Criterion(Criterion &&) noexcept = default;
Criterion &Criterion::operator=(Criterion &&) noexcept = default;
Criterion::~Criterion() = default;

Result<Criterion> Criterion::parse(const QString &text, const SheetTable &table)
{
    if (text.size() > MaxCriterionLength)
        return CriterionError(text)(QStringLiteral("условие длиннее %1 знаков").arg(QStringLiteral("10 000")));
    auto tokens = Lexer(text).tokens();
    if (!tokens)
        return std::unexpected(tokens.error());
    Parser parser(text, std::move(*tokens), table);
    auto expression = parser.criterion();
    if (!expression)
        return std::unexpected(expression.error());
    return Criterion(std::make_unique<Node>(Node{std::move(*expression)}), parser.columnsUsed());
}

bool Criterion::matches(const SheetTable &table, qsizetype record) const
{
    if (!m_root || record < 0 || record >= table.recordCount() || table.columnCount() < m_columnsUsed)
        return false;
    return evaluate(m_root->expression, table, record) == Truth::True;
}

Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion, qsizetype from)
{
    auto parsed = Criterion::parse(criterion, table);
    if (!parsed)
        return std::unexpected(parsed.error());
    const qsizetype records = table.recordCount();
    for (qsizetype record = std::max<qsizetype>(from, 0); record < records; ++record)
        if (parsed->matches(table, record))
            return std::optional<qsizetype>(record);
    return std::optional<qsizetype>();
}

} // namespace orbelant
