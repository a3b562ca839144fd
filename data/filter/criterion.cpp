#include "criterion.h"

#include "criterionlexer.h"
#include "../numbertext.h"

#include <algorithm>
#include <vector>

namespace orbelant {

namespace {

using namespace criterion;

constexpr qsizetype MaxCriterionLength = 10000;
constexpr int MaxNesting = 100;          // parentheses and NOT inside one another

QString comparisonSigns() { return QStringLiteral("=, <>, <, >, <= или >="); }

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
            return expected(QStringLiteral("ожидался конец условия, AND или OR"));
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

    // `what` says what should stand at the current token, its verb agreeing with it:
    // "ожидался знак сравнения".
    std::unexpected<Error> expected(const QString &what) const
    {
        return m_error(QStringLiteral("в позиции %1 стоит «%2», а %3")
                           .arg(position(current()), m_error.shown(current()), what));
    }
    std::unexpected<Error> tooDeep(const Token &token) const
    {
        return m_error(QStringLiteral("в позиции %1 скобки и NOT вложены глубже %2 уровней")
                           .arg(position(token), formatCount(MaxNesting)));
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
            return expected(QStringLiteral("ожидалась закрывающая скобка, AND или OR"));
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
                return m_error(QStringLiteral("после «%1» не хватает знака сравнения (%2)")
                                   .arg(m_error.shown(previous()), comparisonSigns()));
            return expected(QStringLiteral("ожидался знак сравнения (%1)").arg(comparisonSigns()));
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
                QString problem = QStringLiteral("на листе нет столбца «%1»").arg(excerpt(token.text, QuotedTokenLength));
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
            return expected(afterComparison ? QStringLiteral("ожидалось значение или столбец") : QStringLiteral("ожидалось условие"));
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

Cell valueOf(const Operand &operand, const SheetTable &table, qsizetype record)
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
        return CriterionError(text)(QStringLiteral("условие длиннее %1 знаков").arg(formatCount(MaxCriterionLength)));
    auto tokens = tokenize(text);
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
