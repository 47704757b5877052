// The wire records: key conversion, required and optional fields, number
// types, exact 64-bit ids, and what a broken body turns into.
#include "CardRecords.h"
#include "JournalRecords.h"
#include "JsonDecoding.h"
#include "Result.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

std::string s(const QString& q) { return q.toStdString(); }

template <class T>
std::string errorText(const Result<T>& r)
{
    return r.ok() ? std::string("ok") : textForm(r.error()).toStdString();
}

// ---- key conversion -----------------------------------------------------------

struct KeyCase {
    const char* wire;
    const char* field;
};

class SnakeCaseKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(SnakeCaseKeys, ConvertToCamelCase)
{
    EXPECT_EQ(s(JsonDecoding::convertFromSnakeCase(QString::fromUtf8(GetParam().wire))), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(Rules, SnakeCaseKeys,
                         ::testing::Values(KeyCase{"deck_id", "deckId"}, KeyCase{"DECK_ID", "deckId"},
                                           KeyCase{"trouble_score", "troubleScore"},
                                           KeyCase{"a_b_c", "aBC"},
                                           KeyCase{"ease__factor", "easeFactor"},       // a run counts as one
                                           KeyCase{"_deck_id", "_deckId"},              // leading kept
                                           KeyCase{"deck_id_", "deckId_"},              // trailing kept
                                           KeyCase{"__deck__id__", "__deckId__"},
                                           KeyCase{"id", "id"},                         // single part unchanged
                                           KeyCase{"ID", "ID"},
                                           KeyCase{"deckId", "deckId"},                 // camel case passes
                                           KeyCase{"_id_", "_id_"},
                                           KeyCase{"___", "___"}, KeyCase{"", ""},
                                           KeyCase{"Deck_NAME", "deckName"},
                                           KeyCase{"caf\xc3\xa9_\xc3\xa9t\xc3\xa9", "caf\xc3\xa9\xc3\x89t\xc3\xa9"}));

// ---- trouble cards ------------------------------------------------------------

const char* kCard = R"({"id": 1, "deck_id": 2, "front": "F", "back": "B", "deck_name": "D", "trouble_score": 1.5})";

QByteArray list(const QByteArray& card)
{
    return "{\"data\": [" + card + "]}";
}

TEST(TroubleCardDecoding, MinimalCardHasNoNotesAndNoReview)
{
    const auto r = decodeTroubleCardsResponse(list(R"({"id": 7, "deck_id": 3, "front": "hund", "back": "dog",
        "notes": null, "deck_name": "Danish", "trouble_score": 2.25})"));
    ASSERT_TRUE(r.ok()) << errorText(r);
    ASSERT_EQ(r.value().data.size(), 1);
    const TroubleCard& c = r.value().data[0];
    EXPECT_EQ(c.id, 7);
    EXPECT_EQ(c.deckId, 3);
    EXPECT_EQ(s(c.front), "hund");
    EXPECT_EQ(s(c.back), "dog");
    EXPECT_FALSE(c.notes.has_value());
    EXPECT_EQ(s(c.deckName), "Danish");
    EXPECT_DOUBLE_EQ(c.troubleScore, 2.25);
    EXPECT_FALSE(c.review.has_value());
}

TEST(TroubleCardDecoding, FullCardWithReview)
{
    const auto r = decodeTroubleCardsResponse(list(R"({"id": 1, "deck_id": 2, "front": "F", "back": "B",
        "notes": "n", "deck_name": "D", "trouble_score": 3, "extra": {"ignored": true},
        "review": {"ease_factor": 2, "interval": 6, "repetitions": 2, "due_date": "2026-03-07T09:00:00Z"}})"));
    ASSERT_TRUE(r.ok()) << errorText(r);
    const TroubleCard& c = r.value().data[0];
    EXPECT_EQ(s(*c.notes), "n");
    EXPECT_DOUBLE_EQ(c.troubleScore, 3.0); // an integer is a fine double
    ASSERT_TRUE(c.review.has_value());
    EXPECT_DOUBLE_EQ(c.review->easeFactor, 2.0);
    EXPECT_EQ(c.review->interval, 6);
    EXPECT_EQ(c.review->repetitions, 2);
    EXPECT_EQ(s(c.review->dueDate), "2026-03-07T09:00:00Z"); // kept as received
}

TEST(TroubleCardDecoding, CamelCaseKeysDecodeTheSame)
{
    const auto snake = decodeTroubleCardsResponse(list(kCard));
    const auto camel = decodeTroubleCardsResponse(
        list(R"({"id": 1, "deckId": 2, "front": "F", "back": "B", "deckName": "D", "troubleScore": 1.5})"));
    ASSERT_TRUE(snake.ok());
    ASSERT_TRUE(camel.ok()) << errorText(camel);
    EXPECT_EQ(camel.value().data[0].deckId, snake.value().data[0].deckId);
    EXPECT_EQ(s(camel.value().data[0].deckName), s(snake.value().data[0].deckName));
    EXPECT_DOUBLE_EQ(camel.value().data[0].troubleScore, snake.value().data[0].troubleScore);
}

TEST(TroubleCardDecoding, AllCapitalKeysDecode)
{
    const auto r = decodeTroubleCardsResponse(
        list(R"({"id": 1, "DECK_ID": 2, "front": "F", "back": "B", "DECK_NAME": "D", "TROUBLE_SCORE": 1})"));
    ASSERT_TRUE(r.ok()) << errorText(r);
    EXPECT_EQ(r.value().data[0].deckId, 2);
}

TEST(TroubleCardDecoding, IdsAbove2To53SurviveExactly)
{
    const auto r = decodeTroubleCardsResponse(list(R"({"id": 9007199254740993, "deck_id": 9223372036854775807,
        "front": "F", "back": "B", "deck_name": "D", "trouble_score": 1})"));
    ASSERT_TRUE(r.ok()) << errorText(r);
    EXPECT_EQ(r.value().data[0].id, 9007199254740993LL);
    EXPECT_EQ(r.value().data[0].deckId, 9223372036854775807LL);
    // And back out again, unchanged.
    const QByteArray out = QJsonDocument(toJson(r.value().data[0])).toJson(QJsonDocument::Compact);
    EXPECT_TRUE(out.contains("\"id\":9007199254740993")) << out.toStdString();
}

TEST(TroubleCardDecoding, NegativeIdsAndTheInt64Minimum)
{
    const auto r = decodeTroubleCardsResponse(list(R"({"id": -9223372036854775808, "deck_id": -1,
        "front": "F", "back": "B", "deck_name": "D", "trouble_score": -0.5})"));
    ASSERT_TRUE(r.ok()) << errorText(r);
    EXPECT_EQ(r.value().data[0].id, std::numeric_limits<std::int64_t>::min());
}

TEST(TroubleCardDecoding, ListKeepsServerOrderAndEmptyListIsFine)
{
    const auto r = decodeTroubleCardsResponse(
        R"({"data": [{"id": 3, "deck_id": 1, "front": "c", "back": "", "deck_name": "D", "trouble_score": 1},
                     {"id": 1, "deck_id": 1, "front": "a", "back": "", "deck_name": "D", "trouble_score": 1},
                     {"id": 2, "deck_id": 1, "front": "b", "back": "", "deck_name": "D", "trouble_score": 1}]})");
    ASSERT_TRUE(r.ok()) << errorText(r);
    ASSERT_EQ(r.value().data.size(), 3);
    EXPECT_EQ(r.value().data[0].id, 3);
    EXPECT_EQ(r.value().data[1].id, 1);
    EXPECT_EQ(r.value().data[2].id, 2);
    const auto empty = decodeTroubleCardsResponse(R"({"data": []})");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value().data.isEmpty());
}

struct BadBody {
    const char* name;
    const char* body;
    const char* mentions; // a word the description must contain
};

class TroubleCardsRejected : public ::testing::TestWithParam<BadBody> {};

TEST_P(TroubleCardsRejected, WholeResponseFailsWithAReadableReason)
{
    const auto r = decodeTroubleCardsResponse(QByteArray(GetParam().body));
    ASSERT_FALSE(r.ok()) << GetParam().name;
    const auto* e = std::get_if<DecodeError>(&r.error());
    ASSERT_NE(e, nullptr);
    EXPECT_NE(e->description.indexOf(QString::fromUtf8(GetParam().mentions)), -1) << s(e->description);
}

#define CARD_WITH(extra) "{\"data\": [{\"deck_id\": 2, \"front\": \"F\", \"back\": \"B\", \"deck_name\": \"D\", " extra "}]}"

INSTANTIATE_TEST_SUITE_P(
    Table, TroubleCardsRejected,
    ::testing::Values(
        BadBody{"no data", R"({"cards": []})", "\"data\""},
        BadBody{"data null", R"({"data": null})", "null"},
        BadBody{"data object", R"({"data": {}})", "an array"},
        BadBody{"top-level array", R"([])", "an object"},
        BadBody{"trouble score as string", CARD_WITH("\"id\": 1, \"trouble_score\": \"3\""), "data[0].trouble_score"},
        BadBody{"id as fraction", CARD_WITH("\"id\": 3.5, \"trouble_score\": 1"), "data[0].id"},
        BadBody{"id as string", CARD_WITH("\"id\": \"3\", \"trouble_score\": 1"), "an integer"},
        BadBody{"id beyond 64 bits", CARD_WITH("\"id\": 9223372036854775808, \"trouble_score\": 1"), "data[0].id"},
        BadBody{"id as boolean", CARD_WITH("\"id\": true, \"trouble_score\": 1"), "a boolean"},
        BadBody{"id missing", CARD_WITH("\"trouble_score\": 1"), "\"id\""},
        BadBody{"front null", R"({"data": [{"id": 1, "deck_id": 2, "front": null, "back": "B", "deck_name": "D", "trouble_score": 1}]})", "\"front\""},
        BadBody{"notes number", CARD_WITH("\"id\": 1, \"trouble_score\": 1, \"notes\": 5"), "data[0].notes"},
        BadBody{"review without due date", CARD_WITH("\"id\": 1, \"trouble_score\": 1, \"review\": {\"ease_factor\": 2.5, \"interval\": 1, \"repetitions\": 0}"), "\"due_date\""},
        BadBody{"review interval fraction", CARD_WITH("\"id\": 1, \"trouble_score\": 1, \"review\": {\"ease_factor\": 2.5, \"interval\": 1.5, \"repetitions\": 0, \"due_date\": \"x\"}"), "data[0].review.interval"},
        BadBody{"review not an object", CARD_WITH("\"id\": 1, \"trouble_score\": 1, \"review\": []"), "an object"},
        BadBody{"second card broken", R"({"data": [{"id": 1, "deck_id": 2, "front": "F", "back": "B", "deck_name": "D", "trouble_score": 1}, {"id": 2}]})", "data[1]"},
        BadBody{"truncated", R"({"data": [)", "valid JSON"},
        BadBody{"empty body", "", "valid JSON"},
        BadBody{"two values", R"({"data": []} {"data": []})", "valid JSON"},
        BadBody{"invalid UTF-8", "{\"data\": [{\"front\": \"\xff\"}]}", "valid JSON"},
        BadBody{"html", "<html>oops</html>", "valid JSON"}));

TEST(TroubleCardDecoding, WholeNumberDoubleIsAnInteger)
{
    // 3.0 and 3e0 are the integer 3 written differently; 3.5 is not (above).
    const auto r = decodeTroubleCardsResponse(list(R"({"id": 3.0, "deck_id": 2e0, "front": "F", "back": "B",
        "deck_name": "D", "trouble_score": 1})"));
    ASSERT_TRUE(r.ok()) << errorText(r);
    EXPECT_EQ(r.value().data[0].id, 3);
    EXPECT_EQ(r.value().data[0].deckId, 2);
}

TEST(TroubleCardDecoding, NonAsciiTextSurvives)
{
    const auto r = decodeTroubleCardsResponse(list(R"({"id": 1, "deck_id": 2, "front": "Ærø 😀", "back": "e\u0301",
        "deck_name": "D", "trouble_score": 1})"));
    ASSERT_TRUE(r.ok()) << errorText(r);
    EXPECT_EQ(r.value().data[0].front, QString::fromUtf8("Ærø 😀"));
    EXPECT_EQ(r.value().data[0].back, QString::fromUtf8("e\xcc\x81"));
}

// ---- login response -----------------------------------------------------------

TEST(AuthDecoding, ReadsTokenAndUser)
{
    const auto r = decodeAuthResponse(R"({"data": {"access_token": "t0k", "user": {"id": 9007199254740993, "email": "a@b"}}})");
    ASSERT_TRUE(r.ok()) << errorText(r);
    EXPECT_EQ(s(r.value().data.accessToken), "t0k");
    EXPECT_EQ(r.value().data.user.id, 9007199254740993LL);
    EXPECT_EQ(s(r.value().data.user.email), "a@b");
}

TEST(AuthDecoding, TokenMustBeAString)
{
    EXPECT_FALSE(decodeAuthResponse(R"({"data": {"access_token": 5, "user": {"id": 1, "email": "a"}}})").ok());
    EXPECT_FALSE(decodeAuthResponse(R"({"access_token": "x"})").ok());
}

// ---- journal ------------------------------------------------------------------

TEST(JournalDecoding, MinimalEntry)
{
    const auto r = decodeJournalEntryResponse(R"({"data": {"id": 7, "title": "", "content": "x"}})");
    ASSERT_TRUE(r.ok()) << errorText(r);
    const JournalEntryData& e = r.value().data;
    EXPECT_EQ(e.id, 7);
    EXPECT_TRUE(e.title.isEmpty());
    EXPECT_EQ(s(e.content), "x");
    EXPECT_FALSE(e.tags.has_value());
    EXPECT_FALSE(e.insertedAt.has_value());
    EXPECT_FALSE(e.updatedAt.has_value());
}

TEST(JournalDecoding, TagsEmptyVersusNull)
{
    const auto empty = decodeJournalEntryResponse(R"({"data": {"id": 1, "title": "t", "content": "c", "tags": []}})");
    ASSERT_TRUE(empty.ok());
    ASSERT_TRUE(empty.value().data.tags.has_value());
    EXPECT_TRUE(empty.value().data.tags->isEmpty());
    const auto null = decodeJournalEntryResponse(R"({"data": {"id": 1, "title": "t", "content": "c", "tags": null}})");
    ASSERT_TRUE(null.ok());
    EXPECT_FALSE(null.value().data.tags.has_value());
}

TEST(JournalDecoding, TimesKeptAsSentInEitherSpelling)
{
    const auto snake = decodeJournalListResponse(R"({"data": [{"id": 1, "title": "t", "content": "c",
        "inserted_at": "2026-03-07T09:05:03Z", "updated_at": "later", "tags": ["a", "b"]}]})");
    const auto camel = decodeJournalListResponse(R"({"data": [{"id": 1, "title": "t", "content": "c",
        "insertedAt": "2026-03-07T09:05:03Z", "updatedAt": "later", "tags": ["a", "b"]}]})");
    ASSERT_TRUE(snake.ok()) << errorText(snake);
    ASSERT_TRUE(camel.ok()) << errorText(camel);
    EXPECT_EQ(s(*snake.value().data[0].insertedAt), "2026-03-07T09:05:03Z");
    EXPECT_EQ(s(*camel.value().data[0].insertedAt), "2026-03-07T09:05:03Z");
    EXPECT_EQ(s(*camel.value().data[0].updatedAt), "later");
    EXPECT_EQ(*snake.value().data[0].tags, (QStringList{"a", "b"}));
}

TEST(JournalDecoding, EmptyListAndWrongEnvelope)
{
    const auto empty = decodeJournalListResponse(R"({"data": []})");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value().data.isEmpty());
    EXPECT_FALSE(decodeJournalListResponse(R"({"entries": []})").ok());
    EXPECT_FALSE(decodeJournalListResponse("not json").ok());
}

class JournalRejected : public ::testing::TestWithParam<BadBody> {};

TEST_P(JournalRejected, WholeListFails)
{
    const auto r = decodeJournalListResponse(QByteArray(GetParam().body));
    ASSERT_FALSE(r.ok()) << GetParam().name;
    ASSERT_NE(std::get_if<DecodeError>(&r.error()), nullptr);
    EXPECT_NE(std::get<DecodeError>(r.error()).description.indexOf(QString::fromUtf8(GetParam().mentions)), -1)
        << s(std::get<DecodeError>(r.error()).description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JournalRejected,
    ::testing::Values(
        BadBody{"number among tags", R"({"data": [{"id": 1, "title": "t", "content": "c", "tags": ["a", 2]}]})", "data[0].tags[1]"},
        BadBody{"tags a string", R"({"data": [{"id": 1, "title": "t", "content": "c", "tags": "a"}]})", "an array"},
        BadBody{"no content", R"({"data": [{"id": 1, "title": "t"}]})", "\"content\""},
        BadBody{"title null", R"({"data": [{"id": 1, "title": null, "content": "c"}]})", "\"title\""},
        BadBody{"id string", R"({"data": [{"id": "1", "title": "t", "content": "c"}]})", "data[0].id"},
        BadBody{"inserted_at number", R"({"data": [{"id": 1, "title": "t", "content": "c", "inserted_at": 5}]})", "data[0].inserted_at"}));

TEST(NormalizeDecoding, TagsOptional)
{
    const auto r = decodeNormalizeResponse(R"({"data": {"title": "T", "content": "C"}})");
    ASSERT_TRUE(r.ok()) << errorText(r);
    EXPECT_EQ(s(r.value().data.title), "T");
    EXPECT_EQ(s(r.value().data.content), "C");
    EXPECT_FALSE(r.value().data.tags.has_value());
    const auto tagged = decodeNormalizeResponse(R"({"data": {"title": "T", "content": "C", "tags": ["x"]}})");
    ASSERT_TRUE(tagged.ok());
    EXPECT_EQ(*tagged.value().data.tags, QStringList{"x"});
    EXPECT_FALSE(decodeNormalizeResponse(R"({"data": {"title": "T"}})").ok());
    EXPECT_FALSE(decodeNormalizeResponse(R"({"title": "T", "content": "C"})").ok());
}

TEST(RecordEncoding, ReviewRequestUsesWireKeys)
{
    const QJsonObject o = toJson(ReviewRequest{42, 0});
    EXPECT_EQ(o.keys(), (QStringList{"card_id", "quality"}));
    EXPECT_EQ(o.value("card_id").toInteger(), 42);
    EXPECT_EQ(o.value("quality").toInteger(), 0);
}

TEST(RecordEncoding, EntryRoundTrip)
{
    JournalEntryData e{9007199254740993LL, "t", "c", QStringList{"a"}, QString("i"), std::nullopt};
    const QByteArray json = QJsonDocument(toJson(JournalEntryResponse{e})).toJson(QJsonDocument::Compact);
    const auto back = decodeJournalEntryResponse(json);
    ASSERT_TRUE(back.ok()) << errorText(back);
    EXPECT_EQ(back.value().data.id, e.id);
    EXPECT_EQ(back.value().data.tags, e.tags);
    EXPECT_EQ(back.value().data.insertedAt, e.insertedAt);
    EXPECT_FALSE(back.value().data.updatedAt.has_value());
}

// ---- parsing any top-level value ---------------------------------------------

TEST(JsonParsing, AnyTopLevelValue)
{
    EXPECT_TRUE(JsonDecoding::parse("5").ok());
    EXPECT_TRUE(JsonDecoding::parse("\"x\"").ok());
    EXPECT_TRUE(JsonDecoding::parse(" null ").ok());
    EXPECT_FALSE(JsonDecoding::parse("1, 2").ok());
    EXPECT_FALSE(JsonDecoding::parse("").ok());
    EXPECT_FALSE(JsonDecoding::parse("]").ok());
    EXPECT_FALSE(JsonDecoding::parse("[").ok());
}

// ---- error text forms -----------------------------------------------------------

struct TextFormCase {
    Error error;
    const char* text;
};

TEST(ErrorTextForms, Table)
{
    TransportError timeout;
    timeout.code = 5;
    timeout.description = "The request timed out.";
    timeout.details = "OperationCanceledError: Operation canceled; GET http://127.0.0.1:1/api/x";
    const std::vector<TextFormCase> cases{
        {APIError::serverError(401, "Login failed"), "serverError(401, \"Login failed\")"},
        {APIError::serverError(500, "oops"), "serverError(500, \"oops\")"},
        {APIError::serverError(404, "%1 %2"), "serverError(404, \"%1 %2\")"},
        {APIError::serverError(204, ""), "serverError(204, \"\")"},
        {APIError::unauthorized(), "unauthorized"},
        {APIError::decodingError(), "decodingError"},
        {APIError::networkError("Error Domain=HTTP Code=-1 \"(null)\"", "x"), "networkError(Error Domain=HTTP Code=-1 \"(null)\")"},
        {timeout, "Error Domain=QNetworkReply Code=5 \"The request timed out.\" "
                  "(OperationCanceledError: Operation canceled; GET http://127.0.0.1:1/api/x)"},
        {DecodeError{"no value"}, "DecodeError(\"no value\")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(s(textForm(c.error)), c.text);
}

TEST(ErrorTextForms, RefusedLogin)
{
    EXPECT_TRUE(APIError::unauthorized().isRefusedLogin());
    EXPECT_TRUE(APIError::serverError(401, "Login failed").isRefusedLogin());
    EXPECT_FALSE(APIError::serverError(500, "x").isRefusedLogin());
    EXPECT_FALSE(APIError::serverError(403, "x").isRefusedLogin());
    EXPECT_FALSE(APIError::decodingError().isRefusedLogin());
    EXPECT_FALSE(APIError::networkError("a", "b").isRefusedLogin());
}

TEST(ErrorTextForms, LocalizedDescriptions)
{
    TransportError t;
    t.description = "Could not connect to the server.";
    EXPECT_EQ(s(localizedDescription(t)), "Could not connect to the server.");
    EXPECT_EQ(s(localizedDescription(DecodeError{"bad"})), "bad");
    EXPECT_EQ(s(localizedDescription(APIError::networkError("x", "y"))), "y");
    EXPECT_EQ(s(localizedDescription(APIError::serverError(500, "oops"))), "Server error (500): oops");
}

} // namespace
