#include "service/SqlStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace study {

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

const QString kCardColumns = QStringLiteral(
    "SELECT c.id, a.email, c.deck_id, d.name, c.front, c.back, c.notes, c.tags, c.trouble_rank, c.lapses, "
    "c.ease, c.interval, c.repetitions, c.due, c.right_run FROM cards c JOIN decks d ON d.id = c.deck_id "
    "JOIN accounts a ON a.id = c.account_id ");
const QString kEntryColumns = QStringLiteral(
    "SELECT j.id, a.email, j.title, j.content, j.tags, j.inserted_at, j.updated_at FROM journal j "
    "JOIN accounts a ON a.id = j.account_id ");
const QString kAccountOf = QStringLiteral("(SELECT id FROM accounts WHERE email = ?)");

QString tagsText(const QStringList& tags)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(tags)).toJson(QJsonDocument::Compact));
}

QStringList tagsList(const QString& text)
{
    QStringList out;
    for (const QJsonValue& v : QJsonDocument::fromJson(text.toUtf8()).array())
        out.append(v.toString());
    return out;
}

QString canonicalPair(const QString& front, const QString& back)
{
    return canonicalCardText(front) + QChar(0x1f) + canonicalCardText(back);
}

qint64 msSinceEpoch(const QString& iso)
{
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODateWithMs);
    return t.isValid() ? t.toMSecsSinceEpoch() : 0;
}

QVariant nullable(const std::optional<ReviewState>& r, auto field)
{
    return r ? QVariant::fromValue((*r).*field) : QVariant();
}

// Every trouble score fades at the same rate, so the order of the cards only
// changes when one is answered: the column keeps the score scaled by the fade
// since the epoch ("rank"), and today's score is the rank scaled back. Whole
// days keep a score steady through the day.
double fadeSinceEpoch(const QDate& day)
{
    static const QDate epoch(2026, 1, 1);
    return std::exp2(double(epoch.daysTo(day)) / troubleHalfLifeDays);
}

double rankOf(double score, const QDate& day) { return score * fadeSinceEpoch(day); }

double scoreOf(double rank, const QDate& day) { return std::round(rank / fadeSinceEpoch(day) * 100.0) / 100.0; }

bool fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

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
            if (!head.isEmpty() && head != QByteArray("SQLite format 3\0", 16))
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

template <typename Body>
bool SqlStore::transaction(QString* error, Body body)
{
    if (!begin(error))
        return false;
    if (!body()) {
        rollback();
        return false;
    }
    return commit(error);
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

namespace {

Account accountFrom(const QSqlQuery& q)
{
    return Account{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toByteArray(), q.value(3).toByteArray()};
}

} // namespace

std::optional<Account> SqlStore::account(const QString& email)
{
    QSqlQuery q(db());
    if (!exec(q, QStringLiteral("SELECT id, email, salt, password_hash FROM accounts WHERE email = ?"),
              {email.trimmed()}, nullptr) || !q.next())
        return std::nullopt;
    return accountFrom(q);
}

QList<Account> SqlStore::accounts()
{
    QList<Account> out;
    QSqlQuery q(db());
    if (exec(q, QStringLiteral("SELECT id, email, salt, password_hash FROM accounts ORDER BY id"), {}, nullptr))
        while (q.next())
            out.append(accountFrom(q));
    return out;
}

bool SqlStore::addAccount(const Account& a, QString* error)
{
    QSqlQuery q(db());
    return transaction(error, [&] {
        if (exec(q, QStringLiteral("SELECT 1 FROM accounts WHERE email = ?"), {a.email}, error) && q.next())
            return fail(error, QStringLiteral("an account %1 exists already").arg(a.email));
        return exec(q, QStringLiteral("INSERT INTO accounts (email, salt, password_hash) VALUES (?, ?, ?)"),
                    {a.email, a.salt, a.passwordHash}, error);
    });
}

StudyStore::Outcome SqlStore::setPassword(const QString& email, const Account& p, QString* error)
{
    QSqlQuery q(db());
    bool found = false;
    const bool ok = transaction(error, [&] {
        if (!exec(q, QStringLiteral("UPDATE accounts SET salt = ?, password_hash = ? WHERE email = ?"),
                  {p.salt, p.passwordHash, email}, error))
            return false;
        found = q.numRowsAffected() > 0;
        return true;
    });
    return !ok ? Outcome::Failed : found ? Outcome::Done : Outcome::NotFound;
}

StudyStore::Outcome SqlStore::removeAccount(const QString& email, QString* error)
{
    QSqlQuery q(db());
    bool found = false;
    const bool ok = transaction(error, [&] {
        // The foreign keys take the decks, cards, reviews, journal and kept answers along.
        if (!exec(q, QStringLiteral("DELETE FROM accounts WHERE email = ?"), {email}, error))
            return false;
        found = q.numRowsAffected() > 0;
        return true;
    });
    return !ok ? Outcome::Failed : found ? Outcome::Done : Outcome::NotFound;
}

QList<Card> SqlStore::selectCards(const QString& where, const QVariantList& values)
{
    QList<Card> out;
    QSqlQuery q(db());
    QString why;
    const QDate day = today();
    if (!exec(q, kCardColumns + where, values, &why)) {
        std::fprintf(stderr, "tavlo-study-service: cannot read cards: %s\n", qPrintable(why));
        return out;
    }
    while (q.next()) {
        Card c;
        c.id = q.value(0).toLongLong();
        c.owner = q.value(1).toString();
        c.deckId = q.value(2).toLongLong();
        c.deckName = q.value(3).toString();
        c.front = q.value(4).toString();
        c.back = q.value(5).toString();
        c.notes = q.value(6).toString();
        c.tags = tagsList(q.value(7).toString());
        c.troubleScore = scoreOf(q.value(8).toDouble(), day);
        c.lapses = q.value(9).toLongLong();
        if (!q.value(10).isNull())
            c.review = ReviewState{q.value(10).toDouble(), q.value(11).toLongLong(), q.value(12).toLongLong(),
                                   q.value(13).toString()};
        c.rightRun = q.value(14).toLongLong();
        out.append(c);
    }
    return out;
}

QList<Card> SqlStore::troubleCards(const QString& owner, int limit)
{
    // Cards whose score faded under the floor since their last answer are out too.
    return selectCards(QStringLiteral("WHERE c.account_id = %1 AND c.trouble_rank >= ? "
                                      "ORDER BY c.trouble_rank DESC, c.id LIMIT ?").arg(kAccountOf),
                       {owner, rankOf(troubleFloor - 0.005, today()), std::max(0, limit)});
}

QList<Card> SqlStore::cards(const QString& owner)
{
    return selectCards(QStringLiteral("WHERE c.account_id = %1 ORDER BY c.id").arg(kAccountOf), {owner});
}

StudyStore::Outcome SqlStore::review(const QString& owner, qint64 cardId, int quality, const QDateTime& now,
                                     Card* updated, QString* error)
{
    bool found = false;
    QSqlQuery q(db());
    const bool ok = transaction(error, [&] {
        const QList<Card> found_ = selectCards(QStringLiteral("WHERE c.id = ? AND a.email = ?"), {cardId, owner});
        if (found_.isEmpty())
            return true;
        found = true;
        Card c = found_.first();
        applyReview(&c, quality, now);
        *updated = c;
        return exec(q, QStringLiteral("UPDATE cards SET trouble_rank = ?, lapses = ?, right_run = ?, ease = ?, "
                                      "interval = ?, repetitions = ?, due = ? WHERE id = ?"),
                    {rankOf(c.troubleScore, today()), c.lapses, c.rightRun, c.review->easeFactor, c.review->interval, c.review->repetitions,
                     c.review->dueDate, c.id},
                    error)
               && exec(q, QStringLiteral("INSERT INTO reviews (account_id, card_id, quality, reviewed_at) "
                                         "VALUES (%1, ?, ?, ?)").arg(kAccountOf),
                       {owner, cardId, quality, now.toUTC().toString(Qt::ISODateWithMs)}, error);
    });
    return !ok ? Outcome::Failed : found ? Outcome::Done : Outcome::NotFound;
}

std::optional<AddedCards> SqlStore::addCards(const QString& owner, const QString& deckName,
                                             const QList<NewCard>& cards, QString* error)
{
    AddedCards counts;
    QSqlQuery q(db());
    const bool ok = transaction(error, [&] {
        if (!exec(q, QStringLiteral("SELECT id FROM accounts WHERE email = ?"), {owner}, error))
            return false;
        if (!q.next())
            return fail(error, QStringLiteral("no account %1").arg(owner));
        const qint64 accountId = q.value(0).toLongLong();
        if (!exec(q, QStringLiteral("INSERT OR IGNORE INTO decks (account_id, name) VALUES (?, ?)"),
                  {accountId, deckName}, error)
            || !exec(q, QStringLiteral("SELECT id FROM decks WHERE account_id = ? AND name = ?"), {accountId, deckName},
                     error)
            || !q.next())
            return false;
        const qint64 deckId = q.value(0).toLongLong();
        QSet<QString> seen;
        if (!exec(q, QStringLiteral("SELECT canonical FROM cards WHERE deck_id = ?"), {deckId}, error))
            return false;
        while (q.next())
            seen.insert(q.value(0).toString());
        for (const NewCard& c : cards) {
            const QString canonical = canonicalPair(c.front, c.back);
            if (seen.contains(canonical)) {
                ++counts.skipped;
                continue;
            }
            seen.insert(canonical);
            if (!exec(q, QStringLiteral("INSERT INTO cards (account_id, deck_id, front, back, notes, tags, canonical) "
                                        "VALUES (?, ?, ?, ?, ?, ?, ?)"),
                      {accountId, deckId, c.front, c.back, c.notes, tagsText(c.tags), canonical}, error))
                return false;
            ++counts.added;
        }
        return true;
    });
    if (!ok)
        return std::nullopt;
    return counts;
}

QList<ReviewLog> SqlStore::reviews()
{
    QList<ReviewLog> out;
    QSqlQuery q(db());
    if (exec(q, QStringLiteral("SELECT a.email, r.card_id, r.quality, r.reviewed_at FROM reviews r "
                               "JOIN accounts a ON a.id = r.account_id ORDER BY r.id"), {}, nullptr))
        while (q.next())
            out.append(ReviewLog{q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toInt(),
                                 q.value(3).toString()});
    return out;
}

QList<JournalEntry> SqlStore::selectEntries(const QString& where, const QVariantList& values)
{
    QList<JournalEntry> out;
    QSqlQuery q(db());
    QString why;
    if (!exec(q, kEntryColumns + where, values, &why)) {
        std::fprintf(stderr, "tavlo-study-service: cannot read the journal: %s\n", qPrintable(why));
        return out;
    }
    while (q.next())
        out.append(JournalEntry{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                                q.value(3).toString(), tagsList(q.value(4).toString()), q.value(5).toString(),
                                q.value(6).toString()});
    return out;
}

QList<JournalEntry> SqlStore::journal(const QString& owner)
{
    return selectEntries(QStringLiteral("WHERE j.account_id = %1 ORDER BY j.id DESC").arg(kAccountOf), {owner});
}

std::optional<JournalEntry> SqlStore::entry(const QString& owner, qint64 id)
{
    const QList<JournalEntry> found = selectEntries(QStringLiteral("WHERE j.id = ? AND a.email = ?"), {id, owner});
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

std::optional<JournalEntry> SqlStore::addEntry(const QString& owner, const QString& title, const QString& content,
                                               const QStringList& tags, QString* error)
{
    const QString now = isoNow();
    QSqlQuery q(db());
    qint64 id = 0;
    const bool ok = transaction(error, [&] {
        if (!exec(q, QStringLiteral("INSERT INTO journal (account_id, title, content, tags, inserted_at, updated_at) "
                                    "VALUES (%1, ?, ?, ?, ?, ?)").arg(kAccountOf),
                  {owner, title, content, tagsText(tags), now, now}, error))
            return false;
        id = q.lastInsertId().toLongLong();
        return true;
    });
    if (!ok)
        return std::nullopt;
    return JournalEntry{id, owner, title, content, tags, now, now};
}

StudyStore::Outcome SqlStore::updateEntry(const QString& owner, qint64 id, const std::optional<QString>& title,
                                          const std::optional<QString>& content,
                                          const std::optional<QStringList>& tags, JournalEntry* updated,
                                          QString* error)
{
    bool found = false;
    QSqlQuery q(db());
    const bool ok = transaction(error, [&] {
        std::optional<JournalEntry> e = entry(owner, id);
        if (!e)
            return true;
        found = true;
        if (title)
            e->title = *title;
        if (content)
            e->content = *content;
        if (tags)
            e->tags = *tags;
        e->updatedAt = isoNow();
        *updated = *e;
        return exec(q, QStringLiteral("UPDATE journal SET title = ?, content = ?, tags = ?, updated_at = ? WHERE id = ?"),
                    {e->title, e->content, tagsText(e->tags), e->updatedAt, id}, error);
    });
    return !ok ? Outcome::Failed : found ? Outcome::Done : Outcome::NotFound;
}

StudyStore::Outcome SqlStore::removeEntry(const QString& owner, qint64 id, QString* error)
{
    bool found = false;
    QSqlQuery q(db());
    const bool ok = transaction(error, [&] {
        if (!exec(q, QStringLiteral("DELETE FROM journal WHERE id = ? AND account_id = %1").arg(kAccountOf),
                  {id, owner}, error))
            return false;
        found = q.numRowsAffected() > 0;
        return true;
    });
    return !ok ? Outcome::Failed : found ? Outcome::Done : Outcome::NotFound;
}

std::optional<KeptAnswer> SqlStore::keptAnswer(const QString& account, const QString& key)
{
    QSqlQuery q(db());
    if (!exec(q, QStringLiteral("SELECT request, status, body, answered_ms FROM kept_answers "
                                "WHERE account_id = %1 AND key = ?").arg(kAccountOf),
              {account, key}, nullptr)
        || !q.next())
        return std::nullopt;
    return KeptAnswer{account, key, q.value(0).toString(), q.value(1).toInt(), q.value(2).toByteArray(),
                      QDateTime::fromMSecsSinceEpoch(q.value(3).toLongLong(), Qt::UTC).toString(Qt::ISODateWithMs)};
}

bool SqlStore::keepAnswer(const KeptAnswer& answer, const QDateTime& now, QString* error)
{
    QSqlQuery q(db());
    return transaction(error, [&] {
        return exec(q, QStringLiteral("DELETE FROM kept_answers WHERE answered_ms < ?"),
                    {now.addDays(-keptAnswerDays).toMSecsSinceEpoch()}, error)
               && exec(q, QStringLiteral("INSERT OR REPLACE INTO kept_answers (account_id, key, request, status, body, "
                                         "answered_ms) VALUES (%1, ?, ?, ?, ?, ?)").arg(kAccountOf),
                       {answer.account, answer.key, answer.request, answer.status, answer.body,
                        msSinceEpoch(answer.answeredAt)},
                       error);
    });
}

} // namespace study
