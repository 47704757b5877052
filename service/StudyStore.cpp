#include "service/StudyStore.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <algorithm>
#include <cmath>

namespace study {

namespace {

constexpr int kPbkdf2Rounds = 10000;

QByteArray randomBytes(int n)
{
    QByteArray out(n, '\0');
    auto* gen = QRandomGenerator::system();
    for (int i = 0; i < n; ++i)
        out[i] = char(gen->bounded(256));
    return out;
}

QByteArray hashPassword(const QString& password, const QByteArray& salt)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              kPbkdf2Rounds, 32);
}

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

double round2(double v) { return std::round(v * 100.0) / 100.0; }

struct SeedCard {
    const char* front;
    const char* back;
    const char* notes;   // nullptr: none
    double score;
    // Review state; repetitions < 0 means the card was never reviewed.
    double ease;
    int interval;
    int repetitions;
    const char* due;
    int lapses;
};

// Spanish, with part-of-speech markers, accents and alternatives.
const SeedCard kSpanish[] = {
    {"el corazón (n.)", "heart", nullptr, 4.8, 1.3, 1, 0, "2026-12-05T09:00:00Z", 6},
    {"aprovechar (v.)", "to take advantage of, to make the most of", "Aprovecha el buen tiempo.", 4.6, 1.36, 1, 0, "2026-12-04T09:00:00Z", 5},
    {"la madrugada (n.)", "early morning, small hours; dawn", nullptr, 4.3, 1.42, 1, 1, "2026-12-06T07:30:00Z", 5},
    {"desarrollar (v.)", "to develop; to unfold", nullptr, 4.1, 1.5, 2, 1, "2026-12-06T10:00:00Z", 4},
    {"el ordenador (n.)", "computer", "Spain; \"la computadora\" in Latin America.", 3.9, 1.7, 1, 1, "2026-12-03T18:00:00Z", 4},
    {"pequeño (adj.)", "small, little", nullptr, 3.7, 1.8, 3, 2, "2026-12-07T08:00:00Z", 3},
    {"la cigüeña (n.)", "stork", nullptr, 3.5, 1.9, 2, 1, "2026-12-06T12:00:00Z", 3},
    {"quizás (adv.)", "perhaps, maybe", nullptr, 3.4, 2.0, 4, 2, "2026-12-08T08:00:00Z", 3},
    {"el desayuno (n.)", "breakfast", nullptr, 3.2, 2.1, 1, 0, "2026-12-05T07:00:00Z", 3},
    {"sin embargo (conj.)", "however; nevertheless", nullptr, 3.0, 2.05, 3, 1, "2026-12-07T09:00:00Z", 2},
    {"el ayuntamiento (n.)", "town hall, city council", nullptr, 2.9, 2.2, 6, 2, "2026-12-10T09:00:00Z", 2},
    {"ahorrar (v.)", "to save, to spare", "Money or time, not a file.", 2.7, 2.15, 2, 1, "2026-12-06T15:00:00Z", 2},
    {"la búsqueda (n.)", "search, quest", nullptr, 2.6, 2.3, 6, 2, "2026-12-11T09:00:00Z", 2},
    {"acostumbrarse (v.)", "to get used to", nullptr, 2.4, 2.25, 1, 0, "2026-12-04T20:00:00Z", 2},
    {"el pañuelo (n.)", "handkerchief; scarf", nullptr, 2.3, 2.35, 8, 3, "2026-12-12T09:00:00Z", 1},
    {"todavía (adv.)", "still, yet", nullptr, 2.1, 2.4, 5, 2, "2026-12-09T09:00:00Z", 1},
    {"la huelga (n.)", "strike", "As in a labour strike.", 1.9, 2.3, 3, 1, "2026-12-07T12:00:00Z", 1},
    {"el cumpleaños (n.)", "birthday", nullptr, 1.7, 2.5, 0, -1, "", 0},
    {"enseguida (adv.)", "right away, at once; immediately", nullptr, 1.6, 2.45, 10, 3, "2026-12-14T09:00:00Z", 1},
    {"la ventaja (n.)", "advantage", nullptr, 1.4, 2.5, 0, -1, "", 0},
    {"ñoño (adj.)", "dull, insipid; prudish", nullptr, 1.3, 2.5, 0, -1, "", 0},
    {"el albañil (n.)", "bricklayer, builder", nullptr, 1.1, 2.55, 15, 4, "2026-12-20T09:00:00Z", 1},
    {"la lluvia (n.)", "rain", nullptr, 0.9, 2.6, 20, 4, "2026-12-24T09:00:00Z", 0},
    {"mañana (adv.)", "tomorrow", "\"la mañana\" (n.) is the morning.", 0.8, 2.6, 12, 3, "2026-12-16T09:00:00Z", 0},
};

// Japanese (CJK fronts).
const SeedCard kJapanese[] = {
    {"図書館 (n.)", "library", "としょかん", 4.4, 1.4, 1, 0, "2026-12-05T09:00:00Z", 5},
    {"忘れる (v.)", "to forget; to leave behind", "わすれる", 3.6, 1.75, 2, 1, "2026-12-06T09:00:00Z", 3},
    {"友達 (n.)", "friend, companion", "ともだち", 2.2, 2.3, 4, 2, "2026-12-08T09:00:00Z", 1},
    {"美味しい (adj.)", "delicious, tasty", "おいしい", 1.2, 2.5, 0, -1, "", 0},
};

// Russian (Cyrillic fronts).
const SeedCard kRussian[] = {
    {"достопримечательность (n.)", "sight, place of interest; landmark", nullptr, 4.0, 1.6, 1, 0, "2026-12-05T11:00:00Z", 4},
    {"спасибо (interj.)", "thank you, thanks", nullptr, 2.0, 2.4, 3, 1, "2026-12-07T11:00:00Z", 1},
    {"понимать (v.)", "to understand", nullptr, 1.0, 2.5, 6, 2, "2026-12-10T11:00:00Z", 0},
    {"вчера (adv.)", "yesterday", nullptr, 0.7, 2.6, 0, -1, "", 0},
};

// The second account's own small German deck.
const SeedCard kGerman[] = {
    {"der Apfel (n.)", "apple", nullptr, 3.1, 1.9, 1, 0, "2026-12-05T09:00:00Z", 3},
    {"schön (adj.)", "beautiful, nice; fine", nullptr, 2.5, 2.2, 2, 1, "2026-12-06T09:00:00Z", 2},
    {"die Straße (n.)", "street; road", nullptr, 1.8, 2.4, 4, 2, "2026-12-08T09:00:00Z", 1},
    {"tschüss (interj.)", "bye, see you", nullptr, 0.6, 2.5, 0, -1, "", 0},
};

bool isInt(const QJsonValue& v)
{
    return v.isDouble() && v.toDouble() == std::floor(v.toDouble()) && std::isfinite(v.toDouble());
}

} // namespace

QString isoNow()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

Account makeAccount(const QString& email, const QString& password)
{
    Account a;
    a.email = email.trimmed();
    a.salt = randomBytes(16);
    a.passwordHash = hashPassword(password, a.salt);
    return a;
}

bool passwordMatches(const Account& account, const QString& password)
{
    return sameBytes(hashPassword(password, account.salt), account.passwordHash);
}

Snapshot seedSnapshot()
{
    Snapshot out;
    // Reseeding is frequent in tests; hash each seed password once per process.
    static const QList<Account> accounts = [] {
        Account demo = makeAccount(QStringLiteral("demo@tavlo.app"), QStringLiteral("tavlo-demo"));
        demo.id = 1;
        Account second = makeAccount(QStringLiteral("second@tavlo.app"), QStringLiteral("tavlo-second"));
        second.id = 2;
        return QList<Account>{demo, second};
    }();
    out.accounts = accounts;

    qint64 nextCard = 1;
    auto addDeck = [&](const QString& owner, qint64 deckId, const QString& deckName,
                       const SeedCard* begin, const SeedCard* end) {
        for (const SeedCard* s = begin; s != end; ++s) {
            Card c;
            c.id = nextCard++;
            c.owner = owner;
            c.deckId = deckId;
            c.deckName = deckName;
            c.front = QString::fromUtf8(s->front);
            c.back = QString::fromUtf8(s->back);
            if (s->notes)
                c.notes = QString::fromUtf8(s->notes);
            c.troubleScore = s->score;
            c.lapses = s->lapses;
            if (s->repetitions >= 0)
                c.review = ReviewState{s->ease, s->interval, s->repetitions, QString::fromUtf8(s->due)};
            out.cards.append(c);
        }
    };
    const QString demo = QStringLiteral("demo@tavlo.app");
    addDeck(demo, 1, QStringLiteral("Spanish Vocabulary"), std::begin(kSpanish), std::end(kSpanish));
    addDeck(demo, 2, QStringLiteral("Everyday Japanese"), std::begin(kJapanese), std::end(kJapanese));
    addDeck(demo, 3, QStringLiteral("Russian Basics"), std::begin(kRussian), std::end(kRussian));
    nextCard = 101;
    addDeck(QStringLiteral("second@tavlo.app"), 10, QStringLiteral("German Basics"),
            std::begin(kGerman), std::end(kGerman));

    qint64 nextEntry = 1;
    auto addSeedEntry = [&](const QString& owner, const char* title, const char* content,
                            QStringList tags, const char* inserted, const char* updated) {
        out.entries.append(JournalEntry{nextEntry++, owner, QString::fromUtf8(title), QString::fromUtf8(content),
                                        tags, QString::fromUtf8(inserted), QString::fromUtf8(updated)});
    };
    addSeedEntry(demo, "Ser vs. estar",
                 "# Ser vs. estar\n\n- **ser**: identity, origin, time\n- **estar**: location, "
                 "states, *results*\n\nEs tarde. / Estoy cansado.",
                 {"spanish", "grammar"}, "2026-11-28T19:42:10Z", "2026-11-28T19:42:10Z");
    addSeedEntry(demo, "Kanji for places",
                 "図書館 (としょかん) is *library*; 館 means a large building.\n\nSee also 美術館 "
                 "(museum).",
                 {"japanese", "kanji"}, "2026-11-30T08:15:00.123Z", "2026-12-01T21:03:44.5Z");
    addSeedEntry(demo, "Weekly goal",
                 "Review the **trouble cards** every evening; aim for 20 minutes.",
                 {}, "2026-12-02T07:05:00+01:00", "2026-12-02T07:05:00+01:00");
    addSeedEntry(demo, "Падежи",
                 "Russian has six cases. Start with the *accusative*: книга → книгу.",
                 {"russian", "grammar"}, "2026-12-04T17:20:31.004Z", "2026-12-05T09:11:00Z");
    addSeedEntry(QStringLiteral("second@tavlo.app"), "Der, die, das",
                 "Learn every noun **with** its article.", {"german"}, "2026-12-01T12:00:00Z",
                 "2026-12-01T12:00:00Z");
    return out;
}

void applyReview(Card* card, int quality, const QDateTime& now)
{
    Card& c = *card;
    ReviewState r = c.review.value_or(ReviewState{});

    // SM-2: a failed recall starts the card over; a pass grows the interval.
    if (quality < 3) {
        r.repetitions = 0;
        r.interval = 1;
    } else {
        if (r.repetitions == 0)
            r.interval = 1;
        else if (r.repetitions == 1)
            r.interval = 6;
        else
            r.interval = std::max<qint64>(1, qint64(std::llround(double(r.interval) * r.easeFactor)));
        r.repetitions += 1;
    }
    const int q = 5 - quality;
    r.easeFactor = std::max(1.3, round2(r.easeFactor + (0.1 - q * (0.08 + q * 0.02))));
    r.dueDate = now.toUTC().addDays(r.interval).toString(Qt::ISODate);
    c.review = r;

    // The trouble score rises with every lapse (more for repeat offenders) and
    // shrinks with right answers; a run of them clears it.
    if (quality < 3) {
        c.lapses += 1;
        c.rightRun = 0;
        c.troubleScore = round2(c.troubleScore + 1.0 + 0.25 * double(std::min<qint64>(c.lapses, 8)));
    } else {
        c.rightRun += 1;
        c.troubleScore = round2(c.troubleScore * (quality == 3 ? 0.85 : 0.6));
        if (c.rightRun >= troubleClearingRun)
            c.troubleScore = 0;
    }
    if (c.troubleScore < troubleFloor)
        c.troubleScore = 0;
}

QJsonObject StudyStore::cardJson(const Card& c)
{
    QJsonObject o{
        {"id", c.id},
        {"deck_id", c.deckId},
        {"deck_name", c.deckName},
        {"front", c.front},
        {"back", c.back},
        {"notes", c.notes.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(c.notes)},
        {"trouble_score", c.troubleScore},
    };
    if (c.review) {
        o.insert("review", QJsonObject{
                               {"ease_factor", c.review->easeFactor},
                               {"interval", c.review->interval},
                               {"repetitions", c.review->repetitions},
                               {"due_date", c.review->dueDate},
                           });
    } else {
        o.insert("review", QJsonValue::Null);
    }
    return o;
}

QJsonObject StudyStore::entryJson(const JournalEntry& e)
{
    return QJsonObject{
        {"id", e.id},
        {"title", e.title},
        {"content", e.content},
        {"tags", QJsonArray::fromStringList(e.tags)},
        {"inserted_at", e.insertedAt},
        {"updated_at", e.updatedAt},
    };
}

std::optional<Snapshot> snapshotFromJson(const QJsonObject& doc, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<Snapshot> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (doc.value("format").toString() != QLatin1String("tavlo-study-service")
        || doc.value("version").toInt() != 1)
        return fail(QStringLiteral("not a tavlo-study-service data file (version 1)"));

    Snapshot out;
    for (const QJsonValue& v : doc.value("accounts").toArray()) {
        const QJsonObject o = v.toObject();
        Account a;
        a.id = o.value("id").toInteger();
        a.email = o.value("email").toString();
        a.salt = QByteArray::fromBase64(o.value("salt").toString().toLatin1());
        a.passwordHash = QByteArray::fromBase64(o.value("password_hash").toString().toLatin1());
        if (a.email.isEmpty() || a.salt.isEmpty() || a.passwordHash.isEmpty())
            return fail(QStringLiteral("account entry without e-mail or password hash"));
        out.accounts.append(a);
    }
    for (const QJsonValue& v : doc.value("cards").toArray()) {
        const QJsonObject o = v.toObject();
        if (!isInt(o.value("id")) || !o.value("owner").isString() || !o.value("front").isString()
            || !o.value("back").isString())
            return fail(QStringLiteral("card entry without id, owner, front or back"));
        Card c;
        c.id = o.value("id").toInteger();
        c.owner = o.value("owner").toString();
        c.deckId = o.value("deck_id").toInteger();
        c.deckName = o.value("deck_name").toString();
        c.front = o.value("front").toString();
        c.back = o.value("back").toString();
        c.notes = o.value("notes").toString();
        c.troubleScore = o.value("trouble_score").toDouble();
        c.lapses = o.value("lapses").toInteger();
        const QJsonObject r = o.value("review").toObject();
        if (!r.isEmpty())
            c.review = ReviewState{r.value("ease_factor").toDouble(2.5),
                                   r.value("interval").toInteger(), r.value("repetitions").toInteger(),
                                   r.value("due_date").toString()};
        out.cards.append(c);
    }
    for (const QJsonValue& v : doc.value("reviews").toArray()) {
        const QJsonObject o = v.toObject();
        out.reviews.append(ReviewLog{o.value("account").toString(), o.value("card_id").toInteger(),
                                     o.value("quality").toInt(), o.value("reviewed_at").toString()});
    }
    for (const QJsonValue& v : doc.value("journal").toArray()) {
        const QJsonObject o = v.toObject();
        if (!isInt(o.value("id")) || !o.value("owner").isString())
            return fail(QStringLiteral("journal entry without id or owner"));
        JournalEntry e;
        e.id = o.value("id").toInteger();
        e.owner = o.value("owner").toString();
        e.title = o.value("title").toString();
        e.content = o.value("content").toString();
        for (const QJsonValue& t : o.value("tags").toArray())
            e.tags.append(t.toString());
        e.insertedAt = o.value("inserted_at").toString();
        e.updatedAt = o.value("updated_at").toString();
        out.entries.append(e);
    }
    for (const QJsonValue& v : doc.value("kept_answers").toArray()) {
        const QJsonObject o = v.toObject();
        if (!o.value("account").isString() || !o.value("key").isString() || !isInt(o.value("status")))
            return fail(QStringLiteral("kept answer without account, key or status"));
        out.keptAnswers.append(KeptAnswer{o.value("account").toString(), o.value("key").toString(),
                                          o.value("request").toString(), o.value("status").toInt(),
                                          o.value("body").toString().toUtf8(), o.value("answered_at").toString()});
    }
    if (out.accounts.isEmpty())
        return fail(QStringLiteral("no accounts"));
    return out;
}

} // namespace study
