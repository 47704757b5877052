// The wire records: key conversion, required and optional fields, number
// types, exact 64-bit ids, and what a broken body turns into.
#include "api/CardRecords.h"
#include "api/JournalRecords.h"
#include "api/JsonDecoding.h"

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

TEST(SnakeCaseKeys, ConvertToCamelCase)
{
    const std::pair<const char*, const char*> cases[] = {
        {"deck_id", "deckId"}, {"DECK_ID", "deckId"}, {"trouble_score", "troubleScore"}, {"a_b_c", "aBC"},
        {"ease__factor", "easeFactor"}, // a run counts as one
        {"_deck_id", "_deckId"},        // leading kept
        {"deck_id_", "deckId_"},        // trailing kept
        {"__deck__id__", "__deckId__"},
        {"id", "id"}, {"ID", "ID"}, // a single part is left as it is
        {"deckId", "deckId"}, {"_id_", "_id_"}, {"___", "___"}, {"", ""}, {"Deck_NAME", "deckName"},
        {"caf\xc3\xa9_\xc3\xa9t\xc3\xa9", "caf\xc3\xa9\xc3\x89t\xc3\xa9"},
    };
    for (const auto& [wire, field] : cases)
        EXPECT_EQ(s(JsonDecoding::convertFromSnakeCase(QString::fromUtf8(wire))), field) << wire;
}

// ---- trouble cards ------------------------------------------------------------

QByteArray list(const QByteArray& card)
{
    return "{\"data\": [" + card + "]}";
}

TEST(TroubleCardDecoding, MinimalAndFullCardsInServerOrder)
{
    const auto r = decodeTroubleCardsResponse(R"({"data": [{"id": 7, "deck_id": 3, "front": "hund", "back": "dog",
        "notes": null, "deck_name": "Danish", "trouble_score": 2.25},
        {"id": 1, "deck_id": 2, "front": "Ærø 😀", "back": "e\u0301", "notes": "n", "deck_name": "D", "trouble_score": 3,
        "extra": {"ignored": true},
        "review": {"ease_factor": 2, "interval": 6, "repetitions": 2, "due_date": "2026-03-07T09:00:00Z"}}]})");
    ASSERT_TRUE(r.ok()) << errorText(r);
    ASSERT_EQ(r.value().data.size(), 2);
    const TroubleCard& c = r.value().data[0];
    EXPECT_EQ(c.id, 7);
    EXPECT_EQ(c.deckId, 3);
    EXPECT_EQ(s(c.front), "hund");
    EXPECT_EQ(s(c.back), "dog");
    EXPECT_FALSE(c.notes.has_value());
    EXPECT_EQ(s(c.deckName), "Danish");
    EXPECT_DOUBLE_EQ(c.troubleScore, 2.25);
    EXPECT_FALSE(c.review.has_value());
    const TroubleCard& full = r.value().data[1];
    EXPECT_EQ(full.front, QString::fromUtf8("Ærø 😀"));
    EXPECT_EQ(full.back, QString::fromUtf8("e\xcc\x81"));
    EXPECT_EQ(s(*full.notes), "n");
    EXPECT_DOUBLE_EQ(full.troubleScore, 3.0); // an integer is a fine double
    ASSERT_TRUE(full.review.has_value());
    EXPECT_DOUBLE_EQ(full.review->easeFactor, 2.0);
    EXPECT_EQ(full.review->interval, 6);
    EXPECT_EQ(full.review->repetitions, 2);
    EXPECT_EQ(s(full.review->dueDate), "2026-03-07T09:00:00Z"); // kept as received
}

TEST(TroubleCardDecoding, IdsAreExact64BitIntegers)
{
    const struct {
        const char* id;
        const char* deckId;
        std::int64_t expectedId, expectedDeckId;
    } cases[] = {
        {"9007199254740993", "9223372036854775807", 9007199254740993LL, 9223372036854775807LL}, // above 2^53
        {"-9223372036854775808", "-1", std::numeric_limits<std::int64_t>::min(), -1},
        {"3.0", "2e0", 3, 2}, // the integer 3 written differently; 3.5 fails (below)
    };
    for (const auto& c : cases) {
        const auto r = decodeTroubleCardsResponse(list(QByteArray("{\"id\": ") + c.id + ", \"deck_id\": " + c.deckId
                                                       + R"(, "front": "F", "back": "B", "deck_name": "D", "trouble_score": -0.5})"));
        ASSERT_TRUE(r.ok()) << c.id << ": " << errorText(r);
        EXPECT_EQ(r.value().data[0].id, c.expectedId);
        EXPECT_EQ(r.value().data[0].deckId, c.expectedDeckId);
    }
    // And back out again, unchanged.
    const auto big = decodeTroubleCardsResponse(list(R"({"id": 9007199254740993, "deck_id": 1, "front": "F",
        "back": "B", "deck_name": "D", "trouble_score": 1})"));
    ASSERT_TRUE(big.ok()) << errorText(big);
    const QByteArray out = QJsonDocument(toJson(big.value().data[0])).toJson(QJsonDocument::Compact);
    EXPECT_TRUE(out.contains("\"id\":9007199254740993")) << out.toStdString();
}

// ---- what a broken body turns into -----------------------------------------------

template <class T>
std::optional<Error> failureOf(const Result<T>& r)
{
    return r.ok() ? std::nullopt : std::optional<Error>(r.error());
}
std::optional<Error> cards(const QByteArray& b) { return failureOf(decodeTroubleCardsResponse(b)); }
std::optional<Error> journal(const QByteArray& b) { return failureOf(decodeJournalListResponse(b)); }
std::optional<Error> normalize(const QByteArray& b) { return failureOf(decodeNormalizeResponse(b)); }

struct BadBody {
    const char* name;
    std::optional<Error> (*decode)(const QByteArray&);
    const char* body;
    const char* mentions; // a word the description must contain
};

#define CARD_WITH(extra) "{\"data\": [{\"deck_id\": 2, \"front\": \"F\", \"back\": \"B\", \"deck_name\": \"D\", " extra "}]}"
#define ENTRY_WITH(fields) "{\"data\": [{\"id\": 1, " fields "}]}"

TEST(Decoding, BrokenBodiesFailWholeWithAReadableReason)
{
    const BadBody cases[] = {
        {"no data", cards, R"({"cards": []})", "\"data\""},
        {"data null", cards, R"({"data": null})", "null"},
        {"top-level array", cards, R"([])", "an object"},
        {"trouble score as string", cards, CARD_WITH("\"id\": 1, \"trouble_score\": \"3\""), "data[0].trouble_score"},
        {"id as fraction", cards, CARD_WITH("\"id\": 3.5, \"trouble_score\": 1"), "data[0].id"},
        {"id as string", cards, CARD_WITH("\"id\": \"3\", \"trouble_score\": 1"), "an integer"},
        {"id as boolean", cards, CARD_WITH("\"id\": true, \"trouble_score\": 1"), "a boolean"},
        {"id missing", cards, CARD_WITH("\"trouble_score\": 1"), "\"id\""},
        {"front null", cards, R"({"data": [{"id": 1, "deck_id": 2, "front": null, "back": "B", "deck_name": "D", "trouble_score": 1}]})", "\"front\""},
        {"notes number", cards, CARD_WITH("\"id\": 1, \"trouble_score\": 1, \"notes\": 5"), "data[0].notes"},
        {"review without due date", cards, CARD_WITH("\"id\": 1, \"trouble_score\": 1, \"review\": {\"ease_factor\": 2.5, \"interval\": 1, \"repetitions\": 0}"), "\"due_date\""},
        {"review interval fraction", cards, CARD_WITH("\"id\": 1, \"trouble_score\": 1, \"review\": {\"ease_factor\": 2.5, \"interval\": 1.5, \"repetitions\": 0, \"due_date\": \"x\"}"), "data[0].review.interval"},
        {"second card broken", cards, R"({"data": [{"id": 1, "deck_id": 2, "front": "F", "back": "B", "deck_name": "D", "trouble_score": 1}, {"id": 2}]})", "data[1]"},
        {"truncated", cards, R"({"data": [)", "valid JSON"},
        {"invalid UTF-8", cards, "{\"data\": [{\"front\": \"\xff\"}]}", "valid JSON"},
        {"number among tags", journal, ENTRY_WITH(R"("title": "t", "content": "c", "tags": ["a", 2])"), "data[0].tags[1]"},
        {"tags a string", journal, ENTRY_WITH(R"("title": "t", "content": "c", "tags": "a")"), "an array"},
        {"no content", journal, ENTRY_WITH(R"("title": "t")"), "\"content\""},
        {"title null", journal, ENTRY_WITH(R"("title": null, "content": "c")"), "\"title\""},
        {"entry id string", journal, R"({"data": [{"id": "1", "title": "t", "content": "c"}]})", "data[0].id"},
        {"inserted_at number", journal, ENTRY_WITH(R"("title": "t", "content": "c", "inserted_at": 5)"), "data[0].inserted_at"},
        {"normalize without content", normalize, R"({"data": {"title": "T"}})", "\"content\""},
        {"normalize outside data", normalize, R"({"title": "T", "content": "C"})", "\"data\""},
    };
    for (const BadBody& c : cases) {
        const std::optional<Error> e = c.decode(QByteArray(c.body));
        ASSERT_TRUE(e.has_value()) << c.name;
        const auto* d = std::get_if<DecodeError>(&*e);
        ASSERT_NE(d, nullptr) << c.name;
        EXPECT_NE(d->description.indexOf(QString::fromUtf8(c.mentions)), -1) << c.name << ": " << s(d->description);
    }
}

TEST(JsonParsing, AnyTopLevelValue)
{
    for (const char* good : {"5", "\"x\"", " null "})
        EXPECT_TRUE(JsonDecoding::parse(good).ok()) << good;
    for (const char* bad : {"1, 2", "", "]", "["})
        EXPECT_FALSE(JsonDecoding::parse(bad).ok()) << bad;
}

// ---- journal --------------------------------------------------------------------

TEST(JournalDecoding, OptionalFieldsAbsentWhenMissingOrNullElseKeptAsSent)
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
    const auto null = decodeJournalEntryResponse(R"({"data": {"id": 1, "title": "t", "content": "c", "tags": null}})");
    ASSERT_TRUE(null.ok());
    EXPECT_FALSE(null.value().data.tags.has_value());
    const auto listed = decodeJournalListResponse(R"({"data": [{"id": 1, "title": "t", "content": "c", "tags": [],
        "inserted_at": "2026-03-07T09:05:03Z", "updatedAt": "later"}, {"id": 2, "title": "t", "content": "c", "tags": ["a", "b"]}]})");
    ASSERT_TRUE(listed.ok()) << errorText(listed);
    ASSERT_TRUE(listed.value().data[0].tags.has_value());
    EXPECT_TRUE(listed.value().data[0].tags->isEmpty());
    EXPECT_EQ(s(*listed.value().data[0].insertedAt), "2026-03-07T09:05:03Z");
    EXPECT_EQ(s(*listed.value().data[0].updatedAt), "later");
    EXPECT_EQ(*listed.value().data[1].tags, (QStringList{"a", "b"}));
}

} // namespace
