// Widget-free rules of the journal forms: search, tag fields, entry dates
// and the failure lines.

#include "journal/JournalText.h"

#include <QNetworkReply>

#include <gtest/gtest.h>

namespace {

using namespace JournalText;

TEST(JournalSearch, Cases)
{
    const QList<JournalEntryData> entries = {
        {1, "Learning cats", {}, {}, {}, {}},
        {2, "Shelf", {}, QStringList{"Catalogue"}, {}, {}},
        {3, "Dogs", "about a cat", {}, {}, {}},
        {4, "two words", {}, {}, {}, {}},
        {5, "x", {}, QStringList{"with space"}, {}, {}},
        {6, QStringLiteral("Caf\u00e9 notes"), {}, {}, {}, {}},        // precomposed
        {7, QStringLiteral("Cafe\u0301 decomposed"), {}, {}, {}, {}}, // e + combining acute
        {8, "STRASSE", {}, QStringList{QStringLiteral("\u0130stanbul")}, {}, {}},
        {9, QStringLiteral("\u0394\u03b9\u03ac\u03b2\u03b1\u03c3\u03bc\u03b1"), {}, {}, {}, {}}, // Greek
    };
    const struct { const char* name; QString query; QList<std::int64_t> expected; } cases[] = {
        {"upper-case query over title and tags, not content", "CAT", {1, 2}},
        {"empty query lists everything", "", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"one space matches spaces only", " ", {1, 4, 5, 6, 7}},
        {"canonical equivalence, both spellings", QStringLiteral("caf\u00e9"), {6, 7}},
        {"decomposed query finds both", QStringLiteral("cafe\u0301"), {6, 7}},
        {"no diacritic folding", "cafe", {}},
        {"full lower-casing of a dotted capital I", QStringLiteral("i\u0307stanbul"), {8}},
        {"greek lower-casing", QStringLiteral("\u0394\u0399\u0386"), {9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QList<std::int64_t> ids;
        for (const JournalEntryData& e : filterEntries(entries, c.query))
            ids.append(e.id);
        EXPECT_EQ(ids, c.expected);
    }
}

TEST(JournalTags, Parsing)
{
    const struct { QString field; QStringList tags; } cases[] = {
        {"a, b,,c , ", {"a", "b", "c"}},
        {" , ,", {}},
        {"\tx\t,\u00a0y\u3000", {"x", "y"}},
        {"line\n, two words ", {"line\n", "two words"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseTags(c.field), c.tags) << c.field.toStdString();
    EXPECT_EQ(joinTags(QStringList{"a", "b"}), QStringLiteral("a, b"));
    EXPECT_EQ(joinTags(std::nullopt), QString());
}

TEST(JournalDates, MediumStyleFromInternetDateTimes)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const struct { QString in, out; } cases[] = {
        {"2025-01-15T10:30:00.123Z", "Jan 15, 2025"},
        {"2025-01-15T10:30:00Z", "Jan 15, 2025"},
        {"2026-11-30T23:30:00-02:00", "Dec 1, 2026"},     // shown in the viewer's zone
        {"yesterday", "yesterday"},
        {"2025-01-15", "2025-01-15"},                     // a date alone is not a date-time
        {"2025-01-15T10:30:00", "2025-01-15T10:30:00"},   // nor one without a zone
        {"2025-13-45T10:30:00Z", "2025-13-45T10:30:00Z"}, // nor an impossible one
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatEntryDate(c.in, us, QTimeZone::utc()), c.out) << c.in.toStdString();
    // The locale's own medium style, not its long one cut down.
    EXPECT_EQ(formatEntryDate("2025-01-15T10:30:00Z", QLocale(QLocale::German, QLocale::Germany), QTimeZone::utc()), "15.01.2025");
    EXPECT_EQ(formatEntryDate("2025-01-15T23:30:00Z", us, QTimeZone("Asia/Tokyo")), "Jan 16, 2025");
}

// The line under the quick note, and what follows the browser's prefixes.
TEST(JournalFailures, QuickNoteLinesAndBrowserDescriptions)
{
    TransportError transport;
    transport.description = QStringLiteral("Connection refused");
    const struct { Error error; QString quickNote; } cases[] = {
        {APIError::networkError("E", "The host is down"), "Network error: The host is down"},
        {APIError::unauthorized(), "Not logged in"},
        {APIError::decodingError(), "Unexpected response"},
        {transport, "Failed: Connection refused"},
        {DecodeError{QStringLiteral("missing key data")}, "Failed: missing key data"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(quickNoteFailure(c.error), c.quickNote);
    // The browser says it in words, never in the error's debug form.
    TransportError refused;
    refused.code = QNetworkReply::ConnectionRefusedError;
    const std::pair<Error, QString> browser[] = {
        {APIError::serverError(500, "db\r\n  down"), "the study service answered 500: db down"},
        {APIError::serverError(502, ""), "the study service answered 502"},
        {APIError::serverError(500, QString(5000, u'x')), "the study service answered 500: " + QString(200, u'x') + QChar(0x2026)},
        {refused, "could not connect to the server"},
        {transport, "Connection refused"},
        {APIError::unauthorized(), "you are not signed in"},
        {DecodeError{"missing key data"}, "the study service sent an answer that could not be read"},
    };
    for (const auto& [error, words] : browser)
        EXPECT_EQ(errorDescription(error), words);
}

} // namespace
