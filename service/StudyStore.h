// The study service's data: accounts, their cards with spaced-repetition
// state, the review log and the journal. Plain values with JSON forms; the
// HTTP layer (StudyServer) decides who may see what.
#pragma once

#include <QDateTime>
#include <QJsonArray>
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
    double troubleScore = 0;
    qint64 lapses = 0;
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

// The standardised proposal for a raw note: title, markdown, tags.
struct Normalized {
    QString title;
    QString content;
    QStringList tags;
};
Normalized normalizeNote(const QString& text);

// "2026-12-06T19:20:00.123Z": the form the service writes for new times.
QString isoNow();

class StudyStore {
public:
    StudyStore();

    // Restores the demo data (accounts, decks, journal) and forgets reviews
    // and kept answers.
    void seed();

    // Persistence as one JSON document. fromJson leaves the store untouched and
    // returns false (with a reason) when the document is not one it wrote.
    QJsonObject toJson() const;
    bool fromJson(const QJsonObject& doc, QString* error);

    const Account* authenticate(const QString& email, const QString& password) const;

    QList<Card> troubleCards(const QString& owner, int limit) const;
    const Card* card(const QString& owner, qint64 id) const;
    // Applies one graded answer (0..5) to the card and logs it.
    const Card* review(const QString& owner, qint64 cardId, int quality, const QDateTime& now);

    QList<JournalEntry> journal(const QString& owner) const;  // newest first
    const JournalEntry* entry(const QString& owner, qint64 id) const;
    JournalEntry addEntry(const QString& owner, const QString& title, const QString& content,
                          const QStringList& tags);
    const JournalEntry* updateEntry(const QString& owner, qint64 id,
                                    const std::optional<QString>& title,
                                    const std::optional<QString>& content,
                                    const std::optional<QStringList>& tags);
    bool removeEntry(const QString& owner, qint64 id);

    // Answers to keyed requests are kept for at least keptAnswerDays.
    static constexpr int keptAnswerDays = 7;
    const KeptAnswer* keptAnswer(const QString& account, const QString& key) const;
    // Keeps (or replaces) the answer for its account and key, and forgets
    // those older than keptAnswerDays at `now`.
    void keepAnswer(const KeptAnswer& answer, const QDateTime& now);

    const QList<Account>& accounts() const { return accounts_; }
    const QList<Card>& cards() const { return cards_; }
    const QList<ReviewLog>& reviews() const { return reviews_; }
    const QList<JournalEntry>& entries() const { return entries_; }

    static QJsonObject cardJson(const Card& card);
    static QJsonObject entryJson(const JournalEntry& entry);

private:
    void addAccount(qint64 id, const QString& email, const QString& password);

    QList<Account> accounts_;
    QList<Card> cards_;
    QList<ReviewLog> reviews_;
    QList<JournalEntry> entries_;
    QList<KeptAnswer> keptAnswers_;
    qint64 nextEntryId_ = 1;
};

} // namespace study
