// The service's "standardize" step. There is no language model behind it, so
// it does something plain and repeatable: the first sentence becomes the title,
// the text becomes tidy markdown under that title, and the tags come from the
// note's #hashtags or, failing those, its most frequent significant words.
#include "service/Normalize.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace study {

namespace {

constexpr int kTitleLimit = 60;   // user-perceived characters
constexpr int kMaxTags = 3;

const QRegularExpression& hashtagPattern()
{
    static const QRegularExpression re(QStringLiteral("(?<!\\S)#([\\p{L}\\p{N}][\\p{L}\\p{N}_-]*)"),
                                       QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

const QSet<QString>& stopWords()
{
    static const QSet<QString> words = [] {
        QSet<QString> s;
        for (const char* w : {"about", "after", "again", "also", "because", "been", "before", "being",
                              "could", "does", "doing", "done", "each", "even", "every", "from",
                              "have", "having", "here", "into", "just", "like", "more", "most",
                              "much", "must", "need", "only", "other", "over", "same", "should",
                              "some", "such", "than", "that", "their", "them", "then", "there",
                              "these", "they", "thing", "this", "those", "through", "very", "want",
                              "were", "what", "when", "where", "which", "while", "will", "with",
                              "would", "your", "today", "still", "really", "maybe", "make",
                              "para", "como", "pero", "esta", "este", "todo", "todos", "tiene",
                              "habe", "dass", "nicht", "eine", "einen", "sind", "auch", "oder",
                              "aber", "wenn", "über", "heute", "avec", "dans", "pour", "sont"})
            s.insert(QString::fromLatin1(w));
        return s;
    }();
    return words;
}

int graphemeCount(const QString& s)
{
    QTextBoundaryFinder f(QTextBoundaryFinder::Grapheme, s);
    int n = 0;
    while (f.toNextBoundary() != -1)
        ++n;
    return n;
}

// Cuts to at most `limit` graphemes, at a word boundary when one is near, and
// marks the cut with an ellipsis.
QString shorten(const QString& s, int limit)
{
    if (graphemeCount(s) <= limit)
        return s;
    QTextBoundaryFinder f(QTextBoundaryFinder::Grapheme, s);
    int pos = 0;
    for (int i = 0; i < limit - 1; ++i)
        pos = int(f.toNextBoundary());
    QString cut = s.left(pos);
    const qsizetype space = cut.lastIndexOf(QLatin1Char(' '));
    if (space > cut.size() / 2)
        cut = cut.left(space);
    return cut.trimmed() + QChar(0x2026);
}

QString stripHashtags(QString s)
{
    s.remove(hashtagPattern());
    static const QRegularExpression spaces(QStringLiteral("[ \\t]{2,}"));
    s.replace(spaces, QStringLiteral(" "));
    return s.trimmed();
}

QString firstSentence(const QString& line)
{
    // Western full stops end a sentence before a space; CJK ones on their own.
    static const QRegularExpression end(QStringLiteral("[.!?…](\\s|$)|[。！？]"),
                                        QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch m = end.match(line);
    QString s = m.hasMatch() ? line.left(m.capturedStart() + 1) : line;
    s = s.trimmed();
    // A title reads better without its closing full stop.
    if ((s.endsWith(QLatin1Char('.')) && !s.endsWith(QLatin1String(".."))) || s.endsWith(QChar(0x3002)))
        s.chop(1);
    return s;
}

struct Title {
    QString text;
    int line = -1;            // the line it came from
    bool wholeLine = false;   // the title says all that line says
};

Title makeTitle(const QStringList& lines)
{
    static const QRegularExpression markup(QStringLiteral("^(#+|[-*+•]|\\d+[.)])\\s*"));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = stripHashtags(lines[i]);
        line.remove(markup);
        line.remove(QLatin1Char('*'));
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QString sentence = firstSentence(line);
        Title t;
        t.text = shorten(sentence, kTitleLimit);
        t.line = i;
        t.wholeLine = t.text == sentence && (sentence == line || sentence + QLatin1Char('.') == line);
        if (!t.text.isEmpty() && t.text.at(0).isLower())
            t.text[0] = t.text.at(0).toUpper();
        return t;
    }
    return Title{QStringLiteral("Untitled note"), -1, false};
}

QStringList makeTags(const QString& text)
{
    QStringList tags;
    auto it = hashtagPattern().globalMatch(text);
    while (it.hasNext()) {
        const QString tag = it.next().captured(1).toLower();
        if (!tags.contains(tag))
            tags.append(tag);
        if (tags.size() == kMaxTags)
            return tags;
    }
    if (!tags.isEmpty())
        return tags;

    // No hashtags: the words the note keeps coming back to, ties broken by
    // first appearance so the same text always gives the same tags.
    static const QRegularExpression word(QStringLiteral("[\\p{L}][\\p{L}\\p{M}'’-]*"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    // Scripts written without spaces cannot be cut into words here.
    static const QRegularExpression unspaced(QStringLiteral("[\\p{Han}\\p{Hiragana}\\p{Katakana}\\p{Thai}]"),
                                             QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression url(QStringLiteral("\\b[a-z][a-z0-9+.-]*://\\S*|\\bwww\\.\\S*"),
                                        QRegularExpression::CaseInsensitiveOption);
    QString words = text;
    words.remove(url);
    QHash<QString, int> count;
    QHash<QString, int> first;
    QStringList order;
    auto wit = word.globalMatch(words);
    while (wit.hasNext()) {
        const QString w = wit.next().captured(0).toLower();
        const int length = graphemeCount(w);
        if (length < 4 || length > 30 || stopWords().contains(w) || unspaced.match(w).hasMatch())
            continue;
        if (!count.contains(w)) {
            first.insert(w, int(order.size()));
            order.append(w);
        }
        ++count[w];
    }
    std::stable_sort(order.begin(), order.end(), [&](const QString& a, const QString& b) {
        if (count[a] != count[b])
            return count[a] > count[b];
        return first[a] < first[b];
    });
    return order.mid(0, kMaxTags);
}

QString makeContent(const Title& title, const QStringList& lines)
{
    static const QRegularExpression bullet(QStringLiteral("^\\s*[*+•·]\\s+"));
    static const QRegularExpression heading(QStringLiteral("^#+\\s"));
    QStringList body;
    bool lastBlank = true;
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        // The heading already says it.
        if (i == title.line && title.wholeLine)
            continue;
        // Lines that only carry hashtags become the tags, not content.
        if (!line.trimmed().isEmpty() && stripHashtags(line).isEmpty())
            continue;
        while (!line.isEmpty() && line.back().isSpace())
            line.chop(1);
        if (line.trimmed().isEmpty()) {
            if (!lastBlank)
                body.append(QString());
            lastBlank = true;
            continue;
        }
        line.replace(bullet, QStringLiteral("- "));
        // The title is the one top-level heading; demote any in the text.
        if (heading.match(line).hasMatch() && line.startsWith(QLatin1String("# ")))
            line.prepend(QLatin1Char('#'));
        body.append(line);
        lastBlank = false;
    }
    while (!body.isEmpty() && body.last().isEmpty())
        body.removeLast();
    QString out = QStringLiteral("# ") + title.text + QStringLiteral("\n");
    if (!body.isEmpty())
        out += QStringLiteral("\n") + body.join(QLatin1Char('\n')) + QStringLiteral("\n");
    return out;
}

} // namespace

Normalized normalizeNote(const QString& text)
{
    QString clean = text;
    clean.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    clean.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    clean = clean.normalized(QString::NormalizationForm_C).trimmed();
    const QStringList lines = clean.split(QLatin1Char('\n'));

    Normalized n;
    const Title title = makeTitle(lines);
    n.title = title.text;
    n.content = makeContent(title, lines);
    n.tags = makeTags(clean);
    return n;
}

QString canonicalCardText(const QString& text)
{
    return text.normalized(QString::NormalizationForm_C).simplified().toCaseFolded();
}

} // namespace study
