// The credential store against a locked keyring: a fake Secret Service
// (tests/support/fake_secret_service.py) on a private bus of this binary's own,
// whose unlock prompt stays up until the test answers it.
#include <gio/gio.h> // before Qt: GLib uses the word "signals"

#include "api/KeychainService.h"
#include "TestSupport.h"
#include "core/Timing.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <future>

namespace {

// A session bus with no activatable services: only the fake can answer as
// the Secret Service, and without it nobody does.
class PrivateBus : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        QFile config(dir_.filePath("bus.conf"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + dir_.path().toUtf8()
                     + "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                       "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        daemon_.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + config.fileName()});
        ASSERT_TRUE(waitUntil([this] { return daemon_.canReadLine(); })) << "no dbus-daemon";
        // Before the first keyring call: GIO keeps its session connection.
        qputenv("DBUS_SESSION_BUS_ADDRESS", daemon_.readLine().trimmed());
    }
    void TearDown() override
    {
        daemon_.kill();
        daemon_.waitForFinished();
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
};
const auto* const privateBus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

GVariant* control(const char* method, GVariant* args)
{
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", "/control", "com.tavlo.FakeSecrets",
                                                  method, args, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    g_object_unref(bus);
    return reply;
}

class FakeSecretService {
public:
    FakeSecretService()
    {
        process_.start("/usr/bin/python3", {TAVLO_FAKE_SECRETS});
        ready_ = waitUntil([this] { return process_.canReadLine() && process_.readLine().startsWith("READY"); });
    }
    ~FakeSecretService()
    {
        process_.kill();
        process_.waitForFinished();
    }
    bool ready() const { return ready_; }
    bool call(const char* method, GVariant* args = nullptr)
    {
        GVariant* reply = control(method, args);
        if (reply)
            g_variant_unref(reply);
        return reply != nullptr;
    }
    // Prompts shown, and how many of them the agent dismissed itself.
    std::pair<int, int> prompts()
    {
        GVariant* reply = control("Prompts", nullptr);
        gint32 shown = -1, dismissed = -1;
        g_variant_get(reply, "(ii)", &shown, &dismissed);
        g_variant_unref(reply);
        return {shown, dismissed};
    }
    std::optional<QString> stored(const char* account)
    {
        GVariant* reply = control("Values", g_variant_new("(s)", account));
        GVariant* values = g_variant_get_child_value(reply, 0);
        std::optional<QString> value;
        if (g_variant_n_children(values) == 1) {
            GVariant* only = g_variant_get_child_value(values, 0);
            value = QString::fromUtf8(g_variant_get_string(only, nullptr));
            g_variant_unref(only);
        }
        g_variant_unref(values);
        g_variant_unref(reply);
        return value;
    }

private:
    QProcess process_;
    bool ready_ = false;
};

enum class Op { read, store };

struct Case {
    const char* name;
    bool service;                // the fake runs at all
    Op op;
    bool onWorker;               // else on the GUI thread
    std::optional<bool> accept;  // the learner's answer to a prompt, if one is expected
    std::optional<QString> token; // what the read gives, or what the keyring holds after the store
    int logLines;
};

// Runs `op` and answers a prompt that appears well after one keyringCall, so
// a prompt cancelled by the ordinary bound is caught.
std::optional<QString> runAndAnswer(const Case& c, FakeSecretService* fake)
{
    auto run = [op = c.op] {
        if (op == Op::read)
            return KeychainService::getAccessToken();
        KeychainService::saveAccessToken("new");
        return std::optional<QString>();
    };
    std::future<std::optional<QString>> done = std::async(c.onWorker ? std::launch::async : std::launch::deferred, run);
    if (!c.onWorker)
        done.wait();
    if (c.accept) {
        EXPECT_TRUE(waitUntil([&] { return fake->prompts().first == 1; })) << c.name;
        QElapsedTimer shown;
        shown.start();
        const qint64 later = 1000 * 2 * Timing::scaled(Timing::keyringCall);
        waitUntil([&] { return shown.elapsed() > later; }, int(later) + 1000);
        EXPECT_TRUE(fake->call("Answer", g_variant_new("(b)", gboolean(*c.accept)))) << c.name << ": no prompt on screen";
    }
    const std::optional<QString> read = done.get();
    return c.op == Op::read ? read : fake->stored("access_token");
}

TEST(KeychainUnlock, LockedCollectionIsUnlockedOffTheGuiThreadOnly)
{
    const Timing::ScopedScale shorter(0.5 / Timing::keyringCall);
    // Without a service first: once libsecret has met one, it stays with it.
    const Case cases[] = {
        {"no keyring", false, Op::read, true, std::nullopt, std::nullopt, 0},
        {"read, accepted", true, Op::read, true, true, "stored", 0},
        {"read, dismissed", true, Op::read, true, false, std::nullopt, 1},
        {"read on the GUI thread", true, Op::read, false, std::nullopt, std::nullopt, 0},
        {"store, accepted", true, Op::store, true, true, "new", 0},
        {"store, dismissed", true, Op::store, true, false, "stored", 1},
        {"store on the GUI thread", true, Op::store, false, std::nullopt, "stored", 0},
    };
    std::optional<FakeSecretService> service;
    for (const Case& c : cases) {
        KeychainService::retryNow();
        KeychainService::forgetCachedToken();
        FakeSecretService* fake = nullptr;
        if (c.service) {
            if (!service)
                service.emplace();
            fake = &*service;
            ASSERT_TRUE(fake->ready()) << c.name;
            fake->call("Reset");
            fake->call("Put", g_variant_new("(ss)", "access_token", "stored"));
            fake->call("SetLocked", g_variant_new("(b)", TRUE));
        }
        LogCapture logs;
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(runAndAnswer(c, fake), c.token) << c.name;
        if (!c.service) {
            EXPECT_LT(clock.elapsed(), 2000 * Timing::scaled(Timing::keyringCall)) << c.name;
        }
        EXPECT_EQ(logs.startingWith("Keyring").size(), c.logLines) << c.name << ": " << logs.messages().join('\n').toStdString();
        if (!fake)
            continue;
        EXPECT_EQ(fake->prompts(), std::pair(c.accept ? 1 : 0, 0)) << c.name;
        if (c.op == Op::read) { // a second look neither asks again nor finds more
            KeychainService::forgetCachedToken();
            const auto again = c.onWorker ? std::async(std::launch::async, KeychainService::getAccessToken).get()
                                          : KeychainService::getAccessToken();
            EXPECT_EQ(again, c.token) << c.name;
            EXPECT_EQ(fake->prompts().first, c.accept ? 1 : 0) << c.name;
            EXPECT_EQ(logs.startingWith("Keyring").size(), c.logLines) << c.name;
        }
        if (c.op == Op::read && c.accept == false) { // a sign-in asks again
            auto store = std::async(std::launch::async, [] { KeychainService::saveAccessToken("new"); });
            EXPECT_TRUE(waitUntil([&] { return fake->prompts().first == 2; })) << c.name;
            EXPECT_TRUE(fake->call("Answer", g_variant_new("(b)", TRUE))) << c.name;
            store.get();
            EXPECT_EQ(fake->stored("access_token"), QString("new")) << c.name;
        }
    }
}

} // namespace
