#include "AnswerMatching.h"

#include <QHash>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <vector>

namespace {

bool isHorizontalSpace(QChar c)
{
    // Every Zs character lies in the BMP, so code units are enough here.
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString nfc(const QString& text)
{
    return text.normalized(QString::NormalizationForm_C);
}

// Below U+0300 nothing extends a cluster, so every code unit except CR (which
// pairs with a following LF) is a cluster of its own.
bool isTriviallySegmented(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x300 || c == u'\r')
            return false;
    }
    return true;
}

// Maps each grapheme cluster to an integer so the distance table compares
// integers; clusters longer than one code point get ids above the code-point
// range, shared between both texts through `interned`.
std::vector<char32_t> clusterKeys(const QString& text, QHash<QString, char32_t>& interned)
{
    std::vector<char32_t> keys;
    keys.reserve(size_t(text.size()));
    if (isTriviallySegmented(text)) {
        for (QChar c : text)
            keys.push_back(c.unicode());
        return keys;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        const qsizetype length = end - start;
        if (length == 1) {
            keys.push_back(text.at(start).unicode());
        } else if (length == 2 && text.at(start).isHighSurrogate() && text.at(start + 1).isLowSurrogate()) {
            keys.push_back(QChar::surrogateToUcs4(text.at(start), text.at(start + 1)));
        } else if (length > 0) {
            const QString cluster = text.mid(start, length);
            auto it = interned.constFind(cluster);
            if (it == interned.constEnd())
                it = interned.insert(cluster, char32_t(0x110000 + interned.size()));
            keys.push_back(it.value());
        }
        start = end;
    }
    return keys;
}

// Levenshtein distance with unit costs, kept to two rows of the table. A
// shared prefix or suffix never changes the distance, so it is skipped.
qsizetype levenshtein(const std::vector<char32_t>& shorter, const std::vector<char32_t>& longer)
{
    auto sBegin = shorter.begin(), sEnd = shorter.end();
    auto lBegin = longer.begin(), lEnd = longer.end();
    while (sBegin != sEnd && *sBegin == *lBegin) {
        ++sBegin;
        ++lBegin;
    }
    while (sBegin != sEnd && *(sEnd - 1) == *(lEnd - 1)) {
        --sEnd;
        --lEnd;
    }
    const size_t rows = size_t(sEnd - sBegin);
    const size_t cols = size_t(lEnd - lBegin);
    if (rows == 0)
        return qsizetype(cols);

    std::vector<qsizetype> previous(cols + 1), current(cols + 1);
    for (size_t j = 0; j <= cols; ++j)
        previous[j] = qsizetype(j);
    for (size_t i = 1; i <= rows; ++i) {
        current[0] = qsizetype(i);
        const char32_t s = sBegin[i - 1];
        for (size_t j = 1; j <= cols; ++j) {
            const qsizetype cost = s == lBegin[j - 1] ? 0 : 1;
            current[j] = std::min({previous[j - 1] + cost, current[j - 1] + 1, previous[j] + 1});
        }
        std::swap(previous, current);
    }
    return previous[cols];
}

QString normalizedForScoring(const QString& text)
{
    return nfc(AnswerMatching::trimHorizontal(text.toLower()));
}

} // namespace

namespace AnswerMatching {

QString trimHorizontal(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isHorizontalSpace(text.at(begin)))
        ++begin;
    while (end > begin && isHorizontalSpace(text.at(end - 1)))
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.mid(begin, end - begin);
}

bool canonicallyEqual(const QString& a, const QString& b)
{
    return a == b || nfc(a) == nfc(b);
}

qsizetype characterCount(const QString& text)
{
    QHash<QString, char32_t> interned;
    return qsizetype(clusterKeys(nfc(text), interned).size());
}

TypingResult classify(double score)
{
    if (score >= correctThreshold)
        return TypingResult::correct;
    if (score >= closeThreshold)
        return TypingResult::close;
    return TypingResult::wrong;
}

int qualityFor(TypingResult result)
{
    switch (result) {
    case TypingResult::correct:
        return 4;
    case TypingResult::close:
        return 3;
    case TypingResult::wrong:
        break;
    }
    return 1;
}

} // namespace AnswerMatching

double similarity(const QString& a, const QString& b)
{
    const QString left = normalizedForScoring(a);
    const QString right = normalizedForScoring(b);
    if (left == right)
        return 1.0;

    QHash<QString, char32_t> interned;
    std::vector<char32_t> first = clusterKeys(left, interned);
    std::vector<char32_t> second = clusterKeys(right, interned);
    const auto& longer = first.size() >= second.size() ? first : second;
    const auto& shorter = first.size() >= second.size() ? second : first;
    if (shorter.empty())
        return 0.0;
    const auto count = double(longer.size());
    const auto distance = double(levenshtein(shorter, longer));
    return (count - distance) / count;
}

QString stripPOS(const QString& text)
{
    static const QRegularExpression marker(
        QStringLiteral(R"(\s*\((?:n|v|adj|adv|prep|conj|phr|idiom)\.?\)\s*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    QString result = text;
    result.replace(marker, QString());
    return AnswerMatching::trimHorizontal(result);
}

QStringList splitIntoParts(const QString& text)
{
    using AnswerMatching::trimHorizontal;
    // Unlike stripPOS, idioms are not recognised as a leading marker.
    static const QRegularExpression leadingMarker(
        QStringLiteral(R"(^\((?:n|v|adj|adv|prep|conj|phr)\.?\)\s*)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);

    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text.at(i) == u',' || text.at(i) == u';') {
            const QString piece = trimHorizontal(text.mid(start, i - start));
            if (!piece.isEmpty())
                pieces.append(piece);
            start = i + 1;
        }
    }
    if (pieces.size() < 2 && !text.startsWith(u'('))
        return {};

    QStringList candidates = pieces;
    for (const QString& piece : std::as_const(pieces)) {
        QString cleaned = piece;
        cleaned.replace(leadingMarker, QString());
        cleaned = trimHorizontal(cleaned);
        if (!cleaned.isEmpty())
            candidates.append(cleaned);
    }

    const QString whole = nfc(trimHorizontal(text));
    QStringList parts;
    QStringList seen;
    for (const QString& candidate : std::as_const(candidates)) {
        const QString key = nfc(candidate);
        if (seen.contains(key))
            continue;
        seen.append(key);
        if (key != whole)
            parts.append(candidate);
    }
    return parts;
}
