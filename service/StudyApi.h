// The /api contract of the study service: sign-in and sessions, trouble
// cards, reviews, the journal, quick notes and standardize, over the store.
#pragma once

#include "service/StudyStore.h"
#include "service/Wire.h"

#include <QDeadlineTimer>
#include <QHash>


namespace study {

struct ServiceOptions {
    double tokenTtlSeconds = 86400;
    bool quiet = false;
    // Recording of requests and the /control endpoints, for tests only.
    bool testControl = false;
    qint64 maxBodyBytes = 1024 * 1024;
};


class StudyApi {
public:
    StudyApi(StudyStore* store, ServiceOptions options);

    // An /api request.
    Reply handle(const Incoming& in);

    StudyStore& store() { return *store_; }
    const StudyStore& store() const { return *store_; }
    const ServiceOptions& options() const { return options_; }
    // Restores the demo data and signs everybody out; false if it could not be kept.
    bool reseed(QString* error);
    // Every issued token now gets 401; says how many there were.
    qsizetype expireSessions();

private:
    struct Session {
        QString email;
        QDeadlineTimer expiry;
    };

    Reply route(const QString& who, const Incoming& in);
    Reply once(const QString& who, const QByteArray& key, const Incoming& in);
    Reply login(const Incoming& in);
    Reply troubleCards(const QString& who, const Incoming& in);
    Reply postReview(const QString& who, const Incoming& in);
    Reply listJournal(const QString& who);
    Reply createEntry(const QString& who, const Incoming& in);
    Reply getEntry(const QString& who, qint64 id);
    Reply updateEntry(const QString& who, qint64 id, const Incoming& in);
    Reply deleteEntry(const QString& who, qint64 id);
    Reply quickNote(const QString& who, const Incoming& in);
    Reply normalize(const Incoming& in);

    std::optional<QString> sessionEmail(const Incoming& in);
    QString issueToken(const QString& email);
    Reply unsaved(const QString& what, const QString& why) const;

    StudyStore* store_;
    ServiceOptions options_;
    QHash<QString, Session> sessions_;
};

} // namespace study
