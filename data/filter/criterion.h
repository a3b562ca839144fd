#pragma once
// Search criteria in the table engine's filter syntax, for FindFirst:
//   [Возраст] = 140    [Ярус] <> 'Тоарский'    NOT ([A] < 1,5 OR [B] >= 2) AND [C] = "x"
// Columns in brackets (or bare names), numbers with a decimal point or comma, texts in
// single or double quotes; = <> < > <= >=; AND OR NOT and parentheses; keywords and text
// comparison case-insensitive. A date cell compares as its serial number.
//
// Three-valued: a comparison with an empty, boolean or error cell is unknown, and so is
// NOT of unknown; a record is found only when the whole criterion is true. A number never
// equals a text, so between them only <> holds ("[A] <> x" always agrees with
// "NOT [A] = x"). At most 10,000 characters and 100 levels of parentheses and NOT.

#include "../error.h"
#include "../sheettable.h"

#include <memory>
#include <optional>

namespace orbelant {

class Criterion {
public:
    // Parses `text` and resolves its column names against `table`. Refuses with
    // ErrorCode::BadCriterion and a message that quotes the criterion and says what is
    // wrong (an unknown column, a syntax error at a 1-based position).
    static Result<Criterion> parse(const QString &text, const SheetTable &table);

    Criterion(Criterion &&) noexcept;
    Criterion &operator=(Criterion &&) noexcept;
    ~Criterion();

    // True when the whole criterion holds for `record`; a comparison with an empty,
    // boolean or error cell is unknown, and unknown is not a match. False for a record
    // or a table the criterion cannot have been parsed against.
    bool matches(const SheetTable &table, qsizetype record) const;

private:
    struct Node;
    Criterion(std::unique_ptr<Node> root, qsizetype columnsUsed);
    std::unique_ptr<Node> m_root;
    qsizetype m_columnsUsed = 0; // highest column index the criterion reads, plus one
};

// The first record at or after `from`, in sheet order, that meets the criterion;
// nullopt when none does.
Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion, qsizetype from = 0);

} // namespace orbelant
