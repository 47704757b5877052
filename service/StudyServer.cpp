#include "service/StudyServer.h"

#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTime>
#include <QTimer>
#include <cmath>
#include <cstdio>

namespace study {

namespace {

// Recording is for tests; a long demo run must not grow without bound.
constexpr int kMaxRecorded = 2000;
constexpr int kMaxLimit = 1000;

Reply json(int status, const QJsonValue& data)
{
    Reply r;
    r.status = status;
    r.body = QJsonDocument(QJsonObject{{"data", data}}).toJson(QJsonDocument::Compact);
    return r;
}

Reply error(int status, const QString& message)
{
    Reply r;
    r.status = status;
    r.body = QJsonDocument(QJsonObject{{"error", QJsonObject{{"status", status}, {"message", message}}}})
                 .toJson(QJsonDocument::Compact);
    return r;
}

Reply methodNotAllowed(const QByteArray& allow)
{
    Reply r = error(405, QStringLiteral("method not allowed; use ") + QString::fromLatin1(allow));
    r.headers.append({"Allow", allow});
    return r;
}

// Parses a request body that must be a JSON object; on failure fills `bad`.
std::optional<QJsonObject> objectBody(const Incoming& in, Reply* bad)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(in.body, &err);
    if (err.error != QJsonParseError::NoError) {
        *bad = error(400, QStringLiteral("request body is not valid JSON: ") + err.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *bad = error(400, QStringLiteral("request body must be a JSON object"));
        return std::nullopt;
    }
    return doc.object();
}

bool isInteger(const QJsonValue& v)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    return std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9007199254740992.0;
}

// A JSON string field; `required` distinguishes "absent" from "wrong type".
std::optional<QString> stringField(const QJsonObject& o, const QString& key, bool required,
                                   Reply* bad, bool* present = nullptr)
{
    const QJsonValue v = o.value(key);
    if (present)
        *present = !v.isUndefined();
    if (v.isUndefined() || (v.isNull() && !required)) {
        if (required)
            *bad = error(400, QStringLiteral("missing field \"%1\"").arg(key));
        return std::nullopt;
    }
    if (!v.isString()) {
        *bad = error(400, QStringLiteral("field \"%1\" must be a string").arg(key));
        return std::nullopt;
    }
    return v.toString();
}

std::optional<QStringList> tagsField(const QJsonObject& o, Reply* bad, bool* ok)
{
    *ok = true;
    const QJsonValue v = o.value("tags");
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    if (!v.isArray()) {
        *ok = false;
        *bad = error(400, QStringLiteral("field \"tags\" must be an array of strings"));
        return std::nullopt;
    }
    QStringList tags;
    for (const QJsonValue& t : v.toArray()) {
        if (!t.isString()) {
            *ok = false;
            *bad = error(400, QStringLiteral("field \"tags\" must be an array of strings"));
            return std::nullopt;
        }
        tags.append(t.toString());
    }
    return tags;
}

QString newToken()
{
    QByteArray raw(32, '\0');
    auto* gen = QRandomGenerator::system();
    for (auto& c : raw)
        c = char(gen->bounded(256));
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return {};
    }
}

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

QByteArray Incoming::header(const QByteArray& lowerName) const
{
    for (const auto& h : headers)
        if (h.first == lowerName)
            return h.second;
    return {};
}

StudyServer::StudyServer(StudyStore* store, Options options, QObject* parent)
    : QAbstractHttpServer(parent), store_(store), options_(std::move(options))
{
}

void StudyServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // handleRequest answers everything; this only runs if that ever changes.
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, error(404, QStringLiteral("not found")), Incoming{});
}

bool StudyServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // Copy what we need: a delayed answer outlives the request object's turn.
    Incoming in;
    const QMetaEnum methods = QMetaEnum::fromType<QHttpServerRequest::Method>();
    in.method = QString::fromLatin1(methods.valueToKey(int(request.method()))).toUpper();
    if (in.method.isEmpty())
        in.method = QStringLiteral("UNKNOWN");
    const QUrl url = request.url();
    in.path = url.path();
    in.target = url.path(QUrl::FullyEncoded);
    if (url.hasQuery())
        in.target += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    in.query = request.query();
    for (const auto& h : request.headers()) {
        const QByteArray name = h.first.toLower();
        bool merged = false;
        for (auto& existing : in.headers) {
            if (existing.first == name) {
                existing.second += ", " + h.second;
                merged = true;
            }
        }
        if (!merged)
            in.headers.append({name, h.second});
    }
    in.body = request.body();
    in.peer = request.remoteAddress();

    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));

    if (in.path == QLatin1String("/control") || in.path.startsWith(QLatin1String("/control/"))) {
        send(*responder, handleControl(in), in);
        return true;
    }
    if (in.path != QLatin1String("/api") && !in.path.startsWith(QLatin1String("/api/"))) {
        send(*responder, error(404, QStringLiteral("not found; the service lives under /api")), in);
        return true;
    }

    QJsonObject headers;
    for (const auto& h : in.headers)
        headers.insert(QString::fromLatin1(h.first), QString::fromUtf8(h.second));
    if (requests_.size() >= kMaxRecorded)
        requests_.removeFirst();
    requests_.append(QJsonObject{{"method", in.method},
                                  {"path", in.target},
                                  {"headers", headers},
                                  {"body", QString::fromUtf8(in.body.left(options_.maxBodyBytes))}});

    const std::optional<Fault> fault = takeFault(in.target);
    if (!fault) {
        send(*responder, handleApi(in), in);
        return true;
    }
    if (fault->mode == QLatin1String("drop")) {
        if (!options_.quiet)
            std::fprintf(stderr, "%s %s %s -> dropped (fault)\n",
                         qPrintable(QTime::currentTime().toString(Qt::ISODateWithMs)), qPrintable(in.method),
                         qPrintable(in.target));
        // Close once the server is done with this request; closing from inside
        // the handler would pull the socket away under it.
        QTimer::singleShot(0, socket, [socket] { socket->abort(); });
        return true;
    }
    if (fault->mode == QLatin1String("delay")) {
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(fault->delayMs, socket, [this, guard, responder, in] {
            if (!guard || guard->state() != QAbstractSocket::ConnectedState)
                return;  // the client gave up waiting
            send(*responder, handleApi(in), in);
        });
        return true;
    }
    send(*responder, faultReply(*fault), in);
    return true;
}

std::optional<Fault> StudyServer::takeFault(const QString& target)
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

Reply StudyServer::faultReply(const Fault& f) const
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

void StudyServer::send(QHttpServerResponder& responder, const Reply& reply, const Incoming& in)
{
    if (!options_.quiet && !in.method.isEmpty())
        std::fprintf(stderr, "%s %s %s -> %d\n", qPrintable(QTime::currentTime().toString(Qt::ISODateWithMs)),
                     qPrintable(in.method), qPrintable(in.target), reply.status);
    QTcpSocket* socket = responder.socket();
    // The status line is written by hand so that any status a fault asks for
    // (even one without a reason phrase in Qt's table) goes out as given.
    socket->write("HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status)
                  + "\r\n");
    const bool bodiless = reply.status == 204 || reply.status == 304;
    if (!bodiless)
        responder.writeHeader("Content-Type", reply.contentType);
    for (const auto& h : reply.headers)
        responder.writeHeader(h.first, h.second);
    if (!bodiless)
        responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    // A HEAD answer announces the body but must not carry it.
    responder.writeBody(bodiless || in.method == QLatin1String("HEAD") ? QByteArray() : reply.body);
}

// ---- /api ------------------------------------------------------------------

Reply StudyServer::handleApi(const Incoming& in)
{
    if (in.body.size() > options_.maxBodyBytes)
        return error(413, QStringLiteral("request body larger than %1 bytes").arg(options_.maxBodyBytes));

    const QString p = in.path.mid(4);  // after "/api"
    const QString& m = in.method;

    if (p == QLatin1String("/auth/login"))
        return m == QLatin1String("POST") ? login(in) : methodNotAllowed("POST");

    static const QRegularExpression entryPath(QStringLiteral("^/journal/(-?\\d{1,18})$"));
    const QRegularExpressionMatch entryMatch = entryPath.match(p);
    const bool known = p == QLatin1String("/trouble-cards") || p == QLatin1String("/reviews")
                       || p == QLatin1String("/journal") || p == QLatin1String("/journal/quick-note")
                       || p == QLatin1String("/journal/normalize") || entryMatch.hasMatch();
    if (!known)
        return error(404, QStringLiteral("no such endpoint: ") + in.path);

    QByteArray allow;
    if (p == QLatin1String("/trouble-cards"))
        allow = "GET";
    else if (p == QLatin1String("/journal"))
        allow = "GET, POST";
    else if (entryMatch.hasMatch())
        allow = "GET, PUT, DELETE";
    else
        allow = "POST";
    if (!QString::fromLatin1(allow).split(QStringLiteral(", ")).contains(m))
        return methodNotAllowed(allow);

    const std::optional<QString> who = sessionEmail(in);
    if (!who)
        return error(401, QStringLiteral("missing, unknown or expired access token"));

    if (p == QLatin1String("/trouble-cards"))
        return troubleCards(*who, in);
    if (p == QLatin1String("/reviews"))
        return postReview(*who, in);
    if (p == QLatin1String("/journal"))
        return m == QLatin1String("GET") ? listJournal(*who) : createEntry(*who, in);
    if (p == QLatin1String("/journal/quick-note"))
        return quickNote(*who, in);
    if (p == QLatin1String("/journal/normalize"))
        return normalize(in);
    const qint64 id = entryMatch.captured(1).toLongLong();
    if (m == QLatin1String("GET"))
        return getEntry(*who, id);
    if (m == QLatin1String("PUT"))
        return updateEntry(*who, id, in);
    return deleteEntry(*who, id);
}

std::optional<QString> StudyServer::sessionEmail(const Incoming& in)
{
    const QByteArray auth = in.header("authorization").trimmed();
    if (!auth.startsWith("Bearer ") && !auth.startsWith("bearer "))
        return std::nullopt;
    const QString token = QString::fromLatin1(auth.mid(7).trimmed());
    auto it = sessions_.find(token);
    if (it == sessions_.end())
        return std::nullopt;
    if (it->expiry.hasExpired()) {
        sessions_.erase(it);
        return std::nullopt;
    }
    return it->email;
}

QString StudyServer::issueToken(const QString& email)
{
    // Forget sessions that ran out, so a long-running service stays small.
    sessions_.removeIf([](const auto& it) { return it.value().expiry.hasExpired(); });
    const QString token = newToken();
    sessions_.insert(token, Session{email, QDeadlineTimer(qint64(std::llround(options_.tokenTtlSeconds * 1000)))});
    return token;
}

bool StudyServer::saved()
{
    return !options_.persist || options_.persist(*store_);
}

Reply StudyServer::login(const Incoming& in)
{
    Reply bad;
    const auto body = objectBody(in, &bad);
    if (!body)
        return bad;
    const auto email = stringField(*body, QStringLiteral("email"), true, &bad);
    if (!email)
        return bad;
    const auto password = stringField(*body, QStringLiteral("password"), true, &bad);
    if (!password)
        return bad;
    const Account* account = store_->authenticate(*email, *password);
    if (!account)
        return error(401, QStringLiteral("invalid e-mail or password"));
    const QString token = issueToken(account->email);
    return json(200, QJsonObject{{"access_token", token},
                                 {"token_type", "Bearer"},
                                 {"expires_in", qint64(std::ceil(options_.tokenTtlSeconds))},
                                 {"user", QJsonObject{{"id", account->id}, {"email", account->email}}}});
}

Reply StudyServer::troubleCards(const QString& who, const Incoming& in)
{
    int limit = 10;
    if (in.query.hasQueryItem(QStringLiteral("limit"))) {
        const QString text = in.query.queryItemValue(QStringLiteral("limit"));
        static const QRegularExpression digits(QStringLiteral("^-?\\d{1,9}$"));
        if (!digits.match(text).hasMatch() || text.toInt() < 0 || text.toInt() > kMaxLimit)
            return error(400, QStringLiteral("limit must be an integer from 0 to %1").arg(kMaxLimit));
        limit = text.toInt();
    }
    QJsonArray out;
    for (const Card& c : store_->troubleCards(who, limit))
        out.append(StudyStore::cardJson(c));
    return json(200, out);
}

Reply StudyServer::postReview(const QString& who, const Incoming& in)
{
    Reply bad;
    const auto body = objectBody(in, &bad);
    if (!body)
        return bad;
    const QJsonValue cardId = body->value("card_id");
    const QJsonValue quality = body->value("quality");
    if (cardId.isUndefined() || quality.isUndefined())
        return error(400, QStringLiteral("missing field \"%1\"")
                              .arg(cardId.isUndefined() ? QStringLiteral("card_id") : QStringLiteral("quality")));
    if (!isInteger(cardId))
        return error(400, QStringLiteral("field \"card_id\" must be an integer"));
    if (!isInteger(quality) || quality.toInt() < 0 || quality.toInt() > 5)
        return error(400, QStringLiteral("field \"quality\" must be an integer from 0 to 5"));
    const Card* card = store_->review(who, cardId.toInteger(), quality.toInt(), QDateTime::currentDateTimeUtc());
    if (!card)
        return error(404, QStringLiteral("no card %1 in this account").arg(cardId.toInteger()));
    const QJsonObject data{{"card_id", card->id}, {"quality", quality.toInt()}, {"card", StudyStore::cardJson(*card)}};
    if (!saved())
        return error(503, QStringLiteral("review recorded in memory but the data file could not be written"));
    return json(200, data);
}

Reply StudyServer::listJournal(const QString& who)
{
    QJsonArray out;
    for (const JournalEntry& e : store_->journal(who))
        out.append(StudyStore::entryJson(e));
    return json(200, out);
}

Reply StudyServer::getEntry(const QString& who, qint64 id)
{
    const JournalEntry* e = store_->entry(who, id);
    if (!e)
        return error(404, QStringLiteral("no journal entry %1").arg(id));
    return json(200, StudyStore::entryJson(*e));
}

namespace {

std::optional<QJsonObject> entryObject(const QJsonObject& body, Reply* bad)
{
    const QJsonValue v = body.value("entry");
    if (v.isUndefined()) {
        *bad = error(400, QStringLiteral("missing field \"entry\""));
        return std::nullopt;
    }
    if (!v.isObject()) {
        *bad = error(400, QStringLiteral("field \"entry\" must be an object"));
        return std::nullopt;
    }
    return v.toObject();
}

} // namespace

Reply StudyServer::createEntry(const QString& who, const Incoming& in)
{
    Reply bad;
    const auto body = objectBody(in, &bad);
    if (!body)
        return bad;
    const auto entry = entryObject(*body, &bad);
    if (!entry)
        return bad;
    const auto title = stringField(*entry, QStringLiteral("title"), true, &bad);
    if (!title)
        return bad;
    const auto content = stringField(*entry, QStringLiteral("content"), true, &bad);
    if (!content)
        return bad;
    bool ok = true;
    const auto tags = tagsField(*entry, &bad, &ok);
    if (!ok)
        return bad;
    const JournalEntry e = store_->addEntry(who, *title, *content, tags.value_or(QStringList{}));
    if (!saved())
        return error(503, QStringLiteral("entry kept in memory but the data file could not be written"));
    return json(201, StudyStore::entryJson(e));
}

Reply StudyServer::updateEntry(const QString& who, qint64 id, const Incoming& in)
{
    Reply bad;
    const auto body = objectBody(in, &bad);
    if (!body)
        return bad;
    const auto entry = entryObject(*body, &bad);
    if (!entry)
        return bad;
    bool present = false;
    const auto title = stringField(*entry, QStringLiteral("title"), false, &bad, &present);
    if (present && !title && !entry->value("title").isNull())
        return bad;
    const auto content = stringField(*entry, QStringLiteral("content"), false, &bad, &present);
    if (present && !content && !entry->value("content").isNull())
        return bad;
    bool ok = true;
    const auto tags = tagsField(*entry, &bad, &ok);
    if (!ok)
        return bad;
    const JournalEntry* e = store_->updateEntry(who, id, title, content, tags);
    if (!e)
        return error(404, QStringLiteral("no journal entry %1").arg(id));
    const QJsonObject data = StudyStore::entryJson(*e);
    if (!saved())
        return error(503, QStringLiteral("change kept in memory but the data file could not be written"));
    return json(200, data);
}

Reply StudyServer::deleteEntry(const QString& who, qint64 id)
{
    if (!store_->removeEntry(who, id))
        return error(404, QStringLiteral("no journal entry %1").arg(id));
    if (!saved())
        return error(503, QStringLiteral("deleted in memory but the data file could not be written"));
    return json(200, QJsonObject{{"id", id}, {"deleted", true}});
}

namespace {

std::optional<QString> noteText(const Incoming& in, Reply* bad)
{
    const auto body = objectBody(in, bad);
    if (!body)
        return std::nullopt;
    const auto text = stringField(*body, QStringLiteral("text"), true, bad);
    if (!text)
        return std::nullopt;
    if (text->trimmed().isEmpty()) {
        *bad = error(400, QStringLiteral("field \"text\" must not be empty"));
        return std::nullopt;
    }
    return text;
}

} // namespace

Reply StudyServer::quickNote(const QString& who, const Incoming& in)
{
    Reply bad;
    const auto text = noteText(in, &bad);
    if (!text)
        return bad;
    const Normalized n = normalizeNote(*text);
    const JournalEntry e = store_->addEntry(who, n.title, text->trimmed(), n.tags);
    if (!saved())
        return error(503, QStringLiteral("note kept in memory but the data file could not be written"));
    return json(201, StudyStore::entryJson(e));
}

Reply StudyServer::normalize(const Incoming& in)
{
    Reply bad;
    const auto text = noteText(in, &bad);
    if (!text)
        return bad;
    const Normalized n = normalizeNote(*text);
    return json(200, QJsonObject{{"title", n.title},
                                 {"content", n.content},
                                 {"tags", QJsonArray::fromStringList(n.tags)}});
}

// ---- /control ----------------------------------------------------------------

Reply StudyServer::handleControl(const Incoming& in)
{
    if (!in.peer.isLoopback())
        return error(403, QStringLiteral("control endpoints answer loopback clients only"));
    if (in.body.size() > options_.maxBodyBytes)
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
        sessions_.clear();
        store_->seed();
        if (!saved())
            return error(503, QStringLiteral("reseeded in memory but the data file could not be written"));
        return json(200, QJsonObject{{"reseeded", true}});
    }
    if (p == QLatin1String("/fault"))
        return post ? queueFault(in) : methodNotAllowed("POST");
    if (p == QLatin1String("/expire-tokens")) {
        if (!post)
            return methodNotAllowed("POST");
        const qsizetype n = sessions_.size();
        sessions_.clear();
        return json(200, QJsonObject{{"expired", qint64(n)}});
    }
    if (p == QLatin1String("/requests"))
        return get ? json(200, requests_) : methodNotAllowed("GET");
    if (p == QLatin1String("/state"))
        return get ? json(200, stateJson()) : methodNotAllowed("GET");
    return error(404, QStringLiteral("no such control endpoint: ") + in.path);
}

Reply StudyServer::queueFault(const Incoming& in)
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

QJsonObject StudyServer::stateJson() const
{
    QJsonArray reviews;
    for (const ReviewLog& r : store_->reviews())
        reviews.append(QJsonObject{{"account", r.account}, {"card_id", r.cardId}, {"quality", r.quality}});
    QJsonObject journal;
    QJsonObject cards;
    for (const Account& a : store_->accounts()) {
        QJsonArray entries;
        for (const JournalEntry& e : store_->journal(a.email))
            entries.append(StudyStore::entryJson(e));
        journal.insert(a.email, entries);
        QJsonArray own;
        for (const Card& c : store_->cards())
            if (c.owner == a.email)
                own.append(StudyStore::cardJson(c));
        cards.insert(a.email, own);
    }
    return QJsonObject{{"reviews", reviews}, {"journal", journal}, {"cards", cards}};
}

} // namespace study
