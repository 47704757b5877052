#include "review/AnswerMatching.h"

#include <QHash>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <unordered_map>
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
// range, shared between both texts through `interned` (which refers into
// the texts, so they must outlive it).
std::vector<char32_t> clusterKeys(const QString& text, QHash<QStringView, char32_t>& interned)
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
            const QStringView cluster = QStringView(text).mid(start, length);
            auto it = interned.constFind(cluster);
            if (it == interned.constEnd())
                it = interned.insert(cluster, char32_t(0x110000 + interned.size()));
            keys.push_back(it.value());
        }
        start = end;
    }
    return keys;
}

// Levenshtein distance with unit costs (substitution free for equal
// characters). Instead of filling the (rows + 1) x (cols + 1) table cell by
// cell, each column of it is held as bit vectors of the +1/-1 steps between
// vertically adjacent cells, 64 rows to a machine word, and advanced one
// character of the longer text at a time (Myers' bit-parallel method in its
// multi-word form). The bottom-right cell, and so the result, is the same as
// the table's; memory is linear. A shared prefix or suffix never changes the
// distance, so it is skipped first.
qsizetype levenshtein(const std::vector<char32_t>& shorter, const std::vector<char32_t>& longer)
{
    const char32_t* s = shorter.data();
    const char32_t* l = longer.data();
    size_t rows = shorter.size();
    size_t cols = longer.size();
    while (rows > 0 && *s == *l) {
        ++s;
        ++l;
        --rows;
        --cols;
    }
    while (rows > 0 && s[rows - 1] == l[cols - 1]) {
        --rows;
        --cols;
    }
    if (rows == 0)
        return qsizetype(cols);

    // For each distinct character of the shorter text, the rows it occupies.
    constexpr uint32_t none = UINT32_MAX;
    const size_t blocks = (rows + 63) / 64;
    std::vector<uint64_t> rowsOf;
    uint32_t direct[128];
    std::fill(std::begin(direct), std::end(direct), none);
    std::unordered_map<char32_t, uint32_t> others;
    auto symbolOf = [&](char32_t c, bool add) -> uint32_t {
        uint32_t* slot = nullptr;
        if (c < 128) {
            slot = &direct[c];
        } else {
            auto it = others.find(c);
            if (it != others.end())
                return it->second;
            if (!add)
                return none;
            slot = &others[c];
            *slot = none;
        }
        if (*slot == none && add) {
            *slot = uint32_t(rowsOf.size() / blocks);
            rowsOf.resize(rowsOf.size() + blocks, 0);
        }
        return *slot;
    };
    for (size_t i = 0; i < rows; ++i) {
        const uint32_t symbol = symbolOf(s[i], true);
        rowsOf[symbol * blocks + i / 64] |= uint64_t(1) << (i % 64);
    }

    // Column 0 of the table counts up by one per row: all steps +1.
    std::vector<uint64_t> plus(blocks, ~uint64_t(0));
    std::vector<uint64_t> minus(blocks, 0);
    const uint64_t topBit = uint64_t(1) << 63;
    const uint64_t lastRowBit = uint64_t(1) << ((rows - 1) % 64);
    size_t distance = rows;
    for (size_t j = 0; j < cols; ++j) {
        const uint32_t symbol = symbolOf(l[j], false);
        const uint64_t* equal = symbol == none ? nullptr : &rowsOf[symbol * blocks];
        int carry = 1; // row 0 of the table also counts up by one per column
        for (size_t b = 0; b < blocks; ++b) {
            const uint64_t pv = plus[b];
            const uint64_t mv = minus[b];
            uint64_t eq = equal ? equal[b] : 0;
            const uint64_t xv = eq | mv;
            if (carry < 0)
                eq |= 1;
            const uint64_t xh = (((eq & pv) + pv) ^ pv) | eq;
            uint64_t ph = mv | ~(xh | pv);
            uint64_t mh = pv & xh;
            const uint64_t outBit = b + 1 == blocks ? lastRowBit : topBit;
            const int out = (ph & outBit) ? 1 : (mh & outBit) ? -1 : 0;
            ph <<= 1;
            mh <<= 1;
            if (carry < 0)
                mh |= 1;
            else if (carry > 0)
                ph |= 1;
            plus[b] = mh | ~(xv | ph);
            minus[b] = ph & xv;
            carry = out;
        }
        distance = size_t(qsizetype(distance) + carry);
    }
    return qsizetype(distance);
}

// Between a cased letter and the sigma, or after it, these may stand without
// breaking the word: accents and other marks, format characters, modifier
// letters and symbols, and the apostrophes and points inside words.
bool caseIgnorable(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
    case QChar::Letter_Modifier:
    case QChar::Symbol_Modifier:
        return true;
    default:
        break;
    }
    static constexpr char32_t inWord[] = {u'\'', u'.', u':', 0x00B7, 0x0387, 0x05F4, 0x2018, 0x2019,
                                          0x2024, 0x2027, 0xFE13, 0xFE52, 0xFE55, 0xFF07, 0xFF0E, 0xFF1A};
    return std::find(std::begin(inWord), std::end(inWord), c) != std::end(inWord);
}

bool cased(char32_t c)
{
    return QChar::isLower(c) || QChar::isUpper(c) || QChar::isTitleCase(c);
}

// Full Unicode lower-casing. QString::toLower maps every capital sigma to σ;
// the full mapping makes it the final ς at the end of a word: after a cased
// letter and before none, case-ignorable characters skipped on both sides.
QString lowerCased(const QString& text)
{
    constexpr char32_t capitalSigma = 0x03A3;
    const QList<uint> points = text.toUcs4();
    auto casedAt = [&](qsizetype i, int step) {
        for (; i >= 0 && i < points.size(); i += step)
            if (!caseIgnorable(points[i]))
                return cased(points[i]);
        return false;
    };
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < points.size(); ++i) {
        if (points[i] == capitalSigma && casedAt(i - 1, -1) && !casedAt(i + 1, 1))
            out += QChar(0x03C2);
        else
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&points[i]), 1).toLower();
    }
    return out;
}

QString normalizedForScoring(const QString& text)
{
    return nfc(AnswerMatching::trimHorizontal(lowerCased(text)));
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
    const QString normalized = nfc(text);
    QHash<QStringView, char32_t> interned;
    return qsizetype(clusterKeys(normalized, interned).size());
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

    QHash<QStringView, char32_t> interned;
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
