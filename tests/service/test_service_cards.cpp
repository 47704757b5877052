#include "ServiceTestSupport.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

using Cards = ServiceTest;

QJsonObject cardById(const QJsonArray& cards, qint64 id)
{
    for (const QJsonValue& v : cards)
        if (v.toObject().value("id").toInteger() == id)
            return v.toObject();
    return {};
}

TEST_F(Cards, DemoDeckIsRealisticVocabulary)
{
    const QJsonArray cards = svc().state().value("cards").toObject().value("demo@tavlo.app").toArray();
    ASSERT_GE(cards.size(), 30);
    int withPos = 0, withCommaAndSemicolon = 0, nonAscii = 0, cjkOrCyrillic = 0;
    static const QRegularExpression pos(QStringLiteral("\\((n|v|adj|adv|conj|interj)\\.\\)"));
    static const QRegularExpression script(QStringLiteral("[\\p{Han}\\p{Cyrillic}]"),
                                           QRegularExpression::UseUnicodePropertiesOption);
    for (const QJsonValue& v : cards) {
        const QJsonObject c = v.toObject();
        const QString front = c.value("front").toString();
        const QString back = c.value("back").toString();
        EXPECT_FALSE(front.isEmpty());
        EXPECT_FALSE(back.isEmpty());
        EXPECT_FALSE(c.value("deck_name").toString().isEmpty());
        EXPECT_TRUE(c.value("deck_id").isDouble());
        withPos += pos.match(front).hasMatch();
        withCommaAndSemicolon += back.contains(',') && back.contains(';');
        nonAscii += std::any_of(front.begin(), front.end(), [](QChar ch) { return ch.unicode() > 127; });
        cjkOrCyrillic += script.match(front).hasMatch();
    }
    EXPECT_GE(withPos, 20);
    EXPECT_GE(withCommaAndSemicolon, 3);
    EXPECT_GE(nonAscii, 10);
    EXPECT_GE(cjkOrCyrillic, 4);
}

TEST_F(Cards, TroubleCardsComeHighestScoreFirstWithTheWireFields)
{
    const auto r = get("/api/trouble-cards?limit=1000");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.headers.contains({"content-type", "application/json"}), true);
    const QJsonArray cards = dataArray(r);
    ASSERT_GE(cards.size(), 30);
    double previous = 1e9;
    bool sawNullReview = false, sawNotes = false;
    for (const QJsonValue& v : cards) {
        const QJsonObject c = v.toObject();
        for (const char* key : {"id", "deck_id", "trouble_score"})
            EXPECT_TRUE(c.value(key).isDouble()) << key;
        for (const char* key : {"front", "back", "deck_name"})
            EXPECT_TRUE(c.value(key).isString()) << key;
        const double score = c.value("trouble_score").toDouble();
        EXPECT_GT(score, 0);
        EXPECT_LE(score, previous);
        previous = score;
        if (c.value("review").isNull()) {
            sawNullReview = true;
        } else {
            const QJsonObject review = c.value("review").toObject();
            EXPECT_TRUE(review.value("ease_factor").isDouble());
            EXPECT_TRUE(review.value("interval").isDouble());
            EXPECT_TRUE(review.value("repetitions").isDouble());
            EXPECT_TRUE(QDateTime::fromString(review.value("due_date").toString(), Qt::ISODate).isValid());
        }
        sawNotes |= c.value("notes").isString();
    }
    EXPECT_TRUE(sawNullReview);
    EXPECT_TRUE(sawNotes);
}

struct LimitCase {
    const char* query;
    int count;
};

class CardLimits : public ServiceTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(CardLimits, AnswerAtMostLimitCards)
{
    const auto r = get(QStringLiteral("/api/trouble-cards") + QString::fromUtf8(GetParam().query));
    ASSERT_EQ(r.status, 200) << r.body.toStdString();
    EXPECT_EQ(dataArray(r).size(), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Cards, CardLimits,
                         ::testing::Values(LimitCase{"?limit=0", 0}, LimitCase{"?limit=1", 1},
                                           LimitCase{"?limit=5", 5}, LimitCase{"?limit=10", 10},
                                           LimitCase{"", 10}, LimitCase{"?limit=1000", 32}));

class BadLimits : public ServiceTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadLimits, Answer400)
{
    const auto r = get(QStringLiteral("/api/trouble-cards?limit=") + QString::fromUtf8(GetParam()));
    EXPECT_EQ(r.status, 400);
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cards, BadLimits, ::testing::Values("-1", "abc", "1.5", "", "1001", "10abc"));

TEST_F(Cards, TheFirstCardsAreTheSameOnEveryCall)
{
    EXPECT_EQ(get("/api/trouble-cards?limit=10").body, get("/api/trouble-cards?limit=10").body);
    const QJsonArray five = dataArray(get("/api/trouble-cards?limit=5"));
    const QJsonArray ten = dataArray(get("/api/trouble-cards?limit=10"));
    for (int i = 0; i < five.size(); ++i)
        EXPECT_EQ(five[i], ten[i]);
}

TEST_F(Cards, EachAccountSeesOnlyItsOwnCards)
{
    const QString second = svc().login(StudyService::secondEmail(), StudyService::secondPassword());
    const QJsonArray theirs = dataArray(svc().send("GET", "/api/trouble-cards?limit=1000", {}, second));
    ASSERT_FALSE(theirs.isEmpty());
    const QJsonArray mine = dataArray(get("/api/trouble-cards?limit=1000"));
    for (const QJsonValue& v : theirs)
        EXPECT_TRUE(cardById(mine, v.toObject().value("id").toInteger()).isEmpty());
}

QJsonObject review(StudyService& svc, const QString& token, qint64 id, int quality)
{
    const auto r = svc.send("POST", "/api/reviews", compact({{"card_id", id}, {"quality", quality}}), token);
    EXPECT_EQ(r.status, 200) << r.body.toStdString();
    return dataObject(r).value("card").toObject();
}

TEST_F(Cards, AWrongAnswerResetsTheCardAndRaisesItsScore)
{
    const QJsonObject top = dataArray(get("/api/trouble-cards?limit=1")).at(0).toObject();
    const QJsonObject fifth = dataArray(get("/api/trouble-cards?limit=5")).at(4).toObject();
    const QJsonObject after = review(svc(), token, fifth.value("id").toInteger(), 1);
    const QJsonObject r = after.value("review").toObject();
    EXPECT_EQ(r.value("repetitions").toInt(), 0);
    EXPECT_EQ(r.value("interval").toInt(), 1);
    EXPECT_LT(r.value("ease_factor").toDouble(), fifth.value("review").toObject().value("ease_factor").toDouble());
    EXPECT_GE(r.value("ease_factor").toDouble(), 1.3);
    EXPECT_GT(after.value("trouble_score").toDouble(), top.value("trouble_score").toDouble());
    const QDateTime due = QDateTime::fromString(r.value("due_date").toString(), Qt::ISODate);
    EXPECT_GT(due, QDateTime::currentDateTimeUtc().addSecs(23 * 3600));
    EXPECT_LT(due, QDateTime::currentDateTimeUtc().addSecs(25 * 3600));
    // It now leads the trouble list.
    EXPECT_EQ(dataArray(get("/api/trouble-cards?limit=1")).at(0).toObject().value("id"), fifth.value("id"));
}

TEST_F(Cards, GoodAnswersGrowTheIntervalTheSm2Way)
{
    // A card that was never reviewed.
    qint64 id = 0;
    for (const QJsonValue& v : dataArray(get("/api/trouble-cards?limit=1000")))
        if (v.toObject().value("review").isNull())
            id = v.toObject().value("id").toInteger();
    ASSERT_NE(id, 0);

    struct Step {
        int quality;
        int repetitions;
        int interval;
        double ease;
    };
    // Ease 2.5 stays with 4, grows by 0.1 with 5, falls by 0.14 with 3.
    const Step steps[] = {{4, 1, 1, 2.5}, {4, 2, 6, 2.5}, {5, 3, 15, 2.6}, {3, 4, 39, 2.46}};
    double score = 1e9;
    for (const Step& s : steps) {
        const QJsonObject card = review(svc(), token, id, s.quality);
        const QJsonObject r = card.value("review").toObject();
        EXPECT_EQ(r.value("repetitions").toInt(), s.repetitions) << s.quality;
        EXPECT_EQ(r.value("interval").toInt(), s.interval) << s.quality;
        EXPECT_NEAR(r.value("ease_factor").toDouble(), s.ease, 1e-9) << s.quality;
        EXPECT_LT(card.value("trouble_score").toDouble(), score);
        score = card.value("trouble_score").toDouble();
        const QDateTime due = QDateTime::fromString(r.value("due_date").toString(), Qt::ISODate);
        EXPECT_LT(qAbs(QDateTime::currentDateTimeUtc().addDays(s.interval).secsTo(due)), 120);
    }
}

TEST_F(Cards, CardsAnsweredWellEnoughLeaveTheTroubleList)
{
    const qint64 id = dataArray(get("/api/trouble-cards?limit=1")).at(0).toObject().value("id").toInteger();
    for (int i = 0; i < 12; ++i)
        review(svc(), token, id, 5);
    EXPECT_TRUE(cardById(dataArray(get("/api/trouble-cards?limit=1000")), id).isEmpty());
}

TEST_F(Cards, ReviewsAreRecordedForTheAccount)
{
    review(svc(), token, 3, 4);
    review(svc(), token, 7, 1);
    const QJsonArray reviews = svc().state().value("reviews").toArray();
    ASSERT_EQ(reviews.size(), 2);
    EXPECT_EQ(reviews[0].toObject(), (QJsonObject{{"account", "demo@tavlo.app"}, {"card_id", 3}, {"quality", 4}}));
    EXPECT_EQ(reviews[1].toObject(), (QJsonObject{{"account", "demo@tavlo.app"}, {"card_id", 7}, {"quality", 1}}));
}

struct BadReview {
    const char* name;
    QByteArray body;
    int status;
};

class BadReviews : public ServiceTest, public ::testing::WithParamInterface<BadReview> {};

TEST_P(BadReviews, AreRefusedAndChangeNothing)
{
    const QJsonObject before = svc().state();
    const auto r = svc().send("POST", "/api/reviews", GetParam().body, token);
    EXPECT_EQ(r.status, GetParam().status) << r.body.toStdString();
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
    EXPECT_EQ(svc().state(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, BadReviews,
    ::testing::Values(BadReview{"UnknownCard", R"({"card_id": 99999, "quality": 4})", 404},
                      BadReview{"OtherAccountsCard", R"({"card_id": 101, "quality": 4})", 404},
                      BadReview{"CardIdAsString", R"({"card_id": "1", "quality": 4})", 400},
                      BadReview{"FractionalQuality", R"({"card_id": 1, "quality": 3.5})", 400},
                      BadReview{"QualityTooHigh", R"({"card_id": 1, "quality": 6})", 400},
                      BadReview{"NegativeQuality", R"({"card_id": 1, "quality": -1})", 400},
                      BadReview{"MissingCardId", R"({"quality": 4})", 400},
                      BadReview{"MissingQuality", R"({"card_id": 1})", 400},
                      BadReview{"NullQuality", R"({"card_id": 1, "quality": null})", 400},
                      BadReview{"ArrayBody", R"([1, 4])", 400},
                      BadReview{"NotJson", R"(card_id=1&quality=4)", 400}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
