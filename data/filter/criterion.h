#pragma once
// Search criteria in the table engine's filter syntax, for FindFirst:
//   [Возраст] = 140    [Ярус] <> 'Тоарский'    NOT ([A] < 1,5 OR [B] >= 2) AND [C] = "x"
// Columns in brackets (or bare names), numbers with a decimal point or comma, texts in
// single or double quotes; = <> < > <= >=; AND OR NOT and parentheses; keywords and text
// comparison case-insensitive. An empty cell matches no comparison; a number never equals
// a text.

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

    bool matches(const SheetTable &table, qsizetype record) const;

private:
    struct Node;
    explicit Criterion(std::unique_ptr<Node> root);
    std::unique_ptr<Node> m_root;
};

// The first record at or after `from`, in sheet order, that meets the criterion;
// nullopt when none does.
Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion, qsizetype from = 0);

} // namespace orbelant
