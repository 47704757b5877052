// libsecret pulls in GLib, whose headers use the word "signals"; it must come
// before anything from Qt. Only its declarations are used: the library itself
// is opened on the first keyring call (see secretApi()).
#include <libsecret/secret.h>

#include "api/KeychainService.h"
#include "core/OnDemandLibrary.h"
#include "core/SecureZero.h"
#include "core/Timing.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QStringDecoder>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
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
    // The Secret Service's own unlock, spoken over D-Bus: libsecret's unlock
    // call hides when its prompt is on screen, and only then may the wait
    // outlast Timing::keyringCall.
    decltype(&g_bus_get_sync) busGet;
    decltype(&g_dbus_connection_call_sync) call;
    decltype(&g_dbus_connection_signal_subscribe) subscribe;
    decltype(&g_dbus_connection_signal_unsubscribe) unsubscribe;
    decltype(&g_variant_new) variantNew;
    decltype(&g_variant_get) variantGet;
    decltype(&g_variant_unref) variantUnref;
    decltype(&g_variant_is_of_type) variantIsOfType;
    decltype(&g_main_context_new) contextNew;
    decltype(&g_main_context_push_thread_default) contextPush;
    decltype(&g_main_context_pop_thread_default) contextPop;
    decltype(&g_main_context_iteration) contextIteration;
    decltype(&g_main_context_wakeup) contextWakeup;
    decltype(&g_main_context_unref) contextUnref;
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
            .resolve("g_error_free", a.errorFree)
            .resolve("g_bus_get_sync", a.busGet)
            .resolve("g_dbus_connection_call_sync", a.call)
            .resolve("g_dbus_connection_signal_subscribe", a.subscribe)
            .resolve("g_dbus_connection_signal_unsubscribe", a.unsubscribe)
            .resolve("g_variant_new", a.variantNew)
            .resolve("g_variant_get", a.variantGet)
            .resolve("g_variant_unref", a.variantUnref)
            .resolve("g_variant_is_of_type", a.variantIsOfType)
            .resolve("g_main_context_new", a.contextNew)
            .resolve("g_main_context_push_thread_default", a.contextPush)
            .resolve("g_main_context_pop_thread_default", a.contextPop)
            .resolve("g_main_context_iteration", a.contextIteration)
            .resolve("g_main_context_wakeup", a.contextWakeup)
            .resolve("g_main_context_unref", a.contextUnref);
        return library.usable(QStringLiteral("Keyring")) ? &a : nullptr;
    }();
    return api;
}

// The token cache and the generation; the mutex is held only while they are
// read or written, never across a keyring call.
std::mutex cacheMutex;
std::optional<QString> cachedAccessToken;
// The keyring answered that no token is stored (or a clear removed it).
bool tokenKnownAbsent = false;
// Clears begun in the background whose items are not removed yet: until they
// are, reads answer "none" rather than read the old account back.
int clearsPending = 0;
std::condition_variable clearsDone; // with cacheMutex
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

std::int64_t steadyAfter(double seconds)
{
    const std::chrono::duration<double> wait(Timing::scaled(seconds));
    return steadyNow() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait).count();
}

// Runs `onTimeout` on a thread of its own unless it is destroyed within
// `seconds` (scaled as a deadline).
class Watchdog {
public:
    Watchdog(double seconds, std::function<void()> onTimeout)
    {
        const auto limit = std::chrono::duration<double>(Timing::scaledDeadline(seconds));
        // A promise rather than a flag under a condition variable: the
        // watchdog only needs to learn "done" once, and this toolchain's
        // ThreadSanitizer cannot follow libstdc++'s timed condition waits.
        thread_ = std::thread([limit, onTimeout = std::move(onTimeout), finished = finished_.get_future()] {
            if (finished.wait_for(limit) == std::future_status::timeout)
                onTimeout();
        });
    }
    ~Watchdog() { stop(); }
    // Ends the watch; from here on `onTimeout` will not start.
    void stop()
    {
        if (!thread_.joinable())
            return;
        finished_.set_value();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::promise<void> finished_;
    std::thread thread_;
};

// A GCancellable that a watchdog cancels when the call takes too long.
// The synchronous libsecret calls block on D-Bus; a daemon that never answers
// would otherwise hold the caller for D-Bus's own 25 s time-out or longer
// (an unlock prompt nobody sees waits for ever).
class BoundedCall {
public:
    explicit BoundedCall(const SecretApi& api)
        : api_(api), cancellable_(api.cancellableNew()), watchdog_(Timing::keyringCall, [this] {
              unreachableUntil = steadyAfter(Timing::keyringBackOff);
              api_.cancellableCancel(cancellable_);
          })
    {
    }
    ~BoundedCall()
    {
        watchdog_.stop();
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
    Watchdog watchdog_;
};

// The library, unless the keyring is to be left alone for now.
const SecretApi* usableApi()
{
    return keyringReachable() ? secretApi() : nullptr;
}

// ---- unlocking the default collection ----

constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr const char* kPromptInterface = "org.freedesktop.Secret.Prompt";

// After the learner dismissed an unlock prompt, reads leave the keyring
// locked until then rather than asking again at every look at the token.
std::atomic<std::int64_t> readPromptPausedUntil{0}; // steady-clock nanoseconds

// One unlock at a time: a second caller waits for the answer to the prompt
// already on screen instead of raising another.
std::mutex unlockMutex;

// GLib's G_VARIANT_TYPE, without the check that would link GLib at start.
const GVariantType* variantType(const char* typeString)
{
    return reinterpret_cast<const GVariantType*>(typeString);
}

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// The session bus, and Secret Service method calls over it, each bounded
// like any other keyring call.
class SecretsBus {
public:
    explicit SecretsBus(const SecretApi& api) : api_(api)
    {
        BoundedCall bounded(api);
        GError* error = nullptr;
        connection_ = api.busGet(G_BUS_TYPE_SESSION, bounded.cancellable(), &error);
        bounded.clear(error);
    }
    ~SecretsBus()
    {
        if (connection_)
            api_.objectUnref(connection_);
    }
    SecretsBus(const SecretsBus&) = delete;
    SecretsBus& operator=(const SecretsBus&) = delete;

    GDBusConnection* connection() const { return connection_; }

    // The reply of type `replyType`, or nullptr on any failure (a reply of
    // another type included). `args` is consumed.
    GVariant* call(const char* path, const char* interface, const char* method, GVariant* args,
                   const char* replyType = "()") const
    {
        if (!usableApi())
            return nullptr; // an earlier call of this unlock timed out
        BoundedCall bounded(api_);
        GError* error = nullptr;
        GVariant* reply = api_.call(connection_, kSecretsName, path, interface, method, args,
                                    variantType(replyType), G_DBUS_CALL_FLAGS_NONE, -1, bounded.cancellable(), &error);
        bounded.clear(error);
        return reply;
    }

private:
    const SecretApi& api_;
    GDBusConnection* connection_ = nullptr;
};

enum class PromptAnswer { accepted, dismissed, unanswered, failed };

// Shows the prompt and waits for its Completed signal, for as long as the
// learner may need to type a password.
PromptAnswer runPrompt(const SecretApi& api, const SecretsBus& bus, const char* prompt)
{
    struct State {
        std::atomic<bool> expired{false};
        bool completed = false;
        bool dismissed = false;
        bool released = false;
        const SecretApi* api;
    } state;
    state.api = &api;
    GMainContext* context = api.contextNew();
    api.contextPush(context); // the signal is delivered on this thread, in this context
    const guint subscription = api.subscribe(
        bus.connection(), nullptr, kPromptInterface, "Completed", prompt, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* args, gpointer data) {
            auto* s = static_cast<State*>(data);
            if (!s->api->variantIsOfType(args, variantType("(bv)")))
                return; // not the signal the interface defines: keep waiting
            GVariant* result = nullptr;
            gboolean dismissed = FALSE;
            s->api->variantGet(args, "(bv)", &dismissed, &result);
            s->api->variantUnref(result);
            s->completed = true;
            s->dismissed = dismissed;
        },
        &state, [](gpointer data) { static_cast<State*>(data)->released = true; });

    PromptAnswer answer = PromptAnswer::failed;
    if (GVariant* shown = bus.call(prompt, kPromptInterface, "Prompt", api.variantNew("(s)", ""))) {
        api.variantUnref(shown);
        // The prompt is on screen now: no keyringCall bound from here on.
        Watchdog patience(Timing::keyringUnlock, [&state, &api, context] {
            state.expired = true;
            api.contextWakeup(context);
        });
        while (!state.completed && !state.expired)
            api.contextIteration(context, TRUE);
        patience.stop();
        answer = !state.completed ? PromptAnswer::unanswered
                 : state.dismissed ? PromptAnswer::dismissed
                                   : PromptAnswer::accepted;
    }
    if (answer == PromptAnswer::unanswered) {
        if (GVariant* gone = bus.call(prompt, kPromptInterface, "Dismiss", api.variantNew("()")))
            api.variantUnref(gone);
    }
    api.unsubscribe(bus.connection(), subscription);
    // The state may be touched until the subscription is released.
    while (!state.released)
        api.contextIteration(context, TRUE);
    api.contextPop(context);
    api.contextUnref(context);
    return answer;
}

enum class Need { read, store };

// Whether the keyring's items may be used now: the default collection is
// unlocked, or was unlocked through the desktop's prompt. On the GUI thread
// a locked collection stays locked (a prompt would block it).
bool unlockedFor(Need need)
{
    const SecretApi* api = usableApi();
    if (!api)
        return false;
    // The GUI thread never waits behind a prompt on screen.
    std::unique_lock lock(unlockMutex, std::defer_lock);
    if (!onGuiThread())
        lock.lock();
    else if (!lock.try_lock())
        return false;
    const SecretsBus bus(*api);
    if (!bus.connection())
        return false;
    GVariant* reply = bus.call("/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "ReadAlias",
                               api->variantNew("(s)", "default"), "(o)");
    if (!reply)
        return false;
    const gchar* path = nullptr;
    api->variantGet(reply, "(&o)", &path);
    const QByteArray collection(path);
    api->variantUnref(reply);
    if (collection == "/")
        return true; // no default collection yet: storing creates one

    reply = bus.call(collection.constData(), "org.freedesktop.DBus.Properties", "Get",
                     api->variantNew("(ss)", "org.freedesktop.Secret.Collection", "Locked"), "(v)");
    if (!reply)
        return false;
    GVariant* value = nullptr;
    api->variantGet(reply, "(v)", &value);
    gboolean locked = TRUE; // a value that is no boolean is not taken as "unlocked"
    if (api->variantIsOfType(value, variantType("b")))
        api->variantGet(value, "b", &locked);
    api->variantUnref(value);
    api->variantUnref(reply);
    if (!locked)
        return true;
    if (onGuiThread() || (need == Need::read && steadyNow() < readPromptPausedUntil.load()))
        return false;

    const char* objects[] = {collection.constData(), nullptr};
    reply = bus.call("/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "Unlock",
                     api->variantNew("(^ao)", objects), "(aoo)");
    if (!reply)
        return false;
    GVariant* unlocked = nullptr;
    const gchar* promptPath = nullptr;
    api->variantGet(reply, "(@ao&o)", &unlocked, &promptPath);
    const QByteArray prompt(promptPath);
    api->variantUnref(unlocked);
    api->variantUnref(reply);
    if (prompt == "/")
        return true; // unlocked without asking

    switch (runPrompt(*api, bus, prompt.constData())) {
    case PromptAnswer::accepted:
        readPromptPausedUntil = 0;
        return true;
    case PromptAnswer::dismissed:
        log(QStringLiteral("Keyring locked: unlocking was dismissed, the stored sign-in stays unavailable"));
        break;
    case PromptAnswer::unanswered:
        log(QStringLiteral("Keyring locked: the unlock prompt went unanswered, the stored sign-in stays unavailable"));
        break;
    case PromptAnswer::failed:
        return false;
    }
    readPromptPausedUntil = steadyAfter(Timing::keyringPromptPause);
    return false;
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

void deleteAllItems()
{
    for (const char* key : {"access_token", "email", "password"})
        deleteItem(QString::fromLatin1(key));
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

// With cacheMutex held: this process no longer knows a token, knows there is
// none, and work begun before it stores nothing.
void forgetAccount()
{
    ++currentGeneration;
    if (cachedAccessToken)
        secureZero(*cachedAccessToken);
    cachedAccessToken.reset();
    tokenKnownAbsent = true;
}

// The running process keeps the token even when the keyring cannot take it.
void storeToken(const QString& token, bool keyringReady)
{
    {
        std::lock_guard lock(cacheMutex);
        if (cachedAccessToken)
            secureZero(*cachedAccessToken);
        cachedAccessToken = token;
        tokenKnownAbsent = false;
    }
    if (keyringReady)
        storeItem(QStringLiteral("access_token"), token);
}

void storeCredentials(const QString& email, const QString& password)
{
    storeItem(QStringLiteral("email"), email);
    storeItem(QStringLiteral("password"), password);
}

} // namespace

void saveAccessToken(const QString& token)
{
    storeToken(token, unlockedFor(Need::store));
}

std::optional<QString> getAccessToken()
{
    std::uint64_t startGeneration = 0;
    {
        std::lock_guard lock(cacheMutex);
        if (cachedAccessToken)
            return cachedAccessToken;
        if (clearsPending > 0)
            return std::nullopt;
        startGeneration = currentGeneration;
    }
    const bool readable = unlockedFor(Need::read);
    std::optional<QString> loaded = readable ? loadItem(QStringLiteral("access_token")) : std::nullopt;
    // Only a keyring that answered in time says "none"; a locked or silent one says nothing.
    const bool answered = readable && keyringReachable();
    if (auto hook = afterLoadHook.load())
        hook();
    std::lock_guard lock(cacheMutex);
    if (currentGeneration != startGeneration)
        return cachedAccessToken; // cleared meanwhile: what was read belongs to the old account
    if (cachedAccessToken)
        return cachedAccessToken; // a newer token was saved while we read the keyring
    cachedAccessToken = loaded;
    tokenKnownAbsent = !loaded && answered;
    return loaded;
}

void saveCredentials(const QString& email, const QString& password)
{
    if (unlockedFor(Need::store))
        storeCredentials(email, password);
}

std::optional<Credentials> getCredentials()
{
    {
        // What a clear still removes must not be read; what a sign-in stored
        // after it must be: wait for the clear (its calls are bounded).
        std::unique_lock lock(cacheMutex);
        clearsDone.wait(lock, [] { return clearsPending == 0; });
    }
    if (!unlockedFor(Need::read))
        return std::nullopt;
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
    deleteAllItems();
    std::lock_guard lock(cacheMutex);
    forgetAccount();
}

void clearAllInBackground(std::function<void()> done)
{
    {
        std::lock_guard lock(cacheMutex);
        forgetAccount();
        ++clearsPending;
    }
    QThreadPool::globalInstance()->start([done = std::move(done)] {
        {
            std::lock_guard write(writeMutex);
            bool signedInAgain = false;
            {
                std::lock_guard lock(cacheMutex);
                signedInAgain = cachedAccessToken.has_value();
            }
            // A sign-in that ended first has already replaced the items.
            if (!signedInAgain)
                deleteAllItems();
            std::lock_guard lock(cacheMutex);
            --clearsPending;
        }
        clearsDone.notify_all();
        if (done)
            done();
    });
}

std::optional<bool> knownTokenPresence()
{
    std::lock_guard lock(cacheMutex);
    if (cachedAccessToken)
        return true;
    if (tokenKnownAbsent)
        return false;
    return std::nullopt;
}

std::uint64_t generation()
{
    std::lock_guard lock(cacheMutex);
    return currentGeneration;
}

bool saveLoginIfCurrent(std::uint64_t startGeneration, const QString& email, const QString& password,
                        const QString& token)
{
    // Before the write lock: a clear must not wait for the learner's answer.
    const bool ready = unlockedFor(Need::store);
    std::lock_guard write(writeMutex);
    if (generation() != startGeneration)
        return false;
    if (ready)
        storeCredentials(email, password);
    storeToken(token, ready);
    return true;
}

void retryNow()
{
    unreachableUntil = 0;
    readPromptPausedUntil = 0;
}

void setLibraryFile(const QString& fileName)
{
    libraryFileName() = fileName;
}

void forgetCachedToken()
{
    std::lock_guard lock(cacheMutex);
    cachedAccessToken.reset();
    tokenKnownAbsent = false;
}

void setAfterLoadHook(void (*hook)())
{
    afterLoadHook = hook;
}

} // namespace KeychainService
