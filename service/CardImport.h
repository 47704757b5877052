// The learner's own card files: reading CSV, TSV and Anki's "Notes in Plain
// Text" export into cards with line-numbered problems. A pure function over
// bytes; the import command puts the result into the store.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace study {

struct ImportOptions {
    // The field separator (not a quote or line end); 0 takes it from an Anki
    // "#separator:" line or guesses it from the first line (tab, comma or
    // semicolon).
    char separator = 0;
    // The columns of the file in order, e.g. "front,back,tags" (names front,
    // back, notes, tags, deck; an empty name leaves a column out). Empty: from
    // the header row, or else front, back[, notes[, tags]].
    QString columns;
    // The most bytes one field may hold; a longer one is a problem for its row.
    qsizetype fieldLimit = 64 * 1024;
};

struct ParsedCard {
    QString front;
    QString back;
    QString notes;
    QStringList tags;
    int line = 0;          // 1-based line of the file the row starts on
};

struct ImportProblem {
    int line = 0;          // 0: the file as a whole
    QString reason;        // plain English, e.g. "3 columns, expected 2 to 4"
    // "line 12: 3 columns, expected 2 to 4"
    QString message() const;
};

// A row with the same front and back (compared canonically) as an earlier one.
struct SkippedDuplicate {
    int line = 0;
    int sameAs = 0;        // the line of the row that was kept
};

struct ParsedCards {
    QList<ParsedCard> cards;           // the good rows, in file order, without duplicates
    QList<ImportProblem> problems;     // in line order
    QList<SkippedDuplicate> duplicates;
};

ParsedCards parseCards(const QByteArray& bytes, const ImportOptions& options = {});

} // namespace study
