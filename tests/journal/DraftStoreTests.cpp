// The draft store against a real QSettings file in a temporary directory:
// what is written (keys, id case, dates), ordering, and what happens to
// stored data that cannot be read.

#include "DraftStore.h"
#include "PrivateDrafts.h"
#include "ServiceSupport.h"
#include "Log.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

class DraftStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        file_ = dir_.filePath(QStringLiteral("drafts.conf"));
        LogFile::setPathForTesting(dir_.filePath(QStringLiteral("log.txt")));
    }
    void TearDown() override { LogFile::setPathForTesting({}); }

    DraftStore store() const { return DraftStore(file_); }
    QSettings settings() const { return QSettings(file_, QSettings::IniFormat); }
    QByteArray storedBytes() const { return settings().value(QLatin1String(DraftStore::key)).toByteArray(); }
    QJsonArray storedArray() const { return QJsonDocument::fromJson(storedBytes()).array(); }
    void storeRaw(const QVariant& value)
    {
        QSettings s = settings();
        s.setValue(QLatin1String(DraftStore::key), value);
        s.sync();
    }
    QStringList backupKeys() const
    {
        QStringList keys;
        for (const QString& k : settings().allKeys())
            if (k.startsWith(QLatin1String(DraftStore::backupKeyPrefix)))
                keys.append(k);
        return keys;
    }
    QString logText() const
    {
        QFile f(dir_.filePath(QStringLiteral("log.txt")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    static NoteDraft draft(const QString& text)
    {
        return NoteDraft::make(QUuid::createUuid(), text);
    }

    QTemporaryDir dir_;
    QString file_;
};

TEST_F(DraftStoreTest, EmptyStoreHasNoDrafts)
{
    DraftStore s = store();
    EXPECT_TRUE(s.loadAll().isEmpty());
    EXPECT_FALSE(s.mostRecent().has_value());
    EXPECT_FALSE(s.get(QUuid::createUuid()).has_value());
}

TEST_F(DraftStoreTest, NewDraftsGoFirstAndUpdatesKeepTheirPlace)
{
    DraftStore s = store();
    NoteDraft a = draft(QStringLiteral("A"));
    NoteDraft b = draft(QStringLiteral("B"));
    s.save(a);
    s.save(b);
    ASSERT_EQ(s.loadAll().size(), 2);
    EXPECT_EQ(s.loadAll().at(0).text, QStringLiteral("B"));
    EXPECT_EQ(s.loadAll().at(1).text, QStringLiteral("A"));

    a.text = QStringLiteral("A'");
    s.save(a);
    const QList<NoteDraft> all = s.loadAll();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all.at(0).id, b.id);
    EXPECT_EQ(all.at(1).id, a.id);
    EXPECT_EQ(all.at(1).text, QStringLiteral("A'"));
    EXPECT_EQ(s.mostRecent()->id, b.id);
    EXPECT_EQ(s.get(a.id)->text, QStringLiteral("A'"));
}

TEST_F(DraftStoreTest, DeleteRemovesEveryCopyAndAlwaysWrites)
{
    DraftStore s = store();
    NoteDraft a = draft(QStringLiteral("A"));
    NoteDraft b = draft(QStringLiteral("B"));
    s.save(a);
    s.save(b);
    // A second element with a's id, as an older version might have left.
    QJsonArray array = storedArray();
    array.append(a.toJson());
    storeRaw(QJsonDocument(array).toJson(QJsonDocument::Compact));
    s.remove(a.id);
    ASSERT_EQ(s.loadAll().size(), 1);
    EXPECT_EQ(s.loadAll().at(0).id, b.id);

    // An id that is not stored still rewrites the array: a value stored in
    // another layout comes back in the compact one.
    storeRaw(QJsonDocument(storedArray()).toJson(QJsonDocument::Indented));
    s.remove(QUuid::createUuid());
    EXPECT_EQ(storedBytes(), QJsonDocument(storedArray()).toJson(QJsonDocument::Compact));
    s.remove(b.id);
    EXPECT_EQ(storedBytes(), QByteArray("[]"));
}

TEST_F(DraftStoreTest, WrittenObjectsHaveExactlyTheirKeys)
{
    DraftStore s = store();
    NoteDraft plain = draft(QStringLiteral("  untrimmed\n"));
    s.save(plain);
    QJsonObject o = storedArray().at(0).toObject();
    QStringList keys = o.keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"createdAt", "id", "isNormalized", "text", "updatedAt"}));
    EXPECT_EQ(o.value("text").toString(), QStringLiteral("  untrimmed\n"));
    EXPECT_FALSE(o.value("isNormalized").toBool());

    NoteDraft done = plain;
    done.normalizedTitle = QStringLiteral("T");
    done.normalizedContent = QStringLiteral("# C");
    done.normalizedTags = QStringList{};
    done.isNormalized = true;
    s.save(done);
    o = storedArray().at(0).toObject();
    EXPECT_EQ(o.value("normalizedTitle").toString(), QStringLiteral("T"));
    EXPECT_EQ(o.value("normalizedContent").toString(), QStringLiteral("# C"));
    EXPECT_TRUE(o.value("normalizedTags").isArray()); // an empty list is not none
    EXPECT_EQ(*s.get(plain.id), done);
}

TEST_F(DraftStoreTest, NullOptionalsReadAsNone)
{
    const QByteArray stored = R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","text":"x","normalizedTitle":null,
        "normalizedContent":null,"normalizedTags":null,"isNormalized":false,"createdAt":0,"updatedAt":1.5}])";
    storeRaw(stored);
    const auto d = store().mostRecent();
    ASSERT_TRUE(d.has_value());
    EXPECT_FALSE(d->normalizedTitle.has_value());
    EXPECT_FALSE(d->normalizedContent.has_value());
    EXPECT_FALSE(d->normalizedTags.has_value());
}

TEST_F(DraftStoreTest, DatesCountSecondsFrom2001)
{
    NoteDraft d = draft(QStringLiteral("x"));
    d.createdAt = QDateTime(QDate(2001, 1, 2), QTime(0, 0), QTimeZone::utc());
    d.updatedAt = QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 250), QTimeZone::utc());
    DraftStore s = store();
    s.save(d);
    const QJsonObject o = storedArray().at(0).toObject();
    EXPECT_TRUE(o.value("createdAt").isDouble());
    EXPECT_DOUBLE_EQ(o.value("createdAt").toDouble(), 86400.0);
    EXPECT_DOUBLE_EQ(o.value("updatedAt").toDouble(), 1.25);
    EXPECT_EQ(s.get(d.id)->createdAt, d.createdAt);

    // A draft made now is written as about 820 million seconds, not 1.7 billion.
    s.save(draft(QStringLiteral("now")));
    const double now = storedArray().at(0).toObject().value("createdAt").toDouble();
    const double expected = double(QDateTime::currentSecsSinceEpoch() - 978307200);
    EXPECT_NEAR(now, expected, 5.0);
}

TEST_F(DraftStoreTest, IdsAreWrittenUpperCaseAndReadInEitherCase)
{
    DraftStore s = store();
    NoteDraft d = draft(QStringLiteral("x"));
    s.save(d);
    const QString id = storedArray().at(0).toObject().value("id").toString();
    EXPECT_EQ(id.size(), 36);
    EXPECT_EQ(id, id.toUpper());
    EXPECT_EQ(QUuid::fromString(id), d.id);

    storeRaw(QByteArray(R"([{"id":"6f9619ff-8b86-d011-b42d-00c04fc964ff","text":"lower","isNormalized":false,)"
                        R"("createdAt":0,"updatedAt":0}])"));
    EXPECT_TRUE(s.get(QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"))).has_value());
}

// Every way a stored value can be unreadable: treated as no drafts, and
// kept aside (once, with a log line) before the next write replaces it.
TEST_F(DraftStoreTest, UndecodableValuesAreBackedUpBeforeTheFirstOverwrite)
{
    const QList<QPair<const char*, QVariant>> cases = {
        {"malformed JSON", QByteArray("[{\"id\":")},
        {"not an array", QByteArray("{\"id\":1}")},
        {"missing isNormalized",
         QByteArray(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","text":"kept","createdAt":0,"updatedAt":0}])")},
        {"id not a UUID", QByteArray(R"([{"id":"draft-1","text":"x","isNormalized":false,"createdAt":0,"updatedAt":0}])")},
        {"date as text",
         QByteArray(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","text":"x","isNormalized":false,)"
                    R"("createdAt":"2024-01-01","updatedAt":0}])")},
        {"tags with a number",
         QByteArray(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","text":"x","normalizedTags":["a",1],)"
                    R"("isNormalized":true,"createdAt":0,"updatedAt":0}])")},
        {"a string, not data", QStringLiteral("[]")},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name);
        QSettings(file_, QSettings::IniFormat).clear();
        storeRaw(value);
        const QByteArray original =
            value.typeId() == QMetaType::QByteArray ? value.toByteArray() : value.toString().toUtf8();
        DraftStore s = store();
        EXPECT_TRUE(s.loadAll().isEmpty());
        EXPECT_FALSE(s.mostRecent().has_value());
        EXPECT_TRUE(backupKeys().isEmpty()) << "reading must not touch the store";

        NoteDraft fresh = draft(QStringLiteral("new"));
        s.save(fresh);
        ASSERT_EQ(s.loadAll().size(), 1);
        EXPECT_EQ(s.loadAll().at(0).id, fresh.id);
        const QStringList keys = backupKeys();
        ASSERT_EQ(keys.size(), 1);
        EXPECT_EQ(settings().value(keys.at(0)).toByteArray(), original);
        EXPECT_TRUE(logText().contains(keys.at(0)));

        // Readable again: further writes make no more backups.
        s.remove(fresh.id);
        EXPECT_EQ(backupKeys().size(), 1);
    }
}

TEST_F(DraftStoreTest, AnEarlierBackupIsNeverOverwritten)
{
    DraftStore s = store();
    storeRaw(QByteArray("first broken"));
    s.remove(QUuid::createUuid());
    storeRaw(QByteArray("second broken"));
    s.remove(QUuid::createUuid());
    storeRaw(QByteArray("third broken"));
    s.save(draft(QStringLiteral("x")));
    QStringList values;
    for (const QString& k : backupKeys())
        values.append(QString::fromUtf8(settings().value(k).toByteArray()));
    values.sort();
    EXPECT_EQ(values, (QStringList{"first broken", "second broken", "third broken"}));
}

TEST_F(DraftStoreTest, ManyDraftsKeepTheirOrderAndSurviveANewStoreObject)
{
    QList<QUuid> ids;
    {
        DraftStore s = store();
        for (int i = 0; i < 300; ++i) {
            NoteDraft d = draft(QStringLiteral("note %1 \u00e9\u6f22").arg(i));
            ids.prepend(d.id);
            s.save(d);
        }
    }
    const QList<NoteDraft> all = DraftStore(file_).loadAll();
    ASSERT_EQ(all.size(), 300);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(all.at(i).id, ids.at(i)) << i;
    EXPECT_EQ(all.at(0).text, QStringLiteral("note 299 \u00e9\u6f22"));
}

TEST_F(DraftStoreTest, SharedStoreUsesTheRedirectedFile)
{
    PrivateDrafts drafts;
    NoteDraft d = draft(QStringLiteral("shared"));
    DraftStore::shared().save(d);
    EXPECT_EQ(DraftStore(drafts.path()).mostRecent()->id, d.id);
    EXPECT_EQ(DraftStore::shared().settingsFile(), drafts.path());
}

} // namespace
