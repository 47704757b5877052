// StudyStore in a database through Qt SQL. SQLite is what is built and tested:
// WAL with synchronous=FULL, so a committed change survives a crash or power
// cut; foreign keys on; the schema version in PRAGMA user_version, migrated
// forward on open.
#pragma once

#include "service/StudyStore.h"

#include <QSqlDatabase>
#include <QVariant>
#include <memory>

class QSqlQuery;

namespace study {

class SqlStore final : public StudyStore {
public:
    static constexpr int schemaVersion = 1;

    struct OpenOptions {
        // Held for the store's lifetime: a second service on the same file is
        // refused instead of both writing.
        bool exclusive = false;
        // Seed the demo data into a new database.
        bool seedNew = true;
    };
    // Whether `head`, a file's first bytes, begin a SQLite database.
    static bool isDatabaseHeader(const QByteArray& head) { return head.startsWith(QByteArrayView("SQLite format 3\0", 16)); }
    // Opens the database at `path` (created with its folders if missing), or
    // an in-memory one for an empty path. A file that is not one of ours, or
    // comes from a newer version, is refused and left as it is.
    static std::unique_ptr<SqlStore> open(const QString& path, const OpenOptions& options, QString* error);
    ~SqlStore() override;

    // True when open() made the schema, i.e. the database was new.
    bool wasCreated() const { return created_; }
    // A consistent copy of the whole database in a new file, taken while others may write.
    bool backupTo(const QString& file, QString* error);
    // PRAGMA integrity_check: "ok" or what is wrong.
    QString integrityCheck();

    bool replaceAll(const Snapshot& data, QString* error) override;
    std::optional<Account> account(const QString& email) override;
    QList<Account> accounts() override;
    bool addAccount(const Account& account, QString* error) override;
    Outcome setPassword(const QString& email, const Account& withPassword, QString* error) override;
    Outcome removeAccount(const QString& email, QString* error) override;
    QList<Card> troubleCards(const QString& owner, int limit) override;
    QList<Card> cards(const QString& owner) override;
    Outcome review(const QString& owner, qint64 cardId, int quality, const QDateTime& now, Card* updated,
                   QString* error) override;
    std::optional<AddedCards> addCards(const QString& owner, const QString& deckName, const QList<NewCard>& cards,
                                       QString* error) override;
    QList<ReviewLog> reviews() override;
    QList<JournalEntry> journal(const QString& owner) override;
    std::optional<JournalEntry> entry(const QString& owner, qint64 id) override;
    std::optional<JournalEntry> addEntry(const QString& owner, const QString& title, const QString& content,
                                         const QStringList& tags, QString* error) override;
    Outcome updateEntry(const QString& owner, qint64 id, const std::optional<QString>& title,
                        const std::optional<QString>& content, const std::optional<QStringList>& tags,
                        JournalEntry* updated, QString* error) override;
    Outcome removeEntry(const QString& owner, qint64 id, QString* error) override;
    std::optional<KeptAnswer> keptAnswer(const QString& account, const QString& key) override;
    bool keepAnswer(const KeptAnswer& answer, const QDateTime& now, QString* error) override;
    bool begin(QString* error) override;
    bool commit(QString* error) override;
    void rollback() override;
    void setDayShift(int days) override { dayShift_ = days; }

private:
    explicit SqlStore(QString connection);
    bool prepareSchema(const QString& path, const OpenOptions& options, QString* error);
    QSqlDatabase db() const;
    QDate today() const;
    // Runs one statement with its values; false (and the reason) on failure.
    bool exec(QSqlQuery& q, const QString& sql, const QVariantList& values, QString* error);
    // Runs the writes in `body` as one transaction (or inside the open one).
    template <typename Body>
    bool transaction(QString* error, Body body);
    QList<Card> selectCards(const QString& where, const QVariantList& values);
    QList<JournalEntry> selectEntries(const QString& where, const QVariantList& values);

    QString connection_;
    int lockFd_ = -1;
    bool created_ = false;
    int depth_ = 0;
    bool failed_ = false;
    int dayShift_ = 0;
};

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

} // namespace study
