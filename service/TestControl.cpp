#include "service/TestControl.h"

#include "service/StudyApi.h"

#include <QJsonDocument>

namespace study {

namespace {

// Recording is for tests; a long demo run must not grow without bound.
constexpr int kMaxRecorded = 2000;

QByteArray oversizedBody(qint64 bytes)
{
    static const QByteArray head = "{\"data\": [";
    static const QByteArray item =
        "{\"id\": 0, \"deck_id\": 0, \"front\": \"filler\", \"back\": \"filler\", \"deck_name\": "
        "\"filler\", \"trouble_score\": 0}, ";
    QByteArray out;
    out.reserve(bytes);
    out.append(head.left(bytes));
    while (out.size() < bytes)
        out.append(item.left(bytes - out.size()));
    return out;
}

} // namespace

TestControl::TestControl(StudyApi* api) : api_(api) {}

void TestControl::record(const Incoming& in, qint64 maxBodyBytes)
{
    QJsonObject headers;
    for (const auto& h : in.headers)
        headers.insert(QString::fromLatin1(h.first), QString::fromUtf8(h.second));
    if (requests_.size() >= kMaxRecorded)
        requests_.removeFirst();
    requests_.append(QJsonObject{{"method", in.method},
                                 {"path", in.target},
                                 {"headers", headers},
                                 {"body", QString::fromUtf8(in.body.left(maxBodyBytes))}});
}

std::optional<Fault> TestControl::takeFault(const QString& target)
{
    for (qsizetype i = 0; i < faults_.size(); ++i) {
        Fault& f = faults_[i];
        if (!f.path.isEmpty() && !target.startsWith(f.path))
            continue;
        Fault used = f;
        if (--f.count <= 0)
            faults_.removeAt(i);
        return used;
    }
    return std::nullopt;
}

Reply TestControl::faultReply(const Fault& f) const
{
    Reply r;
    if (f.mode == QLatin1String("status")) {
        r.status = f.status ? f.status : 500;
        if (f.body)
            r.body = f.body->toUtf8();
        else
            r = error(r.status, QStringLiteral("injected fault"));
        r.contentType = f.contentType;
    } else if (f.mode == QLatin1String("body")) {
        r.status = f.status ? f.status : 200;
        r.body = f.body.value_or(QString()).toUtf8();
        r.contentType = f.contentType;
    } else if (f.mode == QLatin1String("malformed")) {
        r.status = 200;
        r.body = "{\"data\": [";
    } else if (f.mode == QLatin1String("oversized")) {
        r.status = 200;
        r.body = oversizedBody(f.bytes);
    }
    return r;
}

Reply TestControl::handle(const Incoming& in, qint64 maxBodyBytes)
{
    if (!in.peer.isLoopback())
        return error(403, QStringLiteral("control endpoints answer loopback clients only"));
    if (in.body.size() > maxBodyBytes)
        return error(413, QStringLiteral("request body too large"));
    const QString p = in.path.mid(8);  // after "/control"
    const bool post = in.method == QLatin1String("POST");
    const bool get = in.method == QLatin1String("GET");

    if (p == QLatin1String("/reset")) {
        if (!post)
            return methodNotAllowed("POST");
        faults_.clear();
        requests_ = QJsonArray();
        return json(200, QJsonObject{{"reset", true}});
    }
    if (p == QLatin1String("/reseed")) {
        if (!post)
            return methodNotAllowed("POST");
        faults_.clear();
        requests_ = QJsonArray();
        QString why;
        api_->store().setDayShift(0);
        if (!api_->reseed(&why))
            return error(503, QStringLiteral("the seed could not be written: ") + why);
        return json(200, QJsonObject{{"reseeded", true}});
    }
    if (p == QLatin1String("/fault"))
        return post ? queueFault(in) : methodNotAllowed("POST");
    if (p == QLatin1String("/expire-tokens")) {
        if (!post)
            return methodNotAllowed("POST");
        return json(200, QJsonObject{{"expired", qint64(api_->expireSessions())}});
    }
    if (p == QLatin1String("/clock")) {
        if (!post)
            return methodNotAllowed("POST");
        const QJsonValue days = in.body.isEmpty() ? QJsonValue() : QJsonDocument::fromJson(in.body).object().value("days");
        if (!isInteger(days) || days.toInt() < 0 || days.toInt() > 36500)
            return error(400, QStringLiteral("field \"days\" must be an integer from 0 to 36500"));
        api_->store().setDayShift(days.toInt());
        return json(200, QJsonObject{{"days", days.toInt()}});
    }
    if (p == QLatin1String("/requests"))
        return get ? json(200, requests_) : methodNotAllowed("GET");
    if (p == QLatin1String("/state"))
        return get ? json(200, stateJson()) : methodNotAllowed("GET");
    return error(404, QStringLiteral("no such control endpoint: ") + in.path);
}

Reply TestControl::queueFault(const Incoming& in)
{
    Reply bad;
    const auto body = objectBody(in, &bad);
    if (!body)
        return bad;
    Fault f;
    const auto mode = stringField(*body, QStringLiteral("mode"), true, &bad);
    if (!mode)
        return bad;
    static const QStringList modes{"status", "body", "delay", "malformed", "oversized", "drop"};
    if (!modes.contains(*mode))
        return error(400, QStringLiteral("mode must be one of ") + modes.join(QStringLiteral(", ")));
    f.mode = *mode;

    auto intField = [&](const char* key, qint64 min, qint64 max, qint64* out) {
        const QJsonValue v = body->value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return true;
        if (!isInteger(v) || v.toInteger() < min || v.toInteger() > max) {
            bad = error(400, QStringLiteral("field \"%1\" must be an integer from %2 to %3")
                                 .arg(QLatin1String(key)).arg(min).arg(max));
            return false;
        }
        *out = v.toInteger();
        return true;
    };
    qint64 count = 1, status = 0, delay = 0, bytes = f.bytes;
    if (!intField("count", 1, 1000000, &count) || !intField("status", 200, 599, &status)
        || !intField("delayMs", 0, 600000, &delay) || !intField("bytes", 0, 1024LL * 1024 * 1024, &bytes))
        return bad;
    f.count = int(count);
    f.status = int(status);
    f.delayMs = int(delay);
    f.bytes = bytes;
    bool present = false;
    const auto path = stringField(*body, QStringLiteral("path"), false, &bad, &present);
    if (present && !path && !body->value("path").isNull())
        return bad;
    f.path = path.value_or(QString());
    f.body = stringField(*body, QStringLiteral("body"), false, &bad, &present);
    if (present && !f.body && !body->value("body").isNull())
        return bad;
    const auto contentType = stringField(*body, QStringLiteral("contentType"), false, &bad, &present);
    if (present && !contentType && !body->value("contentType").isNull())
        return bad;
    if (contentType)
        f.contentType = contentType->toUtf8();
    faults_.append(f);
    return json(200, QJsonObject{{"queued", qint64(faults_.size())}});
}

QJsonObject TestControl::stateJson() const
{
    QJsonArray reviews;
    StudyStore& store = api_->store();
    for (const ReviewLog& r : store.reviews())
        reviews.append(QJsonObject{{"account", r.account}, {"card_id", r.cardId}, {"quality", r.quality}});
    QJsonObject journal;
    QJsonObject cards;
    for (const Account& a : store.accounts()) {
        QJsonArray entries;
        for (const JournalEntry& e : store.journal(a.email))
            entries.append(StudyStore::entryJson(e));
        journal.insert(a.email, entries);
        QJsonArray own;
        for (const Card& c : store.cards(a.email))
            own.append(StudyStore::cardJson(c));
        cards.insert(a.email, own);
    }
    return QJsonObject{{"reviews", reviews}, {"journal", journal}, {"cards", cards}};
}

} // namespace study
