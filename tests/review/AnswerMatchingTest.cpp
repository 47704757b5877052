#include "AnswerMatching.h"

#include <QRandomGenerator>
#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace {

QString u(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

std::string show(const QString& text)
{
    return text.toStdString();
}

struct ScoreCase {
    const char* name;
    QString a;
    QString b;
    double expected;
};

std::ostream& operator<<(std::ostream& out, const ScoreCase& c)
{
    return out << c.name;
}

class SimilarityTable : public testing::TestWithParam<ScoreCase> {};

TEST_P(SimilarityTable, ScoresBothWaysRound)
{
    const ScoreCase& c = GetParam();
    EXPECT_DOUBLE_EQ(similarity(c.a, c.b), c.expected) << show(c.a) << " / " << show(c.b);
    EXPECT_DOUBLE_EQ(similarity(c.b, c.a), c.expected) << "not symmetric";
}

INSTANTIATE_TEST_SUITE_P(
    Matching, SimilarityTable,
    testing::Values(
        // The documented examples.
        ScoreCase{"case_and_spaces_ignored", u("Apple"), u("  APPLE "), 1.0},
        ScoreCase{"one_missing_letter", u("aple"), u("apple"), 0.8},
        ScoreCase{"swapped_letters_are_two_edits", u("appel"), u("apple"), 0.6},
        ScoreCase{"colour_color", u("colour"), u("color"), 5.0 / 6.0},
        ScoreCase{"nothing_in_common", u("cat"), u("dog"), 0.0},
        // Empty texts.
        ScoreCase{"two_empty_texts", u(""), u(""), 1.0},
        ScoreCase{"empty_after_trimming", u(" \t "), u(""), 1.0},
        ScoreCase{"one_empty", u(""), u("a"), 0.0},
        ScoreCase{"one_blank", u("   "), u("apple"), 0.0},
        // The boundaries land exactly on the thresholds.
        ScoreCase{"ten_characters_one_wrong", u("abcdefghij"), u("abcdefghiX"), 0.9},
        ScoreCase{"ten_characters_two_wrong", u("abcdefghij"), u("abcdefghXY"), 0.8},
        // Horizontal whitespace only is trimmed.
        ScoreCase{"tab_trimmed", u("\tapple\t"), u("apple"), 1.0},
        ScoreCase{"no_break_space_trimmed", u("\u00A0apple\u00A0"), u("apple"), 1.0},
        ScoreCase{"ideographic_space_trimmed", u("\u3000apple\u3000"), u("apple"), 1.0},
        ScoreCase{"thin_and_em_space_trimmed", u("\u2009apple\u2003"), u("apple"), 1.0},
        ScoreCase{"trailing_line_feed_costs_an_edit", u("apple\n"), u("apple"), 5.0 / 6.0},
        ScoreCase{"leading_line_feed_costs_an_edit", u("\napple"), u("apple"), 5.0 / 6.0},
        ScoreCase{"carriage_return_line_feed_is_one_character", u("apple\r\n"), u("apple"), 5.0 / 6.0},
        ScoreCase{"inner_space_kept", u("ice cream"), u("icecream"), 8.0 / 9.0},
        ScoreCase{"inner_double_space_kept", u("ice  cream"), u("ice cream"), 9.0 / 10.0},
        ScoreCase{"diacritics_kept", u("resume"), u("résumé"), 4.0 / 6.0},
        ScoreCase{"punctuation_kept", u("hello!"), u("hello"), 5.0 / 6.0},
        // Unicode lower-casing, full mapping.
        ScoreCase{"accented_capitals", u("ÉCOLE"), u("école"), 1.0},
        ScoreCase{"sharp_s_kept", u("STRAßE"), u("straße"), 1.0},
        ScoreCase{"dotted_capital_i_full_mapping", u("İ"), u("i\u0307"), 1.0},
        ScoreCase{"dotted_capital_i_is_not_plain_i", u("İx"), u("ix"), 0.5},
        ScoreCase{"cyrillic", u("МОСКВА"), u("москва"), 1.0},
        // Canonical equivalence.
        ScoreCase{"precomposed_equals_decomposed", u("caf\u00E9"), u("cafe\u0301"), 1.0},
        ScoreCase{"decomposed_character_matches_precomposed", u("x\u00E9"), u("ye\u0301"), 0.5},
        ScoreCase{"decomposed_capital_lowercased", u("E\u0301TE\u0301"), u("\u00E9t\u00E9"), 1.0},
        ScoreCase{"hangul_jamo_equal_syllable", u("\u1112\u1161\u11AB"), u("\uD55C"), 1.0},
        // User-perceived characters, not code points or code units.
        ScoreCase{"emoji_with_skin_tone_is_one_character", u("a👍🏽"), u("a👍"), 0.5},
        ScoreCase{"flags_are_one_character_each", u("🇫🇷x"), u("🇩🇪x"), 0.5},
        ScoreCase{"family_emoji_is_one_character", u("👨‍👩‍👧x"), u("👨x"), 0.5},
        ScoreCase{"combining_marks_stay_with_their_letter", u("a\u0301\u0302b"), u("ab"), 0.5},
        ScoreCase{"astral_letters", u("𝒜𝒞"), u("𝒜"), 0.5},
        ScoreCase{"cjk", u("日本語"), u("日本"), 2.0 / 3.0},
        // Longer texts with the shared prefix and suffix far apart.
        ScoreCase{"one_edit_in_the_middle_of_forty", QString(20, u'a') + u("x") + QString(19, u'b'),
                  QString(20, u'a') + u("y") + QString(19, u'b'), 39.0 / 40.0},
        ScoreCase{"repeated_letters", u("aaaa"), u("aa"), 0.5},
        ScoreCase{"kitten_sitting", u("kitten"), u("sitting"), 4.0 / 7.0}));

struct TextCase {
    const char* name;
    QString input;
    QString expected;
};

std::ostream& operator<<(std::ostream& out, const TextCase& c)
{
    return out << c.name;
}

class StripPOSTable : public testing::TestWithParam<TextCase> {};

TEST_P(StripPOSTable, RemovesOneTrailingMarker)
{
    const TextCase& c = GetParam();
    EXPECT_EQ(show(stripPOS(c.input)), show(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Matching, StripPOSTable,
    testing::Values(
        TextCase{"noun", u("apple (n.)"), u("apple")},
        TextCase{"capital_verb_without_dot", u("to run (V)"), u("to run")},
        TextCase{"idiom", u("break a leg (idiom)"), u("break a leg")},
        TextCase{"leading_marker_kept", u("(n.) apple"), u("(n.) apple")},
        TextCase{"only_the_last_of_two", u("apple (n.) (v.)"), u("apple (n.)")},
        TextCase{"every_marker_adj", u("big (adj.)"), u("big")},
        TextCase{"every_marker_adv", u("fast (adv)"), u("fast")},
        TextCase{"every_marker_prep", u("under (prep.)"), u("under")},
        TextCase{"every_marker_conj", u("and (conj.)"), u("and")},
        TextCase{"every_marker_phr", u("give up (phr.)"), u("give up")},
        TextCase{"upper_case_marker", u("apple (ADJ.)"), u("apple")},
        TextCase{"mixed_case_idiom", u("x (IdIoM)"), u("x")},
        TextCase{"no_space_before", u("apple(n.)"), u("apple")},
        TextCase{"whitespace_after_marker", u("apple (n.)  \t"), u("apple")},
        TextCase{"line_feed_after_marker", u("apple (n.)\n"), u("apple")},
        TextCase{"no_break_space_before", u("apple\u00A0(n.)"), u("apple")},
        TextCase{"ideographic_space_before", u("apple\u3000(v.)"), u("apple")},
        TextCase{"only_a_marker", u("(n.)"), u("")},
        TextCase{"unknown_marker", u("apple (x.)"), u("apple (x.)")},
        TextCase{"word_noun_is_no_marker", u("apple (noun)"), u("apple (noun)")},
        TextCase{"two_dots", u("apple (n..)"), u("apple (n..)")},
        TextCase{"marker_not_at_end", u("apple (n.) pie"), u("apple (n.) pie")},
        TextCase{"inner_marker_kept", u("apple (n.), pear"), u("apple (n.), pear")},
        TextCase{"plain_text_trimmed", u("  apple \u00A0"), u("apple")},
        TextCase{"line_feed_not_trimmed", u("apple\n"), u("apple\n")},
        TextCase{"empty", u(""), u("")}));

struct PartsCase {
    const char* name;
    QString input;
    QStringList expected;
};

std::ostream& operator<<(std::ostream& out, const PartsCase& c)
{
    return out << c.name;
}

class SplitIntoPartsTable : public testing::TestWithParam<PartsCase> {};

TEST_P(SplitIntoPartsTable, ListsAlternativeParts)
{
    const PartsCase& c = GetParam();
    EXPECT_EQ(splitIntoParts(c.input).join(u'|').toStdString(), c.expected.join(u'|').toStdString());
    EXPECT_EQ(splitIntoParts(c.input).size(), c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Matching, SplitIntoPartsTable,
    testing::Values(
        PartsCase{"marked_parts_then_cleaned", u("(n.) apple, (v.) to fall"),
                  {u("(n.) apple"), u("(v.) to fall"), u("apple"), u("to fall")}},
        PartsCase{"single_word", u("apple"), {}},
        PartsCase{"single_marked_word", u("(n.) apple"), {u("apple")}},
        PartsCase{"duplicates_removed", u("big; large, big"), {u("big"), u("large")}},
        PartsCase{"only_separators", u(",;"), {}},
        PartsCase{"empty", u(""), {}},
        PartsCase{"empty_pieces_dropped", u("a,,b"), {u("a"), u("b")}},
        PartsCase{"pieces_trimmed_of_unicode_spaces", u("a\u00A0,\u3000b\t"), {u("a"), u("b")}},
        PartsCase{"line_feed_not_trimmed", u("x\n, y"), {u("x\n"), u("y")}},
        PartsCase{"leading_space_before_parenthesis", u(" (n.) apple"), {}},
        PartsCase{"idiom_is_not_a_leading_marker", u("(idiom) break a leg"), {}},
        PartsCase{"marker_without_dot_any_case", u("(N) Apple"), {u("Apple")}},
        PartsCase{"dedup_is_case_sensitive", u("Big, big"), {u("Big"), u("big")}},
        PartsCase{"dedup_is_canonical", u("caf\u00E9, cafe\u0301"), {u("caf\u00E9")}},
        PartsCase{"one_marked_piece_and_trailing_separator", u("(v.) to fall;"), {u("(v.) to fall"), u("to fall")}},
        PartsCase{"marker_alone", u("(n.)"), {}},
        PartsCase{"marker_glued_to_word", u("(n.)apple"), {u("apple")}},
        PartsCase{"cleaned_duplicate_of_earlier_piece", u("apple, (n.) apple"), {u("apple"), u("(n.) apple")}},
        PartsCase{"stripped_trailing_marker_stays", u("to fall, to drop (v.)"), {u("to fall"), u("to drop (v.)")}},
        PartsCase{"parenthesis_without_separator", u("(maybe) yes"), {}},
        PartsCase{"three_parts", u("one; two; three"), {u("one"), u("two"), u("three")}}));

TEST(Matching, ClassifiesWithInclusiveThresholds)
{
    using AnswerMatching::classify;
    using AnswerMatching::qualityFor;
    struct Row {
        double score;
        TypingResult result;
        int quality;
    };
    for (const Row& row : {Row{1.0, TypingResult::correct, 4}, Row{0.9, TypingResult::correct, 4},
                           Row{9.0 / 10.0, TypingResult::correct, 4}, Row{0.8999999, TypingResult::close, 3},
                           Row{0.6, TypingResult::close, 3}, Row{3.0 / 5.0, TypingResult::close, 3},
                           Row{0.5999999, TypingResult::wrong, 1}, Row{0.0, TypingResult::wrong, 1}}) {
        EXPECT_EQ(classify(row.score), row.result) << row.score;
        EXPECT_EQ(qualityFor(classify(row.score)), row.quality) << row.score;
    }
}

TEST(Matching, TrimsHorizontalWhitespaceOnly)
{
    using AnswerMatching::trimHorizontal;
    EXPECT_EQ(show(trimHorizontal(u("\t \u00A0\u2000\u202F\u205F\u3000x y\u1680 "))), "x y");
    EXPECT_EQ(show(trimHorizontal(u("\nx\r\n"))), "\nx\r\n");
    EXPECT_EQ(show(trimHorizontal(u("\u2028x\u2029"))), show(u("\u2028x\u2029")));
    EXPECT_EQ(show(trimHorizontal(u("\u200Bx"))), show(u("\u200Bx"))); // zero-width space is Cf, not Zs
    EXPECT_EQ(show(trimHorizontal(u(" \t "))), "");
}

TEST(Matching, CountsUserPerceivedCharacters)
{
    using AnswerMatching::characterCount;
    EXPECT_EQ(characterCount(u("apple")), 5);
    EXPECT_EQ(characterCount(u("👍🏽")), 1);
    EXPECT_EQ(characterCount(u("🇫🇷🇩🇪")), 2);
    EXPECT_EQ(characterCount(u("e\u0301")), 1);
    EXPECT_EQ(characterCount(u("a\r\nb")), 3);
    EXPECT_EQ(characterCount(u("")), 0);
}

// The score straight from its definition: the full distance table over the
// grapheme clusters of the normalised texts.
double referenceSimilarity(const QString& a, const QString& b)
{
    auto normalise = [](const QString& t) {
        return AnswerMatching::trimHorizontal(t.toLower()).normalized(QString::NormalizationForm_C);
    };
    auto clusters = [](const QString& t) {
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
    const QString na = normalise(a), nb = normalise(b);
    if (na == nb)
        return 1.0;
    QStringList x = clusters(na), y = clusters(nb);
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

TEST(Matching, SimilarityAgreesWithTheFullDistanceTable)
{
    // Lengths cross the 64- and 128-character word boundaries of the fast
    // distance computation; the alphabet mixes single and multi-code-point
    // characters, and repeats letters so that many cells tie.
    const QStringList alphabet = {u("a"), u("b"), u("c"), u("A"), u("\u00E9"), u("e\u0301"),
                                  u("👍🏽"), u("🇫🇷"), u(" "), u("日"), u("\n")};
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
                    b.insert(int(random.bounded(quint32(b.size()))), u("x"));
                ASSERT_DOUBLE_EQ(similarity(a, b), referenceSimilarity(a, b))
                    << la << " " << lb << " " << round << "\n" << show(a) << "\n" << show(b);
            }
        }
    }
}

} // namespace
