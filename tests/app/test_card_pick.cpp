// The decisions of a card session, without widgets: the first line of a text,
// the rank-weighted pick, the other cards, the question kind and the options,
// the delay draw, and the session's phases.
#include "CardPick.h"
#include "RandomSource.h"
#include "TestRandom.h"

#include <QSet>

#include <gtest/gtest.h>

#include <map>

namespace {

TroubleCard card(std::int64_t id, QString front, QString back)
{
    TroubleCard c;
    c.id = id;
    c.front = std::move(front);
    c.back = std::move(back);
    return c;
}

QList<TroubleCard> cards(int n)
{
    QList<TroubleCard> out;
    for (int i = 0; i < n; ++i)
        out.append(card(i + 1, QStringLiteral("front %1").arg(i + 1), QStringLiteral("back %1\nmore").arg(i + 1)));
    return out;
}

} // namespace

TEST(FirstLine, Table)
{
    struct Row {
        const char* text;
        const char* expected;
    };
    const Row rows[] = {
        {"first\nsecond", "first"},
        {"\n\nthird", "third"},
        {"", ""},
        {"\n\n", "\n\n"},
        {"\n", "\n"},
        {"only", "only"},
        {"trailing\n", "trailing"},
        {"a\r\nb", "a\r\nb"},          // CR LF is one character and does not split
        {"\r\nx\ny", "\r\nx"},
        {"  spaced  \nnext", "  spaced  "}, // no trimming
        {"\n\n\nlast\n\n", "last"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(CardPick::firstLine(QString::fromUtf8(r.text)), QString::fromUtf8(r.expected))
            << "text: " << r.text;
}

TEST(FirstLine, NonAsciiAndCombiningMarks)
{
    EXPECT_EQ(CardPick::firstLine(QString::fromUtf8("e\u0301t\u00e9\n2")), QString::fromUtf8("e\u0301t\u00e9"));
    EXPECT_EQ(CardPick::firstLine(QString::fromUtf8("\n🙂 smile\nsecond")), QString::fromUtf8("🙂 smile"));
}

TEST(PickIndex, ExtremesOfTheDraw)
{
    // k = 0 is r = 0: the first card. The largest k lands in the last card's slot.
    ScriptedSource low {0};
    EXPECT_EQ(CardPick::pickIndex(10, low), 0);
    ScriptedSource high {~std::uint64_t(0)};
    EXPECT_EQ(CardPick::pickIndex(10, high), 9);
    ScriptedSource any {12345};
    EXPECT_EQ(CardPick::pickIndex(1, any), 0);
}

TEST(PickIndex, WeightsFollowTheRank)
{
    SeededSource rs(42);
    constexpr int kDraws = 110000;
    std::array<int, 10> counts {};
    for (int i = 0; i < kDraws; ++i)
        ++counts[size_t(CardPick::pickIndex(10, rs))];
    for (int i = 0; i < 10; ++i) {
        const double expected = double(10 - i) / 55.0;
        EXPECT_NEAR(double(counts[size_t(i)]) / kDraws, expected, 0.006) << "position " << i;
    }
    EXPECT_NEAR(double(counts[0]) / counts[9], 10.0, 1.2);
}

TEST(OtherCards, LeavesOutEveryCardWithTheChosenId)
{
    QList<TroubleCard> list {card(1, "a", "A"), card(2, "b", "B"), card(1, "a2", "A2"), card(3, "c", "C")};
    const auto others = CardPick::otherCards(list, 1);
    ASSERT_EQ(others.size(), 2);
    EXPECT_EQ(others[0].id, 2);
    EXPECT_EQ(others[1].id, 3);
}

TEST(QuestionKind, TypedWithFewerThanThreeOthers)
{
    SeededSource rs(1);
    for (qsizetype n : {0, 1, 2})
        for (int i = 0; i < 200; ++i)
            EXPECT_EQ(CardPick::chooseKind(n, rs), CardPick::QuestionKind::typedAnswer);
}

TEST(QuestionKind, FairCoinWithThreeOrMore)
{
    SeededSource rs(7);
    int choice = 0;
    constexpr int kDraws = 20000;
    for (int i = 0; i < kDraws; ++i)
        choice += CardPick::chooseKind(3, rs) == CardPick::QuestionKind::multipleChoice;
    EXPECT_NEAR(double(choice) / kDraws, 0.5, 0.02);
}

TEST(Plan, SmallAndDegenerateListsAreAlwaysTyped)
{
    SeededSource rs(3);
    const QList<QList<TroubleCard>> lists {
        cards(1),
        cards(3),
        {card(5, "x", "X"), card(5, "y", "Y"), card(5, "z", "Z"), card(5, "w", "W")},
    };
    for (const auto& list : lists)
        for (int i = 0; i < 300; ++i) {
            const auto p = CardPick::plan(list, rs);
            ASSERT_TRUE(p.has_value());
            EXPECT_EQ(p->kind, CardPick::QuestionKind::typedAnswer) << list.size();
        }
    EXPECT_FALSE(CardPick::plan({}, rs).has_value());
}

TEST(Plan, FourCardsGiveBothKindsAboutEqually)
{
    SeededSource rs(11);
    int quiz = 0;
    constexpr int kRuns = 4000;
    for (int i = 0; i < kRuns; ++i)
        quiz += CardPick::plan(cards(4), rs)->kind == CardPick::QuestionKind::multipleChoice;
    EXPECT_NEAR(double(quiz) / kRuns, 0.5, 0.04);
}

TEST(Quiz, FourOptionsFromFourDifferentCards)
{
    SeededSource rs(5);
    const auto list = cards(10);
    for (int i = 0; i < 500; ++i) {
        const auto q = CardPick::buildQuiz(list[0], CardPick::otherCards(list, 1), rs);
        ASSERT_EQ(q.options.size(), 4);
        ASSERT_EQ(q.optionCardIds.size(), 4);
        EXPECT_EQ(q.question, QStringLiteral("front 1"));
        EXPECT_EQ(q.correctAnswer, QStringLiteral("back 1"));
        EXPECT_EQ(q.options.count(QStringLiteral("back 1")), 1);
        EXPECT_EQ(QSet<std::int64_t>(q.optionCardIds.begin(), q.optionCardIds.end()).size(), 4);
        for (qsizetype k = 0; k < 4; ++k) // each option is the first line of its source's back
            EXPECT_EQ(q.options[k], QStringLiteral("back %1").arg(q.optionCardIds[k]));
    }
}

TEST(Quiz, WrongOptionsAreSpreadOverAllOtherCardsAndPositions)
{
    SeededSource rs(9);
    const auto list = cards(10);
    std::map<std::int64_t, int> used;
    std::array<int, 4> correctAt {};
    constexpr int kRuns = 9000;
    for (int i = 0; i < kRuns; ++i) {
        const auto q = CardPick::buildQuiz(list[0], CardPick::otherCards(list, 1), rs);
        for (qsizetype k = 0; k < 4; ++k) {
            if (q.optionCardIds[k] == 1)
                ++correctAt[size_t(k)];
            else
                ++used[q.optionCardIds[k]];
        }
    }
    ASSERT_EQ(used.size(), 9u);
    for (const auto& [id, n] : used)
        EXPECT_NEAR(double(n) / kRuns, 3.0 / 9.0, 0.03) << "card " << id;
    for (int n : correctAt)
        EXPECT_NEAR(double(n) / kRuns, 0.25, 0.025);
}

TEST(Quiz, OptionsAreNotDeduplicated)
{
    SeededSource rs(2);
    QList<TroubleCard> others {card(2, "b", "same"), card(3, "c", "same\nx"), card(4, "d", "other")};
    const auto q = CardPick::buildQuiz(card(1, "a", "same"), others, rs);
    EXPECT_EQ(q.options.size(), 4);
    EXPECT_EQ(q.options.count(QStringLiteral("same")), 3);
}

TEST(Quiz, FewerThanThreeOthersUseAllOfThem)
{
    SeededSource rs(2);
    const auto q = CardPick::buildQuiz(card(1, "a", "A"), {card(2, "b", "B")}, rs);
    EXPECT_EQ(q.options.size(), 2);
}

TEST(Typed, AsksTheOtherWayRound)
{
    const auto t = CardPick::buildTyped(card(1, "das Haus\n(n.)", "\nthe house\nbuilding"));
    EXPECT_EQ(t.prompt, QStringLiteral("the house"));
    EXPECT_EQ(t.expectedAnswer, QStringLiteral("das Haus\n(n.)"));
}

TEST(Shuffle, EveryOrderEquallyLikely)
{
    SeededSource rs(13);
    std::map<QString, int> seen;
    constexpr int kRuns = 60000;
    for (int i = 0; i < kRuns; ++i) {
        QList<QString> l {"a", "b", "c"};
        CardPick::shuffle(l, rs);
        ++seen[l.join(QString())];
    }
    ASSERT_EQ(seen.size(), 6u);
    for (const auto& [order, n] : seen)
        EXPECT_NEAR(double(n) / kRuns, 1.0 / 6.0, 0.01) << order.toStdString();
}

TEST(DelayDraw, Bounds)
{
    struct Row {
        double min, max;
        std::uint64_t k;
        double expected;
    };
    const std::uint64_t two53 = Random::kTwo53;
    const Row rows[] = {
        {300, 300, 0, 300},
        {300, 300, two53, 300},
        {300, 300, two53 / 3, 300},
        {60, 600, 0, 60},
        {60, 600, two53, 600},
        {60, 600, two53 / 2, 330},
        {0, 1, two53 - 1, 1.0 - 1.0 / double(two53)},
    };
    for (const Row& r : rows) {
        ScriptedSource rs {r.k};
        EXPECT_DOUBLE_EQ(Random::drawDelay(r.min, r.max, rs), r.expected) << r.min << " " << r.max << " k=" << r.k;
    }
}

TEST(DelayDraw, RejectsTheBiasedTopOfTheRange)
{
    // The top sliver of 64-bit values would favour small k; it is drawn again.
    ScriptedSource rs {~std::uint64_t(0), 5};
    EXPECT_EQ(rs.below(Random::kTwo53 + 1), 5u);
}

TEST(DelayDraw, SpreadsOverTheWholeRange)
{
    SeededSource rs(17);
    double lo = 1e9, hi = -1e9, sum = 0;
    constexpr int kDraws = 20000;
    for (int i = 0; i < kDraws; ++i) {
        const double d = Random::drawDelay(60, 600, rs);
        ASSERT_GE(d, 60);
        ASSERT_LE(d, 600);
        lo = std::min(lo, d);
        hi = std::max(hi, d);
        sum += d;
    }
    EXPECT_LT(lo, 62);
    EXPECT_GT(hi, 598);
    EXPECT_NEAR(sum / kDraws, 330, 5);
}

TEST(OsRandom, ProducesVaryingBits)
{
    OsRandomSource rs;
    QSet<quint64> values;
    for (int i = 0; i < 64; ++i)
        values.insert(rs.next64());
    EXPECT_GT(values.size(), 60);
}

TEST(SessionState, EndsExactlyOnce)
{
    using P = CardSessionState::Phase;
    struct Step {
        const char* name;
        bool (CardSessionState::*op)();
    };
    const Step answer {"answer", &CardSessionState::answer};
    const Step timeOut {"timeOut", &CardSessionState::timeOut};
    const Step finish {"finish", &CardSessionState::finish};
    const Step shown {"questionShown", &CardSessionState::questionShown};
    const Step login {"loginShown", &CardSessionState::loginShown};
    struct Row {
        std::vector<Step> steps;
        std::vector<bool> accepted;
        P end;
    };
    const std::vector<Row> rows {
        {{finish, finish}, {true, false}, P::ended},                             // no cards / fetch failed
        {{shown, answer, timeOut, finish}, {true, true, false, true}, P::ended}, // time-out racing an answer
        {{shown, timeOut, answer, finish}, {true, true, false, false}, P::ended}, // answer after the time-out
        {{shown, finish}, {true, false}, P::asking},                             // nothing ends a question but these two
        {{shown, answer, answer}, {true, true, false}, P::answered},             // a second answer is ignored
        {{login, shown, finish, finish}, {true, false, true, false}, P::ended},
    };
    for (const Row& r : rows) {
        CardSessionState s;
        for (size_t i = 0; i < r.steps.size(); ++i)
            EXPECT_EQ((s.*r.steps[i].op)(), r.accepted[i]) << r.steps[i].name << " step " << i;
        EXPECT_EQ(s.phase(), r.end);
    }
}
