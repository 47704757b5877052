// Opening the database (its checks, schema and migrations), transactions,
// backups and the whole-store snapshot; the queries are in SqlStore.cpp.
#include "service/SqlStore.h"

#include "service/SqlRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace study {

using namespace sqlrows;

namespace {

// "TAVL" in PRAGMA application_id: tells our databases from other SQLite files.
constexpr int kApplicationId = 0x5441564c;

// Migration N brings the schema from version N to N + 1.
const char* const kMigrations[] = {
    R"(
CREATE TABLE accounts (
  id INTEGER PRIMARY KEY,
  email TEXT NOT NULL UNIQUE COLLATE NOCASE,
  salt BLOB NOT NULL,
  password_hash BLOB NOT NULL);
CREATE TABLE decks (
  id INTEGER PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  UNIQUE (account_id, name));
CREATE TABLE cards (
  id INTEGER PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
  deck_id INTEGER NOT NULL REFERENCES decks(id) ON DELETE CASCADE,
  front TEXT NOT NULL,
  back TEXT NOT NULL,
  notes TEXT NOT NULL DEFAULT '',
  tags TEXT NOT NULL DEFAULT '[]',
  canonical TEXT NOT NULL,
  trouble_rank REAL NOT NULL DEFAULT 0,
  lapses INTEGER NOT NULL DEFAULT 0,
  right_run INTEGER NOT NULL DEFAULT 0,
  ease REAL, interval INTEGER, repetitions INTEGER, due TEXT);
CREATE INDEX cards_trouble ON cards (account_id, trouble_rank DESC, id);
CREATE INDEX cards_canonical ON cards (deck_id, canonical);
CREATE TABLE reviews (
  id INTEGER PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
  card_id INTEGER NOT NULL REFERENCES cards(id) ON DELETE CASCADE,
  quality INTEGER NOT NULL,
  reviewed_at TEXT NOT NULL);
CREATE INDEX reviews_card ON reviews (card_id, id);
CREATE TABLE journal (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
  title TEXT NOT NULL,
  content TEXT NOT NULL,
  tags TEXT NOT NULL DEFAULT '[]',
  inserted_at TEXT NOT NULL,
  updated_at TEXT NOT NULL);
CREATE INDEX journal_account ON journal (account_id, id);
CREATE TABLE kept_answers (
  account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
  key TEXT NOT NULL,
  request TEXT NOT NULL,
  status INTEGER NOT NULL,
  body BLOB NOT NULL,
  answered_ms INTEGER NOT NULL,
  PRIMARY KEY (account_id, key));
CREATE INDEX kept_answers_age ON kept_answers (answered_ms);
)",
};
static_assert(std::size(kMigrations) == SqlStore::schemaVersion);

} // namespace

SqlStore::SqlStore(QString connection) : connection_(std::move(connection)) {}

SqlStore::~SqlStore()
{
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

QSqlDatabase SqlStore::db() const { return QSqlDatabase::database(connection_, false); }

QDate SqlStore::today() const { return QDateTime::currentDateTimeUtc().date().addDays(dayShift_); }

std::unique_ptr<SqlStore> SqlStore::open(const QString& path, const OpenOptions& options, QString* error)
{
    static int serial = 0;
    std::unique_ptr<SqlStore> store(new SqlStore(QStringLiteral("study-%1").arg(++serial)));
    if (!store->prepareSchema(path, options, error))
        return nullptr;
    return store;
}

bool SqlStore::prepareSchema(const QString& path, const OpenOptions& options, QString* error)
{
    if (!path.isEmpty()) {
        QFile file(path);
        if (file.exists()) {
            if (!file.open(QIODevice::ReadOnly))
                return fail(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            const QByteArray head = file.read(16);
            if (!head.isEmpty() && !isDatabaseHeader(head))
                return fail(error, QStringLiteral("%1 is not a SQLite database; it is left as it is").arg(path));
        } else if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
            return fail(error, QStringLiteral("cannot create folder %1").arg(QFileInfo(path).absolutePath()));
        }
        // The file holds password hashes: keep it to its owner (SQLite gives
        // its -wal and -shm files the same mode).
        lockFd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd_ < 0)
            return fail(error, QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        // flock() locks are apart from the POSIX locks SQLite takes, and this
        // descriptor stays open so closing it cannot drop those.
        if (options.exclusive && ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0)
            return fail(error, QStringLiteral("%1 is in use by another tavlo-study-service; stop that one first").arg(path));
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    if (!db.isValid())
        return fail(error, QStringLiteral("the Qt SQLite driver is missing (install libqt6sql6-sqlite)"));
    db.setDatabaseName(path.isEmpty() ? QStringLiteral(":memory:") : path);
    // Commands may run beside the service: wait for its write to end instead of failing.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open())
        return fail(error, QStringLiteral("cannot open %1: %2").arg(path, db.lastError().text()));

    QSqlQuery q(db);
    QString why;
    if (!exec(q, QStringLiteral("PRAGMA user_version"), {}, &why) || !q.next())
        return fail(error, QStringLiteral("cannot read %1: %2").arg(path, why));
    int version = q.value(0).toInt();
    if (!exec(q, QStringLiteral("PRAGMA application_id"), {}, &why) || !q.next())
        return fail(error, QStringLiteral("cannot read %1: %2").arg(path, why));
    const int application = q.value(0).toInt();
    if (!exec(q, QStringLiteral("SELECT count(*) FROM sqlite_master"), {}, &why) || !q.next())
        return fail(error, QStringLiteral("cannot read %1: %2").arg(path, why));
    const bool empty = q.value(0).toInt() == 0 && version == 0;
    if (!empty && application != kApplicationId)
        return fail(error, QStringLiteral("%1 is a SQLite database of another program; it is left as it is").arg(path));
    if (version > schemaVersion)
        return fail(error, QStringLiteral("%1 was written by a newer tavlo-study-service (schema %2; this one knows up "
                                          "to %3); it is left as it is")
                               .arg(path).arg(version).arg(schemaVersion));

    if (!exec(q, QStringLiteral("PRAGMA journal_mode=WAL"), {}, &why)
        || !exec(q, QStringLiteral("PRAGMA synchronous=FULL"), {}, &why)
        || !exec(q, QStringLiteral("PRAGMA foreign_keys=ON"), {}, &why))
        return fail(error, QStringLiteral("cannot set up %1: %2").arg(path, why));

    created_ = version == 0;
    // A new database gets its schema and its seed together, or nothing.
    if (!begin(&why))
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, why));
    for (; version < schemaVersion; ++version) {
        const bool ok = transaction(&why, [&] {
            // QSqlQuery runs one statement at a time.
            for (const QString& statement : QString::fromUtf8(kMigrations[version]).split(u';', Qt::SkipEmptyParts)) {
                if (!statement.trimmed().isEmpty() && !exec(q, statement, {}, &why))
                    return false;
            }
            return exec(q, QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId), {}, &why)
                   && exec(q, QStringLiteral("PRAGMA user_version=%1").arg(version + 1), {}, &why);
        });
        if (!ok) {
            rollback();
            return fail(error, QStringLiteral("cannot bring %1 to schema %2: %3").arg(path).arg(version + 1).arg(why));
        }
    }
    if (created_ && options.seedNew && !replaceAll(seedSnapshot(), &why)) {
        rollback();
        return fail(error, QStringLiteral("cannot seed %1: %2").arg(path, why));
    }
    if (!commit(&why))
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, why));
    return true;
}

bool SqlStore::exec(QSqlQuery& q, const QString& sql, const QVariantList& values, QString* error)
{
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return fail(error, q.lastError().text());
    for (const QVariant& v : values) {
        // A null QString binds as NULL; the text columns want ''.
        const bool nullText = v.typeId() == QMetaType::QString && v.toString().isNull();
        q.addBindValue(nullText ? QVariant(QStringLiteral("")) : v);
    }
    if (!q.exec())
        return fail(error, q.lastError().text());
    return true;
}

bool SqlStore::begin(QString* error)
{
    if (depth_++ > 0)
        return true;
    failed_ = false;
    QSqlQuery q(db());
    // IMMEDIATE takes the write lock now, so a busy database waits here and
    // not halfway through the change.
    if (!exec(q, QStringLiteral("BEGIN IMMEDIATE"), {}, error)) {
        depth_ = 0;
        return false;
    }
    return true;
}

bool SqlStore::commit(QString* error)
{
    if (depth_ == 0)
        return fail(error, QStringLiteral("no open transaction"));
    if (--depth_ > 0)
        return !failed_;
    QSqlQuery q(db());
    if (failed_) {
        exec(q, QStringLiteral("ROLLBACK"), {}, nullptr);
        return fail(error, QStringLiteral("an earlier part of the change failed"));
    }
    if (exec(q, QStringLiteral("COMMIT"), {}, error))
        return true;
    exec(q, QStringLiteral("ROLLBACK"), {}, nullptr);
    return false;
}

void SqlStore::rollback()
{
    if (depth_ == 0)
        return;
    if (--depth_ > 0) {
        failed_ = true;
        return;
    }
    QSqlQuery q(db());
    exec(q, QStringLiteral("ROLLBACK"), {}, nullptr);
}

bool SqlStore::backupTo(const QString& file, QString* error)
{
    if (QFileInfo::exists(file))
        return fail(error, QStringLiteral("%1 exists already").arg(file));
    QSqlQuery q(db());
    return exec(q, QStringLiteral("VACUUM INTO ?"), {file}, error);
}

QString SqlStore::integrityCheck()
{
    QSqlQuery q(db());
    QString why;
    if (!exec(q, QStringLiteral("PRAGMA integrity_check"), {}, &why))
        return why;
    QStringList out;
    while (q.next())
        out.append(q.value(0).toString());
    return out.join(u'\n');
}

bool SqlStore::replaceAll(const Snapshot& data, QString* error)
{
    QSqlQuery q(db());
    const QDate day = today();
    return transaction(error, [&] {
        for (const char* table : {"kept_answers", "reviews", "journal", "cards", "decks", "accounts"})
            if (!exec(q, QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)), {}, error))
                return false;
        // Entry ids start again at 1, as the seed's do.
        if (!exec(q, QStringLiteral("DELETE FROM sqlite_sequence"), {}, error))
            return false;
        for (const Account& a : data.accounts)
            if (!exec(q, QStringLiteral("INSERT INTO accounts (id, email, salt, password_hash) VALUES (?, ?, ?, ?)"),
                      {a.id > 0 ? QVariant(a.id) : QVariant(), a.email, a.salt, a.passwordHash}, error))
                return false;
        QSet<qint64> decks;
        for (const Card& c : data.cards) {
            if (!decks.contains(c.deckId)) {
                decks.insert(c.deckId);
                if (!exec(q, QStringLiteral("INSERT INTO decks (id, account_id, name) VALUES (?, %1, ?)").arg(kAccountOf),
                          {c.deckId, c.owner, c.deckName}, error))
                    return false;
            }
            const auto& r = c.review;
            if (!exec(q, QStringLiteral("INSERT INTO cards (id, account_id, deck_id, front, back, notes, tags, canonical, "
                                        "trouble_rank, lapses, ease, interval, repetitions, due, right_run) "
                                        "VALUES (?, %1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(kAccountOf),
                      {c.id, c.owner, c.deckId, c.front, c.back, c.notes, tagsText(c.tags), canonicalPair(c.front, c.back),
                       rankOf(c.troubleScore, day), c.lapses, nullable(r, &ReviewState::easeFactor),
                       nullable(r, &ReviewState::interval), nullable(r, &ReviewState::repetitions),
                       nullable(r, &ReviewState::dueDate), c.rightRun},
                      error))
                return false;
        }
        for (const ReviewLog& r : data.reviews)
            if (!exec(q, QStringLiteral("INSERT INTO reviews (account_id, card_id, quality, reviewed_at) "
                                        "VALUES (%1, ?, ?, ?)").arg(kAccountOf),
                      {r.account, r.cardId, r.quality, r.reviewedAt}, error))
                return false;
        for (const JournalEntry& e : data.entries)
            if (!exec(q, QStringLiteral("INSERT INTO journal (id, account_id, title, content, tags, inserted_at, updated_at) "
                                        "VALUES (?, %1, ?, ?, ?, ?, ?)").arg(kAccountOf),
                      {e.id, e.owner, e.title, e.content, tagsText(e.tags), e.insertedAt, e.updatedAt}, error))
                return false;
        for (const KeptAnswer& k : data.keptAnswers)
            if (!exec(q, QStringLiteral("INSERT OR REPLACE INTO kept_answers (account_id, key, request, status, body, "
                                        "answered_ms) VALUES (%1, ?, ?, ?, ?, ?)").arg(kAccountOf),
                      {k.account, k.key, k.request, k.status, k.body, msSinceEpoch(k.answeredAt)}, error))
                return false;
        return true;
    });
}

} // namespace study
