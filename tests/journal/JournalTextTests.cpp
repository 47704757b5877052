// Widget-free rules of the journal forms: search, tag fields, entry dates
// and the failure lines.

#include "JournalText.h"

#include <gtest/gtest.h>

namespace {

using namespace JournalText;

JournalEntryData entry(std::int64_t id, const QString& title, std::optional<QStringList> tags = std::nullopt,
                       const QString& content = {})
{
    JournalEntryData e;
    e.id = id;
    e.title = title;
    e.content = content;
    e.tags = std::move(tags);
    return e;
}

QList<std::int64_t> ids(const QList<JournalEntryData>& entries)
{
    QList<std::int64_t> out;
    for (const auto& e : entries)
        out.append(e.id);
    return out;
}

TEST(JournalSearch, Cases)
{
    const QList<JournalEntryData> entries = {
        entry(1, QStringLiteral("Learning cats")),
        entry(2, QStringLiteral("Shelf"), QStringList{QStringLiteral("Catalogue")}),
        entry(3, QStringLiteral("Dogs"), std::nullopt, QStringLiteral("about a cat")),
        entry(4, QStringLiteral("two words")),
        entry(5, QStringLiteral("x"), QStringList{QStringLiteral("with space")}),
        entry(6, QStringLiteral("Caf\u00e9 notes")),                 // precomposed
        entry(7, QStringLiteral("Cafe\u0301 decomposed")),          // e + combining acute
        entry(8, QStringLiteral("STRASSE"), QStringList{QStringLiteral("\u0130stanbul")}),
        entry(9, QStringLiteral("\u0394\u03b9\u03ac\u03b2\u03b1\u03c3\u03bc\u03b1")), // Greek
    };
    const struct {
        const char* name;
        QString query;
        QList<std::int64_t> expected;
    } cases[] = {
        {"upper-case query over title and tags, not content", "CAT", {1, 2}},
        {"empty query lists everything", "", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"one space matches spaces only", " ", {1, 4, 5, 6, 7}},
        {"not trimmed", " cats", {1}},
        {"canonical equivalence, both spellings", QStringLiteral("caf\u00e9"), {6, 7}},
        {"decomposed query finds both", QStringLiteral("cafe\u0301"), {6, 7}},
        {"no diacritic folding", "cafe", {}},
        {"full lower-casing of a dotted capital I", QStringLiteral("i\u0307stanbul"), {8}},
        {"greek lower-casing", QStringLiteral("\u0394\u0399\u0386"), {9}},
        {"no match", "zebra", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ids(filterEntries(entries, c.query)), c.expected);
    }
}

TEST(JournalSearch, IndexMatchesInEntryOrder)
{
    QList<JournalEntryData> entries;
    for (int i = 0; i < 50; ++i)
        entries.append(entry(i, QStringLiteral("Entry %1").arg(i)));
    SearchIndex index(entries);
    EXPECT_EQ(index.matches(QStringLiteral("entry 4")), (QList<qsizetype>{4, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49}));
}

TEST(JournalTags, Parsing)
{
    const struct {
        QString field;
        QStringList tags;
    } cases[] = {
        {"a, b,,c , ", {"a", "b", "c"}},
        {"", {}},
        {" , ,", {}},
        {"\tx\t,\u00a0y\u3000", {"x", "y"}},
        {"dup, dup", {"dup", "dup"}},
        {"line\n, two words ", {"line\n", "two words"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field.toStdString());
        EXPECT_EQ(parseTags(c.field), c.tags);
    }
    EXPECT_EQ(joinTags(QStringList{"a", "b"}), QStringLiteral("a, b"));
    EXPECT_EQ(joinTags(std::nullopt), QString());
}

TEST(JournalDates, MediumStyleFromInternetDateTimes)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QTimeZone utc = QTimeZone::utc();
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {"2025-01-15T10:30:00.123Z", "Jan 15, 2025"},
        {"2025-01-15T10:30:00Z", "Jan 15, 2025"},
        {"2026-11-30T23:59:59+00:00", "Nov 30, 2026"},
        {"2026-11-30T23:30:00-02:00", "Dec 1, 2026"},     // shown in the viewer's zone
        {"yesterday", "yesterday"},
        {"2025-01-15", "2025-01-15"},                     // a date alone is not a date-time
        {"2025-01-15T10:30:00", "2025-01-15T10:30:00"},   // nor one without a zone
        {"2025-13-45T10:30:00Z", "2025-13-45T10:30:00Z"}, // nor an impossible one
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.toStdString());
        EXPECT_EQ(formatEntryDate(c.in, us, utc), c.out);
    }
    EXPECT_EQ(formatEntryDate(QStringLiteral("2025-01-15T23:30:00Z"), us, QTimeZone("Asia/Tokyo")),
              QStringLiteral("Jan 16, 2025"));
}

TEST(JournalFailures, QuickNoteLinesAndBrowserDescriptions)
{
    TransportError transport;
    transport.code = 1;
    transport.description = QStringLiteral("Connection refused");
    const struct {
        const char* name;
        Error error;
        QString quickNote;
    } cases[] = {
        {"server", APIError::serverError(500, QStringLiteral("boom")), "Server error (500)"},
        {"network", APIError::networkError(QStringLiteral("E"), QStringLiteral("The host is down")),
         "Network error: The host is down"},
        {"unauthorized", APIError::unauthorized(), "Not logged in"},
        {"decoding", APIError::decodingError(), "Unexpected response"},
        {"transport", transport, "Failed: Connection refused"},
        {"decode error", DecodeError{QStringLiteral("missing key data")}, "Failed: missing key data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(quickNoteFailure(c.error), c.quickNote);
        EXPECT_FALSE(errorDescription(c.error).trimmed().isEmpty());
    }
    EXPECT_EQ(errorDescription(APIError::serverError(404, QStringLiteral("Not found"))),
              QStringLiteral("serverError(404, \"Not found\")"));
    EXPECT_EQ(errorDescription(APIError::unauthorized()), QStringLiteral("unauthorized"));
    EXPECT_EQ(errorDescription(transport), QStringLiteral("Connection refused"));
}

} // namespace
