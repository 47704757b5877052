#pragma once
#include "api/Result.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

// Answers the study service could not take yet (no network, a 5xx, 408, 429,
// a redirect, a sign-in refused after the one re-login). Each waits in a file
// of its own account (mode 0600, replaced atomically) and is sent again, in
// order and only while that account is signed in, with its first
// idempotency key, so an answer whose reply was lost is still applied once.
// Other 4xx answers mean the service rejected the content: logged, dropped.
//
// The agent has one outbox; it installs itself as `current()` while it lives.
class AnswerOutbox : public QObject {
    Q_OBJECT
public:
    struct Entry {
        QString account;
        std::int64_t cardId = 0;
        int quality = 0;
        QString key;
        QString answeredAt; // ISO 8601, UTC
    };

    static constexpr int kCapacity = 5000; // per account; newer answers are refused

    // `filePath` empty: outbox.json in the user's data directory.
    explicit AnswerOutbox(QString filePath = {}, QObject* parent = nullptr);
    ~AnswerOutbox() override;
    static AnswerOutbox* current();

    // The signed-in account (e-mail); empty when nobody is. Its waiting
    // answers go out soon after.
    void setAccount(const QString& email);
    QString account() const { return account_; }

    // Sends the answer; if it cannot be delivered now it is kept. `done`
    // gets the first attempt's result, whatever happens to the answer after.
    void submit(std::int64_t cardId, int quality, QObject* context, Callback<void> done);
    // Tries the waiting answers of the current account now (the service just
    // answered), unless a send is already out.
    void flush();

    int pending() const;                   // of the current account
    QList<Entry> entries() const { return entries_; }
    QString filePath() const { return path_; }

    // Whether a failed review is worth sending again later.
    static bool isWorthKeeping(const Error& error);

signals:
    void pendingChanged(int count);

private:
    void load();
    bool save();
    void keep(Entry entry);
    void sendNext();
    void retryLater();
    void announce();

    QString path_;
    QString account_;
    QList<Entry> entries_;
    bool sending_ = false;
    int failures_ = 0;
    int delivered_ = 0; // since the last save
    QTimer retry_;
    int lastAnnounced_ = -1;
};
