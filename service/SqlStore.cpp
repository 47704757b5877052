#include "service/SqlStore.h"

#include "service/SqlRows.h"

#include <QSqlError>
#include <QSqlQuery>

namespace study {

using namespace sqlrows;

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
