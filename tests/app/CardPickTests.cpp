// The decisions of a card session without widgets: the first line of a text,
// the rank-weighted pick, the question kind and its options, the delay draw,
// and the session's phases. Randomness comes from seeded or scripted sources.
#include "app/CardPick.h"
#include "app/RandomSource.h"
#include "TestRandom.h"

#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>

namespace {

TroubleCard card(std::int64_t id, const QString& front, const QString& back)
{
    TroubleCard c;
    c.id = id;
    c.front = front;
    c.back = back;
    return c;
}

QList<TroubleCard> cards(int n)
{
    QList<TroubleCard> out;
    for (int i = 1; i <= n; ++i)
        out.append(card(i, QStringLiteral("front %1").arg(i), QStringLiteral("back %1\nmore").arg(i)));
    return out;
}

} // namespace

TEST(FirstLine, Table)
{
    const std::pair<const char*, const char*> rows[] = {
        {"first\nsecond", "first"}, {"\n\nthird", "third"}, {"", ""}, {"\n\n", "\n\n"}, {"\n", "\n"},
        {"only", "only"}, {"trailing\n", "trailing"},
        {"a\r\nb", "a\r\nb"}, // CR LF is one character and does not split
        {"\r\nx\ny", "\r\nx"}, {"  spaced  \nnext", "  spaced  "}, {"\n\n\nlast\n\n", "last"},
        {"e\u0301t\u00e9\n2", "e\u0301t\u00e9"}, {"\n🙂 smile\nsecond", "🙂 smile"},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(CardPick::firstLine(QString::fromUtf8(text)), QString::fromUtf8(expected)) << "text: " << text;
}

TEST(PickIndex, ScriptedDraws)
{
    // {cards, bits drawn, card picked}
    const std::tuple<int, std::uint64_t, int> rows[] = {
        {10, 0, 0},                     // r = 0: the first card
        {10, ~std::uint64_t(0), 9},     // the largest draw lands in the last card's slot
        {1, 12345, 0},
        {3, std::uint64_t(1) << 63, 1}, // r = 3 exactly: the end of the first slot belongs to the second
    };
    for (const auto& [count, bits, expected] : rows) {
        ScriptedSource rs {bits};
        EXPECT_EQ(CardPick::pickIndex(count, rs), expected) << count << " cards, bits " << bits;
    }
}

// Every random decision against the shares it must have, from seeded draws.
TEST(Randomness, SharesFollowTheirWeights)
{
    using Counts = std::vector<int>;
    const QStringList orders {"abc", "acb", "bac", "bca", "cab", "cba"};
    const auto list = cards(10);
    // One quiz on card 1; it counts the position of the correct option (0-3)
    // and the cards the wrong ones came from (4-12).
    int checked = 0;
    auto quiz = [&](RandomSource& rs, Counts& n) {
        const auto q = CardPick::buildQuiz(list[0], CardPick::otherCards(list, 1), rs);
        ASSERT_EQ(q.options.size(), 4);
        ASSERT_EQ(q.optionCardIds.size(), 4);
        if (checked++ < 500) { // the first quizzes in detail
            EXPECT_EQ(std::make_pair(q.question, q.correctAnswer), std::make_pair(QStringLiteral("front 1"), QStringLiteral("back 1")));
            EXPECT_EQ(q.options.count(QStringLiteral("back 1")), 1);
            for (int k = 0; k < 4; ++k) // each option is the first line of its source's back
                EXPECT_EQ(q.options[k], QStringLiteral("back %1").arg(q.optionCardIds[k]));
            EXPECT_EQ(QSet<std::int64_t>(q.optionCardIds.begin(), q.optionCardIds.end()).size(), 4);
        }
        for (int k = 0; k < 4; ++k)
            ++n.at(q.optionCardIds[k] == 1 ? k : 4 + size_t(q.optionCardIds[k]) - 2);
    };
    auto isQuiz = [](CardPick::QuestionKind k) { return k == CardPick::QuestionKind::multipleChoice; };
    const std::vector<double> rank {10 / 55., 9 / 55., 8 / 55., 7 / 55., 6 / 55., 5 / 55., 4 / 55., 3 / 55., 2 / 55., 1 / 55.};
    std::vector<double> quizShares(4, 0.25 / 4);
    quizShares.resize(13, 1.0 / 3.0 / 4);
    // {what, seed, runs, counting the outcomes of one run, share of each outcome, tolerance}
    const std::tuple<const char*, int, int, std::function<void(RandomSource&, Counts&)>, std::vector<double>, double> rows[] = {
        {"rank-weighted pick", 42, 110000, [](RandomSource& rs, Counts& n) { ++n.at(CardPick::pickIndex(10, rs)); }, rank, 0.006},
        {"coin with three others", 7, 20000, [&](RandomSource& rs, Counts& n) { ++n[isQuiz(CardPick::chooseKind(3, rs))]; }, {0.5, 0.5}, 0.02},
        {"kind planned for four cards", 11, 4000, [&](RandomSource& rs, Counts& n) { ++n[isQuiz(CardPick::plan(cards(4), rs)->kind)]; }, {0.5, 0.5}, 0.04},
        {"shuffle order", 13, 60000, [&](RandomSource& rs, Counts& n) {
             QList<QString> l {"a", "b", "c"};
             CardPick::shuffle(l, rs);
             ++n.at(orders.indexOf(l.join(QString())));
         }, std::vector<double>(6, 1.0 / 6.0), 0.01},
        // Each position holds the correct option in a quarter of the quizzes,
        // each other card is in a third of them (4 outcomes per quiz).
        {"quiz options", 9, 9000, quiz, quizShares, 0.025 / 4},
    };
    for (const auto& [what, seed, runs, draw, shares, tolerance] : rows) {
        SeededSource rs(seed);
        Counts counts(shares.size());
        for (int i = 0; i < runs; ++i)
            draw(rs, counts);
        const double total = std::accumulate(counts.begin(), counts.end(), 0.0);
        for (size_t k = 0; k < counts.size(); ++k)
            EXPECT_NEAR(counts[k] / total, shares[k], tolerance) << what << ", outcome " << k;
        if (shares == rank) { // the first position against the last
            EXPECT_NEAR(double(counts.front()) / counts.back(), 10.0, 1.2) << what;
        }
    }
}

TEST(Plan, FewerThanThreeOtherCardsAreAlwaysTypedAndEveryOptionIsKept)
{
    SeededSource rs(3);
    const QList<QList<TroubleCard>> lists {
        cards(1), cards(2), cards(3),
        {card(5, "x", "X"), card(5, "y", "Y"), card(5, "z", "Z"), card(5, "w", "W")}, // one id: no others
    };
    for (const auto& list : lists)
        for (int i = 0; i < 300; ++i) {
            const auto p = CardPick::plan(list, rs);
            ASSERT_TRUE(p.has_value());
            EXPECT_EQ(p->kind, CardPick::QuestionKind::typedAnswer) << list.size();
        }
    EXPECT_FALSE(CardPick::plan({}, rs).has_value());
    QList<std::int64_t> others; // every card but those with the chosen id, in order
    for (const TroubleCard& c : CardPick::otherCards({card(1, "a", "A"), card(2, "b", "B"), card(1, "a2", "A2"), card(3, "c", "C")}, 1))
        others << c.id;
    EXPECT_EQ(others, QList<std::int64_t>({2, 3}));

    // Options are not deduplicated, and fewer than three others are all used.
    const QList<TroubleCard> same {card(2, "b", "same"), card(3, "c", "same\nx"), card(4, "d", "other")};
    EXPECT_EQ(CardPick::buildQuiz(card(1, "a", "same"), same, rs).options.count(QStringLiteral("same")), 3);
    EXPECT_EQ(CardPick::buildQuiz(card(1, "a", "A"), {card(2, "b", "B")}, rs).options.size(), 2);
    const auto t = CardPick::buildTyped(card(1, "das Haus\n(n.)", "\nthe house\nbuilding")); // the other way round
    EXPECT_EQ(std::make_pair(t.prompt, t.expectedAnswer), std::make_pair(QStringLiteral("the house"), QStringLiteral("das Haus\n(n.)")));
}

TEST(DelayDraw, BoundsAndSpread)
{
    const std::uint64_t two53 = Random::kTwo53;
    // {min, max, k drawn, delay}
    const std::tuple<double, double, std::uint64_t, double> rows[] = {
        {300, 300, 0, 300}, {300, 300, two53, 300}, {300, 300, two53 / 3, 300}, {60, 600, 0, 60},
        {60, 600, two53, 600}, {60, 600, two53 / 2, 330}, {0, 1, two53 - 1, 1.0 - 1.0 / double(two53)},
    };
    for (const auto& [min, max, k, expected] : rows) {
        ScriptedSource rs {k};
        EXPECT_DOUBLE_EQ(Random::drawDelay(min, max, rs), expected) << min << " " << max << " k=" << k;
    }
    // The top sliver of 64-bit values would favour small k; it is drawn again.
    ScriptedSource biased {~std::uint64_t(0), 5};
    EXPECT_EQ(biased.below(two53 + 1), 5u);

    SeededSource rs(17);
    std::vector<double> delays(20000);
    for (double& d : delays)
        d = Random::drawDelay(60, 600, rs);
    const auto [lo, hi] = std::minmax_element(delays.begin(), delays.end());
    EXPECT_TRUE(*lo >= 60 && *lo < 62 && *hi > 598 && *hi <= 600) << *lo << ".." << *hi;
    EXPECT_NEAR(std::accumulate(delays.begin(), delays.end(), 0.0) / 20000, 330, 5);
    OsRandomSource os;
    QSet<quint64> values;
    for (int i = 0; i < 64; ++i)
        values.insert(os.next64());
    EXPECT_GT(values.size(), 60) << "the operating system's bits vary";
}

TEST(SessionState, EndsExactlyOnce)
{
    using P = CardSessionState::Phase;
    using Op = bool (CardSessionState::*)();
    const Op answer = &CardSessionState::answer, timeOut = &CardSessionState::timeOut,
             finish = &CardSessionState::finish, shown = &CardSessionState::questionShown,
             login = &CardSessionState::loginShown;
    // {steps, whether each step is taken, phase at the end}
    const std::tuple<std::vector<Op>, std::vector<bool>, P> rows[] = {
        {{finish, finish}, {true, false}, P::ended},                              // no cards / fetch failed
        {{shown, answer, timeOut, finish}, {true, true, false, true}, P::ended},  // time-out racing an answer
        {{shown, timeOut, answer, finish}, {true, true, false, false}, P::ended}, // answer after the time-out
        {{shown, finish}, {true, false}, P::asking},                              // only those two end a question
        {{shown, answer, answer}, {true, true, false}, P::answered},              // a second answer is ignored
        {{login, shown, finish, finish}, {true, false, true, false}, P::ended},
    };
    int row = 0;
    for (const auto& [steps, taken, end] : rows) {
        CardSessionState s;
        for (size_t i = 0; i < steps.size(); ++i)
            EXPECT_EQ((s.*steps[i])(), taken[i]) << "row " << row << " step " << i;
        EXPECT_EQ(s.phase(), end) << "row " << row++;
    }
}
