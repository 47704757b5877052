// libsecret pulls in GLib, whose headers use the word "signals"; it must come
// before anything from Qt. Only its declarations are used: the library itself
// is opened on the first keyring call (see secretApi()).
#include <libsecret/secret.h>

#include "api/KeychainService.h"
#include "core/OnDemandLibrary.h"
#include "core/SecureZero.h"
#include "core/Timing.h"

#include <QByteArray>
#include <QStringDecoder>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

namespace KeychainService {

namespace {

constexpr const char* kServiceName = "com.tavlo.popup";

const SecretSchema* schema()
{
    // Matched on the two attributes only, so an item stored by another tool
    // (secret-tool) under the same service and account is found as well.
    static const SecretSchema s = {
        "com.tavlo.popup",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &s;
}

// The libsecret calls the store makes, resolved from the library on first
// use. Linked at start, libsecret would bring GIO, GObject and libgcrypt into
// an agent that needs the keyring only when the menu opens or a card is due,
// and their pages would stay resident all day.
struct SecretApi {
    decltype(&secret_password_clear_sync) passwordClear;
    decltype(&secret_password_store_binary_sync) passwordStoreBinary;
    decltype(&secret_password_lookup_binary_sync) passwordLookupBinary;
    decltype(&secret_value_new) valueNew;
    decltype(&secret_value_get) valueGet;
    decltype(&secret_value_unref) valueUnref;
    // From GIO, GObject and GLib, which come with libsecret.
    decltype(&g_cancellable_new) cancellableNew;
    decltype(&g_cancellable_cancel) cancellableCancel;
    decltype(&g_object_unref) objectUnref;
    decltype(&g_error_free) errorFree;
};

QString& libraryFileName()
{
    static QString name;
    return name;
}

// nullptr when libsecret cannot be opened: every value is then absent, as
// with an unreachable keyring. Decided once per process.
const SecretApi* secretApi()
{
    static const SecretApi* const api = []() -> const SecretApi* {
        static SecretApi a;
        OnDemandLibrary library(QStringLiteral("secret-1"), 0, libraryFileName());
        library.resolve("secret_password_clear_sync", a.passwordClear)
            .resolve("secret_password_store_binary_sync", a.passwordStoreBinary)
            .resolve("secret_password_lookup_binary_sync", a.passwordLookupBinary)
            .resolve("secret_value_new", a.valueNew)
            .resolve("secret_value_get", a.valueGet)
            .resolve("secret_value_unref", a.valueUnref)
            .resolve("g_cancellable_new", a.cancellableNew)
            .resolve("g_cancellable_cancel", a.cancellableCancel)
            .resolve("g_object_unref", a.objectUnref)
            .resolve("g_error_free", a.errorFree);
        return library.usable(QStringLiteral("Keyring")) ? &a : nullptr;
    }();
    return api;
}

// The token cache and the generation; the mutex is held only while they are
// read or written, never across a keyring call.
std::mutex cacheMutex;
std::optional<QString> cachedAccessToken;
std::uint64_t currentGeneration = 0;

// Serialises clearAll() against a conditional login store, so a clear can
// never land between the generation check and the writes.
std::mutex writeMutex;

std::atomic<void (*)()> afterLoadHook{nullptr};

// After a call had to be cancelled, the keyring is taken as unreachable for a
// while: a sign-in makes six calls, and six full time-outs in a row would
// keep the learner waiting for no gain.
std::atomic<std::int64_t> unreachableUntil{0}; // steady-clock nanoseconds

std::int64_t steadyNow()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

bool keyringReachable()
{
    return steadyNow() >= unreachableUntil.load();
}

// A GCancellable that a watchdog thread cancels when the call takes too long.
// The synchronous libsecret calls block on D-Bus; a daemon that never answers
// would otherwise hold the caller for D-Bus's own 25 s time-out or longer
// (an unlock prompt nobody sees waits for ever).
class BoundedCall {
public:
    explicit BoundedCall(const SecretApi& api) : api_(api), cancellable_(api.cancellableNew())
    {
        const auto limit = std::chrono::duration<double>(Timing::scaled(Timing::keyringCall));
        // A promise rather than a flag under a condition variable: the
        // watchdog only needs to learn "done" once, and this toolchain's
        // ThreadSanitizer cannot follow libstdc++'s timed condition waits.
        watchdog_ = std::thread([this, limit, finished = finished_.get_future()] {
            if (finished.wait_for(limit) == std::future_status::timeout) {
                const std::chrono::duration<double> backOff(Timing::scaled(Timing::keyringBackOff));
                unreachableUntil = steadyNow()
                                   + std::chrono::duration_cast<std::chrono::steady_clock::duration>(backOff).count();
                api_.cancellableCancel(cancellable_);
            }
        });
    }
    ~BoundedCall()
    {
        finished_.set_value();
        watchdog_.join();
        api_.objectUnref(cancellable_);
    }
    BoundedCall(const BoundedCall&) = delete;
    BoundedCall& operator=(const BoundedCall&) = delete;

    GCancellable* cancellable() const { return cancellable_; }

    // Frees and forgets an error the call reported.
    void clear(GError*& error) const
    {
        if (error)
            api_.errorFree(error);
        error = nullptr;
    }

private:
    const SecretApi& api_;
    GCancellable* cancellable_;
    std::promise<void> finished_;
    std::thread watchdog_;
};

// The library, unless the keyring is to be left alone for now.
const SecretApi* usableApi()
{
    return keyringReachable() ? secretApi() : nullptr;
}

void deleteItem(const QString& key)
{
    const SecretApi* api = usableApi();
    if (!api)
        return;
    const QByteArray account = key.toUtf8();
    BoundedCall call(*api);
    GError* error = nullptr;
    api->passwordClear(schema(), call.cancellable(), &error, "service", kServiceName, "account", account.constData(),
                       nullptr);
    call.clear(error); // a missing item or an unreachable keyring: nothing to do either way
}

// Always replaces: delete, then add. An add that fails leaves no item.
void storeItem(const QString& key, const QString& value)
{
    deleteItem(key);
    const SecretApi* api = usableApi();
    if (!api)
        return;
    const QByteArray account = key.toUtf8();
    QByteArray bytes = value.toUtf8();
    const QByteArray label = QByteArrayLiteral("Tavlo ") + account;
    // libsecret keeps its own copy in memory that is never swapped out.
    SecretValue* secret = api->valueNew(bytes.constData(), bytes.size(), "text/plain");
    secureZero(bytes);
    BoundedCall call(*api);
    GError* error = nullptr;
    api->passwordStoreBinary(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret, call.cancellable(),
                             &error, "service", kServiceName, "account", account.constData(), nullptr);
    api->valueUnref(secret);
    call.clear(error);
}

std::optional<QString> loadItem(const QString& key)
{
    const SecretApi* api = usableApi();
    if (!api)
        return std::nullopt;
    const QByteArray account = key.toUtf8();
    BoundedCall call(*api);
    GError* error = nullptr;
    SecretValue* secret = api->passwordLookupBinary(schema(), call.cancellable(), &error, "service", kServiceName,
                                                    "account", account.constData(), nullptr);
    call.clear(error);
    if (!secret)
        return std::nullopt;
    gsize length = 0;
    const gchar* data = api->valueGet(secret, &length);
    QByteArray bytes(data, qsizetype(length));
    api->valueUnref(secret);

    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    secureZero(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void storeTokenLocked(const QString& token)
{
    {
        std::lock_guard lock(cacheMutex);
        if (cachedAccessToken)
            secureZero(*cachedAccessToken);
        cachedAccessToken = token;
    }
    storeItem(QStringLiteral("access_token"), token);
}

void storeCredentialsLocked(const QString& email, const QString& password)
{
    storeItem(QStringLiteral("email"), email);
    storeItem(QStringLiteral("password"), password);
}

} // namespace

void saveAccessToken(const QString& token)
{
    storeTokenLocked(token);
}

std::optional<QString> getAccessToken()
{
    std::uint64_t startGeneration = 0;
    {
        std::lock_guard lock(cacheMutex);
        if (cachedAccessToken)
            return cachedAccessToken;
        startGeneration = currentGeneration;
    }
    std::optional<QString> loaded = loadItem(QStringLiteral("access_token"));
    if (auto hook = afterLoadHook.load())
        hook();
    std::lock_guard lock(cacheMutex);
    if (currentGeneration != startGeneration)
        return cachedAccessToken; // cleared meanwhile: what was read belongs to the old account
    if (cachedAccessToken)
        return cachedAccessToken; // a newer token was saved while we read the keyring
    cachedAccessToken = loaded;
    return loaded;
}

void saveCredentials(const QString& email, const QString& password)
{
    storeCredentialsLocked(email, password);
}

std::optional<Credentials> getCredentials()
{
    std::optional<QString> email = loadItem(QStringLiteral("email"));
    if (!email)
        return std::nullopt;
    std::optional<QString> password = loadItem(QStringLiteral("password"));
    if (!password)
        return std::nullopt;
    return Credentials{*email, *password};
}

void clearAll()
{
    std::lock_guard write(writeMutex);
    // The items go first: emptying the cache before them would let a
    // getAccessToken in between read the old token back into the cache.
    deleteItem(QStringLiteral("access_token"));
    deleteItem(QStringLiteral("email"));
    deleteItem(QStringLiteral("password"));
    std::lock_guard lock(cacheMutex);
    ++currentGeneration;
    if (cachedAccessToken)
        secureZero(*cachedAccessToken);
    cachedAccessToken.reset();
}

std::uint64_t generation()
{
    std::lock_guard lock(cacheMutex);
    return currentGeneration;
}

bool saveLoginIfCurrent(std::uint64_t startGeneration, const QString& email, const QString& password,
                        const QString& token)
{
    std::lock_guard write(writeMutex);
    if (generation() != startGeneration)
        return false;
    storeCredentialsLocked(email, password);
    storeTokenLocked(token);
    return true;
}

void retryNow()
{
    unreachableUntil = 0;
}

void setLibraryFile(const QString& fileName)
{
    libraryFileName() = fileName;
}

void forgetCachedToken()
{
    std::lock_guard lock(cacheMutex);
    cachedAccessToken.reset();
}

void setAfterLoadHook(void (*hook)())
{
    afterLoadHook = hook;
}

} // namespace KeychainService
