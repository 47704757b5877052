#include "service/StudyApi.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace study {

namespace {

constexpr int kMaxLimit = 1000;
constexpr qsizetype kMaxKeyLength = 255;

QString newToken()
{
    QByteArray raw(32, '\0');
    auto* gen = QRandomGenerator::system();
    for (auto& c : raw)
        c = char(gen->bounded(256));
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

StudyApi::StudyApi(StudyStore* store, ServiceOptions options) : store_(store), options_(std::move(options)) {}

bool StudyApi::reseed(QString* error)
{
    sessions_.clear();
    return store_->replaceAll(seedSnapshot(), error);
}

qsizetype StudyApi::expireSessions()
{
    const qsizetype n = sessions_.size();
    sessions_.clear();
    return n;
}

Reply StudyApi::handle(const Incoming& in)
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

    // Normalizing changes nothing: the same text gets the same answer anyway.
    const QByteArray key = in.header("idempotency-key").trimmed();
    if (key.isEmpty() || m != QLatin1String("POST") || p == QLatin1String("/journal/normalize"))
        return route(*who, in);
    return once(*who, key, in);
}

Reply StudyApi::route(const QString& who, const Incoming& in)
{
    const QString p = in.path.mid(4);
    if (p == QLatin1String("/trouble-cards"))
        return troubleCards(who, in);
    if (p == QLatin1String("/reviews"))
        return postReview(who, in);
    if (p == QLatin1String("/journal"))
        return in.method == QLatin1String("GET") ? listJournal(who) : createEntry(who, in);
    if (p == QLatin1String("/journal/quick-note"))
        return quickNote(who, in);
    if (p == QLatin1String("/journal/normalize"))
        return normalize(in);
    const qint64 id = p.mid(9).toLongLong(); // after "/journal/"
    if (in.method == QLatin1String("GET"))
        return getEntry(who, id);
    if (in.method == QLatin1String("PUT"))
        return updateEntry(who, id, in);
    return deleteEntry(who, id);
}

Reply StudyApi::once(const QString& who, const QByteArray& key, const Incoming& in)
{
    if (key.size() > kMaxKeyLength)
        return error(400, QStringLiteral("Idempotency-Key longer than %1 characters").arg(kMaxKeyLength));
    const QString keyText = QString::fromLatin1(key);
    const QString what = in.method + u' ' + in.target + u' '
                         + QString::fromLatin1(QCryptographicHash::hash(in.body, QCryptographicHash::Sha256).toHex());
    if (const std::optional<KeptAnswer> kept = store_->keptAnswer(who, keyText)) {
        if (kept->request != what)
            return error(422, QStringLiteral("this Idempotency-Key was used for another request"));
        Reply r;
        r.status = kept->status;
        r.body = kept->body;
        r.headers.append({QByteArrayLiteral("Idempotent-Replayed"), QByteArrayLiteral("true")});
        return r;
    }
    // The change and its kept answer go in together or not at all, so a
    // resend after a failed write applies the request afresh.
    QString why;
    if (!store_->begin(&why))
        return unsaved(QStringLiteral("request"), why);
    const Reply r = route(who, in);
    if (r.status == 503) {
        store_->rollback();
        return r;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!store_->keepAnswer(KeptAnswer{who, keyText, what, r.status, r.body, now.toString(Qt::ISODateWithMs)}, now,
                            &why)) {
        store_->rollback();
        return unsaved(QStringLiteral("request"), why);
    }
    if (!store_->commit(&why))
        return unsaved(QStringLiteral("request"), why);
    return r;
}

std::optional<QString> StudyApi::sessionEmail(const Incoming& in)
{
    const QByteArray auth = in.header("authorization").trimmed();
    if (!auth.startsWith("Bearer ") && !auth.startsWith("bearer "))
        return std::nullopt;
    const QString token = QString::fromLatin1(auth.mid(7).trimmed());
    auto it = sessions_.find(token);
    if (it == sessions_.end())
        return std::nullopt;
    // An account removed from the command line signs its sessions out.
    if (it->expiry.hasExpired() || !store_->account(it->email)) {
        sessions_.erase(it);
        return std::nullopt;
    }
    return it->email;
}

QString StudyApi::issueToken(const QString& email)
{
    // Forget sessions that ran out, so a long-running service stays small.
    sessions_.removeIf([](const auto& it) { return it.value().expiry.hasExpired(); });
    const QString token = newToken();
    sessions_.insert(token, Session{email, QDeadlineTimer(qint64(std::llround(options_.tokenTtlSeconds * 1000)))});
    return token;
}

Reply StudyApi::unsaved(const QString& what, const QString& why) const
{
    std::fprintf(stderr, "tavlo-study-service: %s not kept: %s\n", qPrintable(what), qPrintable(why));
    return error(503, QStringLiteral("the %1 could not be kept in the database; nothing was changed").arg(what));
}

Reply StudyApi::login(const Incoming& in)
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
    const std::optional<Account> account = store_->account(*email);
    // Spend the same time on unknown e-mails as on wrong passwords.
    static const Account nobody = makeAccount(QStringLiteral("nobody"), QStringLiteral("nobody"));
    if (!passwordMatches(account.value_or(nobody), *password) || !account)
        return error(401, QStringLiteral("invalid e-mail or password"));
    const QString token = issueToken(account->email);
    return json(200, QJsonObject{{"access_token", token},
                                 {"token_type", "Bearer"},
                                 {"expires_in", qint64(std::ceil(options_.tokenTtlSeconds))},
                                 {"user", QJsonObject{{"id", account->id}, {"email", account->email}}}});
}

Reply StudyApi::troubleCards(const QString& who, const Incoming& in)
{
    int limit = 10;
    if (in.query.hasQueryItem(QStringLiteral("limit"))) {
        const QString text = in.query.queryItemValue(QStringLiteral("limit"));
        static const QRegularExpression digits(QStringLiteral("^-?\\d+$"));
        if (!digits.match(text).hasMatch())
            return error(400, QStringLiteral("limit must be an integer"));
        // Out of range is clamped, not refused: the caller is promised a list.
        bool ok = false;
        const qlonglong asked = text.toLongLong(&ok);
        limit = ok ? int(std::clamp<qlonglong>(asked, 0, kMaxLimit)) : text.startsWith(u'-') ? 0 : kMaxLimit;
    }
    QJsonArray out;
    for (const Card& c : store_->troubleCards(who, limit))
        out.append(StudyStore::cardJson(c));
    return json(200, out);
}

Reply StudyApi::postReview(const QString& who, const Incoming& in)
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
    Card card;
    QString why;
    switch (store_->review(who, cardId.toInteger(), quality.toInt(), QDateTime::currentDateTimeUtc(), &card, &why)) {
    case StudyStore::Outcome::NotFound:
        return error(404, QStringLiteral("no card %1 in this account").arg(cardId.toInteger()));
    case StudyStore::Outcome::Failed:
        return unsaved(QStringLiteral("review"), why);
    case StudyStore::Outcome::Done:
        break;
    }
    return json(200, QJsonObject{{"card_id", card.id}, {"quality", quality.toInt()}, {"card", StudyStore::cardJson(card)}});
}

Reply StudyApi::listJournal(const QString& who)
{
    QJsonArray out;
    for (const JournalEntry& e : store_->journal(who))
        out.append(StudyStore::entryJson(e));
    return json(200, out);
}

Reply StudyApi::getEntry(const QString& who, qint64 id)
{
    const std::optional<JournalEntry> e = store_->entry(who, id);
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

Reply StudyApi::createEntry(const QString& who, const Incoming& in)
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
    QString why;
    const std::optional<JournalEntry> e = store_->addEntry(who, *title, *content, tags.value_or(QStringList{}), &why);
    if (!e)
        return unsaved(QStringLiteral("entry"), why);
    return json(201, StudyStore::entryJson(*e));
}

Reply StudyApi::updateEntry(const QString& who, qint64 id, const Incoming& in)
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
    JournalEntry e;
    QString why;
    switch (store_->updateEntry(who, id, title, content, tags, &e, &why)) {
    case StudyStore::Outcome::NotFound:
        return error(404, QStringLiteral("no journal entry %1").arg(id));
    case StudyStore::Outcome::Failed:
        return unsaved(QStringLiteral("change"), why);
    case StudyStore::Outcome::Done:
        break;
    }
    return json(200, StudyStore::entryJson(e));
}

Reply StudyApi::deleteEntry(const QString& who, qint64 id)
{
    QString why;
    switch (store_->removeEntry(who, id, &why)) {
    case StudyStore::Outcome::NotFound:
        return error(404, QStringLiteral("no journal entry %1").arg(id));
    case StudyStore::Outcome::Failed:
        return unsaved(QStringLiteral("deletion"), why);
    case StudyStore::Outcome::Done:
        break;
    }
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

Reply StudyApi::quickNote(const QString& who, const Incoming& in)
{
    Reply bad;
    const auto text = noteText(in, &bad);
    if (!text)
        return bad;
    const Normalized n = normalizeNote(*text);
    QString why;
    const std::optional<JournalEntry> e = store_->addEntry(who, n.title, text->trimmed(), n.tags, &why);
    if (!e)
        return unsaved(QStringLiteral("note"), why);
    return json(201, StudyStore::entryJson(*e));
}

Reply StudyApi::normalize(const Incoming& in)
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

} // namespace study
