#include "api/AnswerOutbox.h"

#include "api/CardService.h"
#include "api/APIClient.h"
#include "core/Log.h"
#include "core/Timing.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace {

AnswerOutbox* g_current = nullptr;
// Delivered answers are dropped from the file in batches: rewriting it per
// answer would make a long flush quadratic, and an answer sent again after a
// crash carries its key, so the service applies it once anyway.
constexpr int kDeliveredPerSave = 50;

QString defaultPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(dir).filePath(QStringLiteral("outbox.json"));
}

QJsonObject toJson(const AnswerOutbox::Entry& e)
{
    return {{QStringLiteral("account"), e.account},
            {QStringLiteral("card_id"), QString::number(e.cardId)},
            {QStringLiteral("quality"), e.quality},
            {QStringLiteral("key"), e.key},
            {QStringLiteral("answered_at"), e.answeredAt}};
}

std::optional<AnswerOutbox::Entry> fromJson(const QJsonValue& value)
{
    const QJsonObject o = value.toObject();
    AnswerOutbox::Entry e;
    bool idOk = false;
    e.account = o.value(QStringLiteral("account")).toString();
    e.cardId = o.value(QStringLiteral("card_id")).toString().toLongLong(&idOk);
    e.quality = o.value(QStringLiteral("quality")).toInt(-1);
    e.key = o.value(QStringLiteral("key")).toString();
    e.answeredAt = o.value(QStringLiteral("answered_at")).toString();
    if (!idOk || e.quality < 0 || e.quality > 5 || e.key.isEmpty())
        return std::nullopt;
    return e;
}

} // namespace

AnswerOutbox::AnswerOutbox(QString filePath, QObject* parent)
    : QObject(parent), path_(filePath.isEmpty() ? defaultPath() : std::move(filePath))
{
    retry_.setSingleShot(true);
    retry_.setTimerType(Qt::PreciseTimer);
    connect(&retry_, &QTimer::timeout, this, &AnswerOutbox::flush);
    load();
    g_current = this;
}

AnswerOutbox::~AnswerOutbox()
{
    if (delivered_ > 0)
        save();
    if (g_current == this)
        g_current = nullptr;
}

AnswerOutbox* AnswerOutbox::current() { return g_current; }

bool AnswerOutbox::isWorthKeeping(const Error& error)
{
    if (std::holds_alternative<TransportError>(error))
        return true;
    const APIError* api = asAPIError(error);
    if (!api)
        return false;
    if (api->kind == APIError::Case::unauthorized)
        return true;
    if (api->kind != APIError::Case::serverError)
        return false;
    const int s = api->status;
    return s >= 500 || s == 408 || s == 429 || s == 401 || (s >= 300 && s < 400);
}

void AnswerOutbox::load()
{
    QFile file(path_);
    if (!file.exists())
        return;
    QJsonParseError parseError{};
    QJsonDocument doc;
    if (file.open(QIODevice::ReadOnly))
        doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    file.close();
    const QJsonValue list = doc.object().value(QStringLiteral("entries"));
    if (!list.isArray()) {
        // Never thrown away: the answers in it may still be recoverable by hand.
        const QString backup =
            path_ + QStringLiteral(".unreadable-") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
        QFile::rename(path_, backup);
        log(QStringLiteral("Answer outbox unreadable, kept as ") + backup + QStringLiteral(", starting empty"));
        return;
    }
    int skipped = 0;
    for (const QJsonValue& v : list.toArray()) {
        if (auto e = fromJson(v))
            entries_.append(*e);
        else
            ++skipped;
    }
    if (skipped > 0)
        log(QStringLiteral("Answer outbox: %1 unreadable entries skipped").arg(skipped));
}

bool AnswerOutbox::save()
{
    delivered_ = 0;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QJsonArray list;
    for (const Entry& e : std::as_const(entries_))
        list.append(toJson(e));
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) {
        log(QStringLiteral("Answer outbox not saved: ") + file.errorString());
        return false;
    }
    // Who answered which card when is nobody else's business.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("version"), 1}, {QStringLiteral("entries"), list}})
                   .toJson(QJsonDocument::Compact));
    if (!file.commit()) {
        log(QStringLiteral("Answer outbox not saved: ") + file.errorString());
        return false;
    }
    return true;
}

int AnswerOutbox::pending() const
{
    return int(std::count_if(entries_.cbegin(), entries_.cend(),
                             [this](const Entry& e) { return !account_.isEmpty() && e.account == account_; }));
}

void AnswerOutbox::announce()
{
    const int n = pending();
    if (n == lastAnnounced_)
        return;
    lastAnnounced_ = n;
    emit pendingChanged(n);
}

void AnswerOutbox::setAccount(const QString& email)
{
    if (email == account_)
        return;
    account_ = email;
    failures_ = 0;
    retry_.stop();
    announce();
    flush();
}

void AnswerOutbox::keep(Entry entry)
{
    const auto mine = std::count_if(entries_.cbegin(), entries_.cend(),
                                    [&entry](const Entry& e) { return e.account == entry.account; });
    if (mine >= kCapacity) {
        log(QStringLiteral("Answer outbox full (%1 answers); the answer to card %2 is dropped")
                .arg(kCapacity)
                .arg(entry.cardId));
        return;
    }
    if (entry.account.isEmpty())
        log(QStringLiteral("No account known for the answer to card %1: it is kept, not sent").arg(entry.cardId));
    entries_.append(std::move(entry));
    save();
    announce();
    retryLater();
}

void AnswerOutbox::submit(std::int64_t cardId, int quality, QObject* context, Callback<void> done)
{
    Entry entry{account_, cardId, quality, APIClient::newIdempotencyKey(),
                QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)};
    QPointer<AnswerOutbox> self(this);
    QPointer<QObject> caller(context);
    const bool hadContext = context != nullptr;
    // Sent without a context: a panel closed meanwhile must not keep the
    // answer from the outbox. The caller is guarded here instead.
    CardService::submitReview(
        cardId, quality, nullptr,
        [self, caller, hadContext, entry, done = std::move(done)](Result<void> result) mutable {
            if (self) {
                if (result.ok()) {
                    self->flush();
                } else if (isWorthKeeping(result.error())) {
                    log(QStringLiteral("Answer to card %1 kept in the outbox: ").arg(entry.cardId) +
                        textForm(result.error()));
                    self->keep(std::move(entry));
                }
            }
            if (!hadContext || caller)
                done(std::move(result));
        },
        entry.key);
}

void AnswerOutbox::flush()
{
    if (sending_ || account_.isEmpty())
        return;
    retry_.stop();
    sendNext();
}

void AnswerOutbox::sendNext()
{
    const auto it = std::find_if(entries_.cbegin(), entries_.cend(),
                                 [this](const Entry& e) { return e.account == account_; });
    if (it == entries_.cend()) {
        failures_ = 0;
        if (delivered_ > 0)
            save();
        announce();
        return;
    }
    sending_ = true;
    const Entry entry = *it;
    QPointer<AnswerOutbox> self(this);
    CardService::submitReview(
        entry.cardId, entry.quality, this,
        [self, entry](Result<void> result) {
            if (!self)
                return;
            self->sending_ = false;
            const bool keep = !result.ok() && isWorthKeeping(result.error());
            if (keep) {
                self->save();
                self->retryLater();
                return;
            }
            if (!result.ok())
                log(QStringLiteral("Waiting answer to card %1 rejected, dropped: ").arg(entry.cardId) +
                    textForm(result.error()));
            self->entries_.removeIf([&entry](const Entry& e) { return e.key == entry.key; });
            self->failures_ = 0;
            if (++self->delivered_ >= kDeliveredPerSave)
                self->save();
            self->announce();
            // An answer sent under another account meanwhile stays where it is.
            self->sendNext();
        },
        entry.key);
}

void AnswerOutbox::retryLater()
{
    if (sending_ || retry_.isActive() || pending() == 0)
        return;
    const double wait = std::min(Timing::outboxRetryFirst * std::pow(2.0, std::min(failures_, 10)),
                                 Timing::outboxRetryLongest);
    ++failures_;
    retry_.start(Timing::interval(wait));
}
