// The study service's data: accounts, their decks and cards with
// spaced-repetition state, the review log, the journal and the answers kept for
// idempotency keys. StudyStore is the one interface the HTTP layer and the
// commands talk to; SqlStore keeps it in a database through Qt SQL.
#pragma once

#include "service/Normalize.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace study {

struct Account {
    qint64 id = 0;
    QString email;
    QByteArray salt;          // random, per account
    QByteArray passwordHash;  // PBKDF2-SHA256 of the password with salt
};

struct ReviewState {
    double easeFactor = 2.5;
    qint64 interval = 0;      // days
    qint64 repetitions = 0;
    QString dueDate;          // ISO 8601, UTC
};

struct Card {
    qint64 id = 0;
    QString owner;            // account e-mail
    qint64 deckId = 0;
    QString deckName;
    QString front;
    QString back;
    QString notes;            // empty: no notes
    QStringList tags;
    double troubleScore = 0;  // as of today; see applyReview
    qint64 lapses = 0;
    qint64 rightRun = 0;      // right answers since the last wrong one
    std::optional<ReviewState> review;
};

struct ReviewLog {
    QString account;
    qint64 cardId = 0;
    int quality = 0;
    QString reviewedAt;
};

struct JournalEntry {
    qint64 id = 0;
    QString owner;
    QString title;
    QString content;
    QStringList tags;
    QString insertedAt;
    QString updatedAt;
};

// The answer to a request that carried an Idempotency-Key: a resend with the
// same key gets it again instead of applying the request a second time.
struct KeptAnswer {
    QString account;
    QString key;
    QString request;          // method, target and SHA-256 of the body
    int status = 0;
    QByteArray body;
    QString answeredAt;       // ISO 8601, UTC
};

// Everything a store holds, at once: the demo seed and old JSON data files
// come in this form.
struct Snapshot {
    QList<Account> accounts;
    QList<Card> cards;
    QList<ReviewLog> reviews;
    QList<JournalEntry> entries;
    QList<KeptAnswer> keptAnswers;
};

// The demo accounts, decks and journal.
Snapshot seedSnapshot();
// Reads the JSON data file format of earlier versions; nullopt (with a reason)
// when the document is not one.
std::optional<Snapshot> snapshotFromJson(const QJsonObject& doc, QString* error);

// A new account's password: a fresh salt and its PBKDF2 hash.
Account makeAccount(const QString& email, const QString& password);
bool passwordMatches(const Account& account, const QString& password);

// A card to add to a deck.
struct NewCard {
    QString front, back, notes;
    QStringList tags;
};
struct AddedCards {
    int added = 0;
    int skipped = 0;
};

// SM-2 and the trouble score: what one graded answer (0..5) does to a card
// whose troubleScore is the one of today.
void applyReview(Card* card, int quality, const QDateTime& now);

// The trouble score fades by half every troubleHalfLifeDays without answers,
// so recent wrong answers weigh more than old ones; a run of
// troubleClearingRun right answers takes the card off the list.
constexpr double troubleHalfLifeDays = 30;
constexpr int troubleClearingRun = 4;
// Scores below this are 0: the card is not in trouble.
constexpr double troubleFloor = 0.1;

// "2026-12-06T19:20:00.123Z": the form the service writes for new times.
QString isoNow();

// Every write is one transaction, durable when the call returns true (or a
// value). A failed write changes nothing and says why in `error`.
class StudyStore {
public:
    virtual ~StudyStore() = default;

    enum class Outcome { Done, NotFound, Failed };

    // Replaces everything with the snapshot (reseed, first import).
    virtual bool replaceAll(const Snapshot& data, QString* error) = 0;

    virtual std::optional<Account> account(const QString& email) = 0;
    virtual QList<Account> accounts() = 0;
    virtual bool addAccount(const Account& account, QString* error) = 0;
    virtual Outcome setPassword(const QString& email, const Account& withPassword, QString* error) = 0;
    // Removes the account with its decks, cards, reviews, journal and kept answers.
    virtual Outcome removeAccount(const QString& email, QString* error) = 0;

    virtual QList<Card> troubleCards(const QString& owner, int limit) = 0;
    virtual QList<Card> cards(const QString& owner) = 0;   // by id
    // Applies one graded answer (0..5) to the card and logs it.
    virtual Outcome review(const QString& owner, qint64 cardId, int quality, const QDateTime& now,
                           Card* updated, QString* error) = 0;
    // Adds cards to the owner's deck (made if missing), skipping those whose
    // canonical front and back are already in the deck or earlier in `cards`.
    virtual std::optional<AddedCards> addCards(const QString& owner, const QString& deckName,
                                               const QList<NewCard>& cards, QString* error) = 0;
    virtual QList<ReviewLog> reviews() = 0;

    virtual QList<JournalEntry> journal(const QString& owner) = 0;  // newest first
    virtual std::optional<JournalEntry> entry(const QString& owner, qint64 id) = 0;
    virtual std::optional<JournalEntry> addEntry(const QString& owner, const QString& title,
                                                 const QString& content, const QStringList& tags,
                                                 QString* error) = 0;
    virtual Outcome updateEntry(const QString& owner, qint64 id, const std::optional<QString>& title,
                                const std::optional<QString>& content, const std::optional<QStringList>& tags,
                                JournalEntry* updated, QString* error) = 0;
    virtual Outcome removeEntry(const QString& owner, qint64 id, QString* error) = 0;

    // Answers to keyed requests are kept for at least keptAnswerDays.
    static constexpr int keptAnswerDays = 7;
    virtual std::optional<KeptAnswer> keptAnswer(const QString& account, const QString& key) = 0;
    // Keeps (or replaces) the answer and forgets those older than keptAnswerDays at `now`.
    virtual bool keepAnswer(const KeptAnswer& answer, const QDateTime& now, QString* error) = 0;

    // Groups the writes until commit() into one transaction: a keyed request's
    // change is kept together with its answer or not at all. Nests.
    virtual bool begin(QString* error) = 0;
    virtual bool commit(QString* error) = 0;
    virtual void rollback() = 0;

    // For tests: the store's today is this many days after the real one.
    virtual void setDayShift(int days) = 0;

    static QJsonObject cardJson(const Card& card);
    static QJsonObject entryJson(const JournalEntry& entry);
};

} // namespace study
