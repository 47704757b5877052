// The draft store against a real settings file in a temporary directory:
// what is written (keys, id case, dates), ordering, and what happens to
// stored data that cannot be read.

#include "journal/DraftStore.h"
#include "journal/EditDraftStore.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

class DraftStoreTest : public ::testing::Test {
protected:
    QSettings settings() const { return QSettings(file_, QSettings::IniFormat); }
    QByteArray storedBytes() const { return settings().value(DraftStore::key).toByteArray(); }
    QJsonObject stored(int i = 0) const { return QJsonDocument::fromJson(storedBytes()).array().at(i).toObject(); }
    void storeRaw(const QVariant& value) { settings().setValue(DraftStore::key, value); }
    QStringList backupKeys() const { return settings().allKeys().filter(DraftStore::backupKeyPrefix); }
    static NoteDraft draft(const QString& text) { return NoteDraft::make(QUuid::createUuid(), text); }

    QTemporaryDir dir_;
    QString file_ = dir_.filePath(QStringLiteral("drafts.conf"));
    DraftStore s{file_};
    LogCapture log_;
};

TEST_F(DraftStoreTest, NewDraftsGoFirstUpdatesKeepTheirPlaceAndDeleteRemovesEveryCopy)
{
    NoteDraft a = draft(QStringLiteral("A \u00e9\u6f22"));
    NoteDraft b = draft(QStringLiteral("B"));
    s.save(a);
    s.save(b);
    a.text = QStringLiteral("A'");
    s.save(a);
    const QList<NoteDraft> all = DraftStore(file_).loadAll();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all.at(0).id, b.id);
    EXPECT_EQ(all.at(1).id, a.id);
    EXPECT_EQ(all.at(1).text, QStringLiteral("A'"));
    EXPECT_EQ(s.mostRecent()->id, b.id);
    EXPECT_EQ(s.get(a.id)->text, QStringLiteral("A'"));

    // A second element with a's id, as an older version might have left.
    storeRaw(QJsonDocument(QJsonArray{stored(0), stored(1), a.toJson()}).toJson(QJsonDocument::Compact));
    s.remove(a.id);
    ASSERT_EQ(s.loadAll().size(), 1);
    EXPECT_EQ(s.loadAll().at(0).id, b.id);
    EXPECT_FALSE(s.get(a.id).has_value());
    s.remove(b.id);
    EXPECT_EQ(storedBytes(), QByteArray("[]"));
}

TEST_F(DraftStoreTest, WritesOnlyTheSetKeysUpperCaseIdsAndSecondsFrom2001)
{
    NoteDraft plain = draft(QStringLiteral("  untrimmed\n"));
    plain.createdAt = QDateTime(QDate(2001, 1, 2), QTime(0, 0), QTimeZone::utc());
    plain.updatedAt = QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 250), QTimeZone::utc());
    s.save(plain);
    EXPECT_EQ(stored().keys(), (QStringList{"createdAt", "id", "isNormalized", "text", "updatedAt"}));
    EXPECT_EQ(stored().value("id").toString(), plain.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(stored().value("text").toString(), QStringLiteral("  untrimmed\n"));
    EXPECT_FALSE(stored().value("isNormalized").toBool());
    EXPECT_DOUBLE_EQ(stored().value("createdAt").toDouble(), 86400.0);
    EXPECT_DOUBLE_EQ(stored().value("updatedAt").toDouble(), 1.25);

    NoteDraft done = plain;
    done.normalizedTitle = QStringLiteral("T");
    done.normalizedContent = QStringLiteral("# C");
    done.normalizedTags = QStringList{};
    done.isNormalized = true;
    s.save(done);
    EXPECT_EQ(stored().value("normalizedTitle").toString(), QStringLiteral("T"));
    EXPECT_EQ(stored().value("normalizedContent").toString(), QStringLiteral("# C"));
    EXPECT_TRUE(stored().value("normalizedTags").isArray()); // an empty list is not none
    EXPECT_EQ(*s.get(plain.id), done); // the dates too
}

// A stored array with a second draft that has one key changed (undefined:
// left out): one malformed draft makes the whole value unreadable.
TEST(DraftDecoding, AnyMalformedDraftSpoilsTheArrayAndTheLenientFormsRead)
{
    const QJsonObject valid{{"id", "6F9619FF-8B86-D011-B42D-00C04FC964FF"}, {"text", "x"}, {"isNormalized", false},
                            {"createdAt", 0}, {"updatedAt", 1.5}};
    const struct { const char* key; QJsonValue value; bool reads; } cases[] = {
        {"isNormalized", QJsonValue::Undefined, false},
        {"text", QJsonValue::Undefined, false},
        {"id", "draft-1", false},
        {"id", "6F9619FF-8B86-D011-B42D-00C04FC964FG", false}, // the right length, not a UUID
        {"createdAt", "2024-01-01", false},
        {"updatedAt", "0", false},
        {"normalizedTitle", 1, false},
        {"normalizedContent", true, false},
        {"normalizedTags", "a", false},
        {"normalizedTags", QJsonArray{"a", 1}, false},
        {"id", "6f9619ff-8b86-d011-b42d-00c04fc964ff", true},
        {"id", "00000000-0000-0000-0000-000000000000", true},
        {"normalizedTitle", QJsonValue::Null, true},
        {"normalizedContent", QJsonValue::Null, true},
        {"normalizedTags", QJsonValue::Null, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + QJsonDocument(QJsonArray{c.value}).toJson().toStdString());
        QJsonObject o = valid;
        if (c.value.isUndefined())
            o.remove(QLatin1String(c.key));
        else
            o.insert(QLatin1String(c.key), c.value);
        const auto decoded = DraftStore::decode(QJsonDocument(QJsonArray{valid, o}).toJson());
        ASSERT_EQ(decoded.has_value(), c.reads);
        if (c.reads) {
            EXPECT_EQ(decoded->at(1).id, QUuid::fromString(o.value("id").toString()));
            EXPECT_FALSE(decoded->at(1).normalizedTitle || decoded->at(1).normalizedContent
                         || decoded->at(1).normalizedTags);
        }
    }
    EXPECT_FALSE(DraftStore::decode("[{\"id\":").has_value());
    EXPECT_FALSE(DraftStore::decode("{\"id\":1}").has_value());
}

// An unreadable stored value (here a string where the store keeps data) is
// treated as no drafts, and kept aside, once and with a log line, before the
// next write replaces it; an earlier backup is never overwritten.
TEST_F(DraftStoreTest, UndecodableValuesAreBackedUpBeforeTheFirstOverwrite)
{
    storeRaw(QStringLiteral("[]"));
    EXPECT_TRUE(s.loadAll().isEmpty());
    EXPECT_FALSE(s.mostRecent().has_value());
    EXPECT_TRUE(backupKeys().isEmpty()) << "reading must not touch the store";
    NoteDraft fresh = draft(QStringLiteral("new"));
    s.save(fresh);
    ASSERT_EQ(s.loadAll().size(), 1);
    EXPECT_EQ(s.loadAll().at(0).id, fresh.id);
    const QStringList keys = backupKeys();
    ASSERT_EQ(keys.size(), 1);
    EXPECT_EQ(settings().value(keys.at(0)).toByteArray(), QByteArray("[]"));
    EXPECT_FALSE(log_.messages().filter(keys.at(0)).isEmpty());
    s.remove(fresh.id); // readable again: no more backups
    EXPECT_EQ(backupKeys().size(), 1);

    // Backups made in quick succession each keep a key of their own.
    storeRaw(QByteArray("second broken"));
    s.remove(QUuid::createUuid());
    storeRaw(QByteArray("third broken"));
    s.save(draft(QStringLiteral("x")));
    QStringList values;
    for (const QString& k : backupKeys())
        values.append(QString::fromUtf8(settings().value(k).toByteArray()));
    values.sort();
    EXPECT_EQ(values, (QStringList{"[]", "second broken", "third broken"}));
}

// An edit draft reads back as written (an id past 2^53 included); one
// malformed element makes the whole value unreadable.
TEST(EditDraftStore, RoundTripAndMalformedValues)
{
    QTemporaryDir dir;
    EditDraftStore store(dir.filePath(QStringLiteral("edits.conf")));
    const EditDraft d{9007199254740993, QStringLiteral("T"), QStringLiteral("C\n"), QStringLiteral("a, b"),
                      DraftDates::fromStored(12.5)};
    store.save(d);
    store.save({d.entryId + 1, {}, {}, {}, d.updatedAt});
    EXPECT_EQ(store.get(d.entryId).draft, d);
    store.remove(d.entryId);
    EXPECT_FALSE(store.get(d.entryId).draft.has_value());
    EXPECT_TRUE(store.get(d.entryId + 1).draft.has_value());

    const QByteArray good = R"({"entryId":"1","title":"t","content":"c","tags":"","updatedAt":0})";
    const struct { QByteArray element; bool reads; } cases[] = {
        {good, true},
        {R"({"entryId":1,"title":"t","content":"c","tags":"","updatedAt":0})", false},
        {R"({"entryId":"x","title":"t","content":"c","tags":"","updatedAt":0})", false},
        {R"({"entryId":"1","title":"t","content":"c","updatedAt":0})", false},
        {R"({"entryId":"1","title":"t","content":"c","tags":"","updatedAt":"0"})", false},
        {R"("1")", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EditDraftStore::decode("[" + good + "," + c.element + "]").has_value(), c.reads) << c.element.data();
    EXPECT_FALSE(EditDraftStore::decode(good).has_value());
}

} // namespace
