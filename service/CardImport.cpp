#include "service/CardImport.h"

#include "service/CsvRecords.h"
#include "service/HtmlText.h"
#include "service/Normalize.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

namespace study {

using namespace csv;

namespace {

enum class Column { Front, Back, Notes, Tags, Skipped };

std::optional<Column> columnNamed(const QString& name)
{
    const QString n = name.trimmed().toCaseFolded();
    if (n == QLatin1String("front"))
        return Column::Front;
    if (n == QLatin1String("back"))
        return Column::Back;
    if (n == QLatin1String("notes"))
        return Column::Notes;
    if (n == QLatin1String("tags"))
        return Column::Tags;
    // The deck is the one the import names; an exported file's deck column is left out.
    if (n == QLatin1String("deck") || n.isEmpty())
        return Column::Skipped;
    return std::nullopt;
}

const QString kKnownColumns = QStringLiteral("front, back, notes, tags, deck");

// Which field of a row goes where.
struct Layout {
    QList<Column> columns;
    bool openEnded = false;   // fields past the last column are more notes (Anki note types with more fields)

    // The fewest fields a row may have: up to its front and back.
    int required() const
    {
        return int(std::max(columns.indexOf(Column::Front), columns.indexOf(Column::Back))) + 1;
    }
    bool complete() const { return columns.contains(Column::Front) && columns.contains(Column::Back); }
    Column at(int i) const { return i < columns.size() ? columns.at(i) : Column::Notes; }
};

// The layout named by a header row or the columns option. A front or back
// named twice is a problem and left out; `unknown` is what a name that is no
// column becomes (nullopt: a problem, and left out).
Layout layoutOf(const QStringList& names, std::optional<Column> unknown, const std::function<void(QString)>& problem)
{
    Layout layout;
    for (const QString& name : names) {
        std::optional<Column> c = columnNamed(name);
        if (!c) {
            if (!unknown)
                problem(QStringLiteral("column \"%1\" is not one of %2").arg(name.trimmed(), kKnownColumns));
            c = unknown.value_or(Column::Skipped);
        }
        if ((c == Column::Front || c == Column::Back) && layout.columns.contains(*c)) {
            problem(QStringLiteral("column \"%1\" is named twice").arg(name.trimmed()));
            c = Column::Skipped;
        }
        layout.columns.append(*c);
    }
    return layout;
}

// What the "#key:value" lines above an Anki export's rows say.
struct AnkiHeader {
    bool present = false;
    char separator = 0;
    bool html = false;
    QByteArray columnNames;              // "#columns:", split once the separator is known
    QHash<int, Column> fixedColumns;     // 0-based field index -> its column
    QString tags;                        // "#tags:", added to every card
};

std::optional<char> separatorNamed(const QString& value)
{
    static const QHash<QString, char> names = {{QStringLiteral("tab"), '\t'},   {QStringLiteral("comma"), ','},
                                               {QStringLiteral("semicolon"), ';'}, {QStringLiteral("space"), ' '},
                                               {QStringLiteral("pipe"), '|'},  {QStringLiteral("colon"), ':'}};
    const QString v = value.toCaseFolded();
    if (names.contains(v))
        return names.value(v);
    if (v.size() == 1 && v.at(0).unicode() < 0x80 && v.at(0) != QLatin1Char('"') && !v.at(0).isLetterOrNumber())
        return char(v.at(0).unicode());
    return std::nullopt;
}

QString fieldText(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    text.removeIf([](QChar c) { return isJunkInCard(c.unicode()); });
    return text;
}

QStringList splitTags(QString text)
{
    text.replace(QLatin1Char(','), QLatin1Char(' '));
    QStringList tags;
    QSet<QString> seen;
    for (const QString& tag : text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!seen.contains(tag)) {
            seen.insert(tag);
            tags.append(tag);
        }
    }
    return tags;
}

// Reads the header lines at `pos` and moves past them. A line that starts with
// '#' but names no known key is the first row.
AnkiHeader readAnkiHeader(const QByteArray& bytes, qsizetype& pos, int& line, QList<ImportProblem>& problems)
{
    static const QSet<QString> valueKeys = {QStringLiteral("separator"), QStringLiteral("html"),
                                            QStringLiteral("columns"), QStringLiteral("tags")};
    static const QSet<QString> skippedKeys = {QStringLiteral("notetype"), QStringLiteral("deck"),
                                              QStringLiteral("if matches"), QStringLiteral("guid")};
    static const QHash<QString, Column> columnKeys = {{QStringLiteral("tags column"), Column::Tags},
                                                      {QStringLiteral("notetype column"), Column::Skipped},
                                                      {QStringLiteral("deck column"), Column::Skipped},
                                                      {QStringLiteral("guid column"), Column::Skipped}};
    AnkiHeader header;
    while (pos < bytes.size() && bytes.at(pos) == '#') {
        qsizetype end = pos;
        while (end < bytes.size() && !isLineEnd(bytes.at(end)))
            ++end;
        const QByteArray text = bytes.mid(pos, end - pos);
        const qsizetype colon = text.indexOf(':');
        if (colon < 0)
            break;
        const QString key = QString::fromUtf8(text.mid(1, colon - 1)).trimmed().toCaseFolded();
        const QByteArray raw = text.mid(colon + 1).trimmed();
        const QString value = fieldText(raw);
        const auto problem = [&](const QString& why) { problems.append({line, why}); };
        if (!valueKeys.contains(key) && !columnKeys.contains(key) && !skippedKeys.contains(key))
            break;
        if (invalidUtf8At(raw) >= 0) {
            problem(QStringLiteral("not valid UTF-8"));
        } else if (key == QLatin1String("separator")) {
            if (const auto s = separatorNamed(value))
                header.separator = *s;
            else
                problem(QStringLiteral("unknown separator \"%1\"").arg(value));
        } else if (key == QLatin1String("html")) {
            header.html = value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
        } else if (key == QLatin1String("columns")) {
            header.columnNames = raw;
        } else if (key == QLatin1String("tags")) {
            header.tags = value;
        } else if (columnKeys.contains(key)) {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (ok && n >= 1 && n <= kMaxColumns)
                header.fixedColumns.insert(n - 1, columnKeys.value(key));
            else
                problem(QStringLiteral("\"%1\" is not a column number").arg(value));
        }
        header.present = true;
        pos = end;
        if (pos < bytes.size()) {
            pos += bytes.at(pos) == '\r' && pos + 1 < bytes.size() && bytes.at(pos + 1) == '\n' ? 2 : 1;
            ++line;
        }
    }
    return header;
}

// Anki's columns: the fixed ones (tags, note type, deck, id) where the header
// puts them, front and back by name or else the first two free fields, and
// every other field more notes.
Layout ankiLayout(const AnkiHeader& header, char separator)
{
    Layout named;
    if (!header.columnNames.isEmpty()) {
        const QStringList names = fieldText(header.columnNames).split(QLatin1Char(separator));
        named = layoutOf(names, Column::Notes, [](const QString&) {});
    }
    const auto& fixed = header.fixedColumns;
    const bool byName = named.complete() && !fixed.contains(int(named.columns.indexOf(Column::Front)))
                        && !fixed.contains(int(named.columns.indexOf(Column::Back)));
    qsizetype width = byName ? named.columns.size() : 0;
    for (auto it = fixed.keyBegin(); it != fixed.keyEnd(); ++it)
        width = std::max<qsizetype>(width, *it + 1);

    Layout layout;
    layout.openEnded = true;
    int free = 0;
    for (int i = 0; i < width || !layout.complete(); ++i) {
        if (fixed.contains(i)) {
            layout.columns.append(fixed.value(i));
        } else if (byName) {
            layout.columns.append(named.at(i));
        } else {
            layout.columns.append(free == 0 ? Column::Front : free == 1 ? Column::Back : Column::Notes);
            ++free;
        }
    }
    return layout;
}

// The separator of a file that does not say: tab when the first line has one
// outside quotes, else whichever of comma and semicolon it has more of
// (entities like "&amp;" put semicolons into tab-separated HTML fields).
char guessSeparator(const QByteArray& bytes, qsizetype pos)
{
    while (pos < bytes.size() && (isLineEnd(bytes.at(pos)) || bytes.at(pos) == ' '))
        ++pos;
    int commas = 0;
    int semicolons = 0;
    bool quoted = false;
    for (; pos < bytes.size(); ++pos) {
        const char c = bytes.at(pos);
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == '\t')
            return '\t';
        else if (isLineEnd(c))
            break;
        commas += c == ',';
        semicolons += c == ';';
    }
    return semicolons > commas ? ';' : ',';
}

bool isBlank(const Record& record)
{
    return std::all_of(record.fields.cbegin(), record.fields.cend(),
                       [](const Field& f) { return !f.quoted && f.bytes.trimmed().isEmpty() && !f.tooLong; });
}

// A first row that names both front and back.
std::optional<QStringList> headerNames(const Record& record)
{
    QStringList names;
    for (const Field& f : record.fields) {
        if (f.tooLong || invalidUtf8At(f.bytes) >= 0)
            return std::nullopt;
        names.append(QString::fromUtf8(f.bytes));
    }
    const Layout probe = layoutOf(names, Column::Skipped, [](const QString&) {});
    return probe.complete() ? std::optional(names) : std::nullopt;
}

QString columnCountProblem(qsizetype count, const Layout& layout)
{
    const int low = layout.required();
    const int high = int(layout.columns.size());
    const QString got = count == 1 ? QStringLiteral("1 column") : QStringLiteral("%1 columns").arg(count);
    if (count > kMaxColumns)
        return QStringLiteral("%1, at most %2 are read").arg(got).arg(kMaxColumns);
    if (layout.openEnded)
        return QStringLiteral("%1, expected at least %2").arg(got).arg(low);
    if (low == high)
        return QStringLiteral("%1, expected %2").arg(got).arg(low);
    return QStringLiteral("%1, expected %2 to %3").arg(got).arg(low).arg(high);
}

QString sizeText(qsizetype bytes)
{
    return bytes % 1024 == 0 ? QStringLiteral("%1 KiB").arg(bytes / 1024) : QStringLiteral("%1 bytes").arg(bytes);
}

// The card a row holds, or why it holds none (line and reason).
std::optional<ImportProblem> readRow(const Record& record, const Layout& layout, const AnkiHeader& header,
                                     qsizetype limit, ParsedCard& card)
{
    for (int i = 0; i < record.fields.size(); ++i) {
        const Field& f = record.fields.at(i);
        if (f.tooLong)
            return ImportProblem{record.line, QStringLiteral("field %1 is longer than %2").arg(i + 1).arg(sizeText(limit))};
        if (const qsizetype at = invalidUtf8At(f.bytes); at >= 0)
            return ImportProblem{f.line + int(f.bytes.left(at).count('\n')), QStringLiteral("not valid UTF-8")};
    }
    if (record.count < layout.required() || (!layout.openEnded && record.count > layout.columns.size())
        || record.count > kMaxColumns)
        return ImportProblem{record.line, columnCountProblem(record.count, layout)};

    card = ParsedCard{};
    card.line = record.line;
    QString tags;
    for (int i = 0; i < record.fields.size(); ++i) {
        const Field& f = record.fields.at(i);
        const Column column = layout.at(i);
        if (column == Column::Skipped)
            continue;
        QString text = fieldText(f.bytes);
        if (header.html && column != Column::Tags)
            text = htmlToText(text);
        else if (!f.quoted)
            text = text.trimmed();
        switch (column) {
        case Column::Front: card.front = text; break;
        case Column::Back: card.back = text; break;
        case Column::Notes:
            if (!text.isEmpty())
                card.notes += (card.notes.isEmpty() ? QString() : QStringLiteral("\n")) + text;
            break;
        case Column::Tags: tags += QLatin1Char(' ') + text; break;
        case Column::Skipped: break;
        }
    }
    card.tags = splitTags(tags + QLatin1Char(' ') + header.tags);
    // Fields joined into the notes may outgrow one field; an export must read back.
    if (card.notes.size() > limit / 3 && card.notes.toUtf8().size() > limit)
        return ImportProblem{record.line, QStringLiteral("the notes are longer than %1").arg(sizeText(limit))};
    if (card.front.trimmed().isEmpty())
        return ImportProblem{record.line, QStringLiteral("empty front")};
    if (card.back.trimmed().isEmpty())
        return ImportProblem{record.line, QStringLiteral("empty back")};
    return std::nullopt;
}

} // namespace

QString ImportProblem::message() const
{
    return line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(reason) : reason;
}

ParsedCards parseCards(const QByteArray& bytes, const ImportOptions& options)
{
    ParsedCards result;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        result.problems.append({0, QStringLiteral("the file is UTF-16, not UTF-8; save it as UTF-8")});
        return result;
    }
    qsizetype pos = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    int line = 1;
    const AnkiHeader anki = readAnkiHeader(bytes, pos, line, result.problems);
    const bool given = options.separator && options.separator != '"' && !isLineEnd(options.separator);
    const char separator = given ? options.separator : anki.separator ? anki.separator : guessSeparator(bytes, pos);

    std::optional<Layout> layout;
    if (!options.columns.isEmpty()) {
        bool bad = false;
        const auto problem = [&](const QString& why) {
            result.problems.append({0, QStringLiteral("columns \"%1\": %2").arg(options.columns, why)});
            bad = true;
        };
        layout = layoutOf(options.columns.split(QLatin1Char(',')), std::nullopt, problem);
        if (!bad && !layout->complete())
            problem(QStringLiteral("front and back are both needed"));
        if (bad)
            return result;
    } else if (anki.present) {
        layout = ankiLayout(anki, separator);
    }

    RecordReader reader(bytes, pos, line, separator, options.fieldLimit);
    QHash<QString, int> seen;   // canonical front and back -> line
    bool first = true;
    Record record;
    while (reader.next(record)) {
        if (record.brokenQuote) {
            result.problems.append(*record.brokenQuote);
            continue;
        }
        if (isBlank(record))
            continue;
        if (std::exchange(first, false) && !anki.present) {
            if (const std::optional<QStringList> names = headerNames(record)) {
                if (!layout) {
                    layout = layoutOf(*names, std::nullopt,
                                      [&](const QString& why) {
                                          result.problems.append({record.line, why + QStringLiteral("; it is left out")});
                                      });
                }
                continue;
            }
        }
        if (!layout)
            layout = Layout{{Column::Front, Column::Back, Column::Notes, Column::Tags}, false};
        ParsedCard card;
        if (const auto problem = readRow(record, *layout, anki, options.fieldLimit, card)) {
            result.problems.append(*problem);
            continue;
        }
        const QString key = canonicalCardText(card.front) + QLatin1Char('\n') + canonicalCardText(card.back);
        if (const auto it = seen.constFind(key); it != seen.cend()) {
            result.duplicates.append({card.line, it.value()});
            continue;
        }
        seen.insert(key, card.line);
        result.cards.append(std::move(card));
    }
    std::stable_sort(result.problems.begin(), result.problems.end(),
                     [](const ImportProblem& a, const ImportProblem& b) { return a.line < b.line; });
    return result;
}

} // namespace study
