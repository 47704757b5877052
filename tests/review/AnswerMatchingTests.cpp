#include "review/AnswerMatching.h"

#include <QRandomGenerator>
#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(AnswerMatching, SimilarityScoresBothWaysRound)
{
    const std::tuple<const char*, const char*, double> rows[] = {
        {"Apple", "  APPLE ", 1.0},
        {"aple", "apple", 0.8},
        {"appel", "apple", 0.6}, // swapped letters are two edits
        {"cat", "dog", 0.0},
        // Empty texts.
        {"", "", 1.0},
        {" \t ", "", 1.0},
        {"   ", "apple", 0.0},
        // The thresholds are reached exactly.
        {"abcdefghij", "abcdefghiX", 0.9},
        // Line breaks are no horizontal whitespace: they cost an edit.
        {"apple\n", "apple", 5.0 / 6.0},
        {"apple\r\n", "apple", 5.0 / 6.0}, // CR LF is one character
        {"ice cream", "icecream", 8.0 / 9.0},
        {"resume", "résumé", 4.0 / 6.0},
        // Full Unicode lower-casing.
        {"ÉCOLE", "école", 1.0},
        {"STRAßE", "straße", 1.0},
        {"İ", "i\u0307", 1.0},
        {"İx", "ix", 0.5},
        // A capital sigma ends a word as ς, inside a word it is σ.
        {"ΣΑΣ", "σας", 1.0},
        {"ΟΔΌΣ.", "οδός.", 1.0},
        {"ΑΣΑ", "ασα", 1.0},
        {"Σ", "σ", 1.0},
        {"ΣΑΣ", "σασ", 2.0 / 3.0},
        // Canonical equivalence.
        {"caf\u00E9", "cafe\u0301", 1.0},
        {"x\u00E9", "ye\u0301", 0.5},
        {"E\u0301TE\u0301", "\u00E9t\u00E9", 1.0},
        {"\u1112\u1161\u11AB", "\uD55C", 1.0}, // Hangul jamo and their syllable
        // User-perceived characters, not code points or code units.
        {"a👍🏽", "a👍", 0.5},
        {"a👍🏽", "a👍🏻", 0.5}, // two skin tones of one emoji differ
        {"🇫🇷x", "🇩🇪x", 0.5},
        {"👨‍👩‍👧x", "👨x", 0.5},
        {"a\u0301\u0302b", "ab", 0.5},
        {"日本語", "日本", 2.0 / 3.0},
        // The shared prefix and suffix far apart.
        {"aaaaaaaaaaaaaaaaaaaaxbbbbbbbbbbbbbbbbbbb", "aaaaaaaaaaaaaaaaaaaaybbbbbbbbbbbbbbbbbbb", 39.0 / 40.0},
    };
    for (const auto& [a, b, expected] : rows) {
        EXPECT_DOUBLE_EQ(similarity(a, b), expected) << a << " / " << b;
        EXPECT_DOUBLE_EQ(similarity(b, a), expected) << "not symmetric: " << a << " / " << b;
    }
}

TEST(AnswerMatching, StripPOSRemovesOneTrailingMarker)
{
    for (const char* marker : {"n.", "V", "idiom", "adj.", "adv", "prep.", "conj.", "phr.", "ADJ.", "IdIoM"})
        EXPECT_EQ(stripPOS(QStringLiteral("x (%1)").arg(QLatin1String(marker))), "x") << marker;
    const std::pair<const char*, const char*> rows[] = {
        {"(n.) apple", "(n.) apple"},
        {"apple (n.) (v.)", "apple (n.)"},
        {"apple(n.)", "apple"},
        {"apple (n.)  \t", "apple"},
        {"apple (n.)\n", "apple"},
        {"apple\u00A0(n.)", "apple"},
        {"(n.)", ""},
        {"apple (x.)", "apple (x.)"},
        {"apple (noun)", "apple (noun)"},
        {"apple (n..)", "apple (n..)"},
        {"apple (n.) pie", "apple (n.) pie"},
        {"  apple \u00A0", "apple"},
        {"apple\n", "apple\n"}, // a line feed alone is not trimmed
        {"", ""},
    };
    for (const auto& [input, expected] : rows)
        EXPECT_EQ(stripPOS(input).toStdString(), expected) << input;
}

TEST(AnswerMatching, SplitIntoPartsListsAlternativeParts)
{
    const std::pair<const char*, const char*> rows[] = {
        // input, the parts joined by "|"
        {"(n.) apple, (v.) to fall", "(n.) apple|(v.) to fall|apple|to fall"},
        {"apple", ""},
        {"(n.) apple", "apple"},
        {"big; large, big", "big|large"},
        {"", ""},
        {"a,,b", "a|b"},
        {"a\u00A0,\u3000b\t", "a|b"},
        {"x\n, y", "x\n|y"},
        {" (n.) apple", ""},
        {"(idiom) break a leg", ""}, // idiom is no leading marker
        {"(N) Apple", "Apple"},
        {"Big, big", "Big|big"},
        {"caf\u00E9, cafe\u0301", "caf\u00E9"},
        {"(v.) to fall;", "(v.) to fall|to fall"},
        {"(n.)", ""},
        {"(n.)apple", "apple"},
        {"apple, (n.) apple", "apple|(n.) apple"},
        {"to fall, to drop (v.)", "to fall|to drop (v.)"},
        {"(maybe) yes", ""},
    };
    for (const auto& [input, expected] : rows) {
        const QStringList parts = splitIntoParts(input);
        EXPECT_EQ(parts.join(u'|').toStdString(), expected) << input;
        EXPECT_EQ(parts.size(), *expected ? QString(expected).count(u'|') + 1 : 0) << input;
    }
}

TEST(AnswerMatching, TrimsHorizontalWhitespaceOnly)
{
    using AnswerMatching::trimHorizontal;
    EXPECT_EQ(trimHorizontal("\t \u00A0\u2000\u202F\u205F\u3000x y\u1680 "), "x y");
    EXPECT_EQ(trimHorizontal("\nx\r\n"), "\nx\r\n");
    EXPECT_EQ(trimHorizontal("\u2028x\u2029"), "\u2028x\u2029");
    EXPECT_EQ(trimHorizontal("\u200Bx"), "\u200Bx"); // zero-width space is Cf, not Zs
    EXPECT_EQ(trimHorizontal(" \t "), "");
}

// The score straight from its definition: the full distance table over the
// grapheme clusters of the normalised texts.
double referenceSimilarity(const QString& a, const QString& b)
{
    auto clusters = [](const QString& text) {
        const QString t = AnswerMatching::trimHorizontal(text.toLower()).normalized(QString::NormalizationForm_C);
        QStringList out;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, t);
        qsizetype start = 0;
        for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
            if (end > start)
                out.append(t.mid(start, end - start));
            start = end;
        }
        return out;
    };
    QStringList x = clusters(a), y = clusters(b);
    if (x == y)
        return 1.0;
    if (x.size() > y.size())
        std::swap(x, y); // x shorter, y longer
    if (x.isEmpty())
        return 0.0;
    std::vector<std::vector<qsizetype>> d(size_t(x.size() + 1), std::vector<qsizetype>(size_t(y.size() + 1)));
    for (qsizetype j = 0; j <= y.size(); ++j)
        d[0][size_t(j)] = j;
    for (qsizetype i = 1; i <= x.size(); ++i) {
        d[size_t(i)][0] = i;
        for (qsizetype j = 1; j <= y.size(); ++j) {
            const qsizetype cost = x[i - 1] == y[j - 1] ? 0 : 1;
            d[size_t(i)][size_t(j)] = std::min({d[size_t(i - 1)][size_t(j - 1)] + cost, d[size_t(i)][size_t(j - 1)] + 1,
                                                d[size_t(i - 1)][size_t(j)] + 1});
        }
    }
    const auto count = double(y.size());
    return (count - double(d[size_t(x.size())][size_t(y.size())])) / count;
}

TEST(AnswerMatching, SimilarityAgreesWithTheFullDistanceTable)
{
    // Lengths cross the 64- and 128-character word boundaries of the fast
    // distance computation; the alphabet mixes single and multi-code-point
    // characters, and repeats letters so that many cells tie.
    const QStringList alphabet = {"a", "b", "c", "A", "\u00E9", "e\u0301", "👍🏽", "🇫🇷", " ", "日", "\n"};
    QRandomGenerator random(20261206);
    auto text = [&](int length) {
        QString t;
        for (int i = 0; i < length; ++i)
            t += alphabet.at(int(random.bounded(quint32(alphabet.size()))));
        return t;
    };
    const int lengths[] = {0, 1, 2, 5, 63, 64, 65, 100, 127, 128, 129, 200};
    for (int la : lengths) {
        for (int lb : lengths) {
            for (int round = 0; round < 3; ++round) {
                const QString a = text(la);
                // Related texts as well as unrelated ones.
                QString b = round == 0 ? text(lb) : a.left(lb) + text(std::max(0, lb - int(a.size())));
                if (round == 2 && !b.isEmpty())
                    b.insert(int(random.bounded(quint32(b.size()))), "x");
                ASSERT_DOUBLE_EQ(similarity(a, b), referenceSimilarity(a, b))
                    << la << " " << lb << " " << round << "\n" << a.toStdString() << "\n" << b.toStdString();
            }
        }
    }
}

} // namespace
