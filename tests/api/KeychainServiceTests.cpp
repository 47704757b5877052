// The credential store against the real Secret Service of the test session
// (scripts/test-env.sh), and against no keyring daemon at all.
#include <libsecret/secret.h> // before Qt: GLib uses the word "signals"

#include "api/KeychainService.h"
#include "TestSupport.h"
#include "core/Timing.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Direct access to the keyring behind the store's back, as another tool
// (secret-tool) would see the items.
const SecretSchema kSchema = {
    "com.tavlo.popup", SECRET_SCHEMA_DONT_MATCH_NAME,
    {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};
#define ITEM(account) "service", "com.tavlo.popup", "account", account, nullptr

std::optional<QByteArray> rawLoad(const char* account)
{
    SecretValue* v = secret_password_lookup_binary_sync(&kSchema, nullptr, nullptr, ITEM(account));
    if (!v)
        return std::nullopt;
    gsize n = 0;
    const gchar* data = secret_value_get(v, &n);
    const QByteArray bytes(data, qsizetype(n));
    secret_value_unref(v);
    return bytes;
}

bool rawStore(const char* account, const QByteArray& bytes)
{
    SecretValue* v = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    const gboolean ok = secret_password_store_binary_sync(&kSchema, SECRET_COLLECTION_DEFAULT, "test", v, nullptr, nullptr, ITEM(account));
    secret_value_unref(v);
    return ok;
}

void rawDelete(const char* account) { secret_password_clear_sync(&kSchema, nullptr, nullptr, ITEM(account)); }

int rawCount(const char* account)
{
    GList* items = secret_password_search_sync(&kSchema, SECRET_SEARCH_ALL, nullptr, nullptr, ITEM(account));
    const int n = int(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return n;
}

class Keychain : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsSet("TAVLO_KEYCHAIN_CHILD"))
            GTEST_SKIP() << "child run";
        KeychainService::clearAll();
        ASSERT_TRUE(rawStore("probe", "x")) << "no usable Secret Service: run under scripts/test-env.sh";
        rawDelete("probe");
    }
    void TearDown() override
    {
        KeychainService::setAfterLoadHook(nullptr);
        KeychainService::clearAll();
    }
};

TEST_F(Keychain, TokenIsReadFromTheKeyringOnceThenCached)
{
    ASSERT_TRUE(rawStore("access_token", "from-keyring"));
    EXPECT_EQ(KeychainService::getAccessToken(), QString("from-keyring"));
    rawDelete("access_token");
    EXPECT_EQ(KeychainService::getAccessToken(), QString("from-keyring")); // the cached copy answers
    KeychainService::saveAccessToken("t");
    EXPECT_EQ(rawLoad("access_token"), QByteArray("t"));
}

TEST_F(Keychain, ValuesAreStoredAsUtf8AndReplacedNeverDuplicated)
{
    for (const auto& [email, password] : {std::pair{QString::fromUtf8("Ærø😀@example.org"), QString::fromUtf8(" pass wörd ")},
                                          std::pair{QString(""), QString("")}}) { // empty strings are values too
        KeychainService::saveCredentials(email, password);
        EXPECT_EQ(rawLoad("email"), email.toUtf8());
        EXPECT_EQ(rawLoad("password"), password.toUtf8());
        const auto c = KeychainService::getCredentials();
        ASSERT_TRUE(c.has_value());
        EXPECT_EQ(c->email, email);
        EXPECT_EQ(c->password, password);
    }
    KeychainService::saveAccessToken("a");
    KeychainService::saveAccessToken("");
    EXPECT_EQ(rawCount("email"), 1);
    EXPECT_EQ(rawCount("password"), 1);
    EXPECT_EQ(rawCount("access_token"), 1);
    KeychainService::forgetCachedToken();
    EXPECT_EQ(KeychainService::getAccessToken(), QString(""));
}

TEST_F(Keychain, HalfAPairOrInvalidUtf8IsNoValue)
{
    KeychainService::saveCredentials("a@b", "pw");
    rawDelete("password");
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    rawDelete("email");
    ASSERT_TRUE(rawStore("password", "pw"));
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    ASSERT_TRUE(rawStore("email", QByteArray("\xff\xfe", 2)));
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    ASSERT_TRUE(rawStore("access_token", QByteArray("ab\xc3", 3)));
    KeychainService::forgetCachedToken();
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
}

// A load that read the keyring just before a clear must not put the old
// token back into the cache once the clear is done.
TEST_F(Keychain, ClearDuringTokenLoadLeavesNoToken)
{
    ASSERT_TRUE(rawStore("access_token", "old-account"));
    KeychainService::forgetCachedToken();
    static std::atomic<int> hookRuns{0};
    hookRuns = 0;
    KeychainService::setAfterLoadHook([] {
        if (hookRuns++ == 0)
            KeychainService::clearAll(); // the learner switches account right now
    });
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    KeychainService::setAfterLoadHook(nullptr);
    EXPECT_EQ(hookRuns.load(), 1);
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(rawLoad("access_token").has_value());
}

TEST_F(Keychain, ConcurrentReadersAndAClearNeverRevealTheOldToken)
{
    KeychainService::saveAccessToken("old");
    std::atomic<bool> cleared{false};
    std::atomic<int> staleAfterClear{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            for (int n = 0; n < 20; ++n) {
                const bool wasCleared = cleared.load();
                if (KeychainService::getAccessToken() == QString("old") && wasCleared)
                    ++staleAfterClear;
            }
        });
    KeychainService::clearAll();
    cleared = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(staleAfterClear.load(), 0);
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
}

// ---- no keyring daemon ------------------------------------------------------------

// What the child run (this binary again, with TAVLO_KEYCHAIN_CHILD set)
// checks: every value absent, a token saved in this process kept in memory.
TEST(KeychainChild, OperationsWithoutAKeyring)
{
    const QString mode = qEnvironmentVariable("TAVLO_KEYCHAIN_CHILD");
    if (mode.isEmpty())
        GTEST_SKIP() << "runs only as the child of NoKeyring.AbsentValuesQuickly";
    LogCapture logs;
    if (mode == "nolib")
        KeychainService::setLibraryFile(logs.path() + ".missing-libsecret-1.so.0"); // no such file
    const Timing::ScopedScale shorter(0.5 / Timing::keyringCall);
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    KeychainService::saveCredentials("a@b", "pw");
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    KeychainService::saveAccessToken("t");
    EXPECT_EQ(KeychainService::getAccessToken(), QString("t")); // the running process keeps it
    KeychainService::clearAll();
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    const QString logged = logs.messages().join(u'\n');
    if (mode == "nolib") // a broken installation: the agent says why, once
        EXPECT_EQ(logs.startingWith("Keyring unavailable: ").size(), 1) << logged.toStdString();
    else
        EXPECT_FALSE(logged.contains("Keyring unavailable")) << logged.toStdString();
    std::printf("CHILD DONE\n");
}

// No bus at all, a library that cannot be opened, and a bus that takes the
// connection and never says a word (the D-Bus handshake hangs until the
// watchdog cancels it): the child passes, well before D-Bus's own 25 s time-out.
TEST(NoKeyring, AbsentValuesQuickly)
{
    if (qEnvironmentVariableIsSet("TAVLO_KEYCHAIN_CHILD"))
        GTEST_SKIP();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(dir.filePath("bus")));
    const std::pair<const char*, QString> cases[] = {
        {"nobus", "unix:path=/nonexistent/tavlo-no-bus"},
        {"nolib", qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")},
        {"hung", "unix:path=" + dir.filePath("bus")},
    };
    for (const auto& [mode, busAddress] : cases) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TAVLO_KEYCHAIN_CHILD", mode);
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        env.remove("DISPLAY"); // no X11 autolaunch of a bus either
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=KeychainChild.*"});
        if (!child.waitForFinished(30000))
            child.kill();
        child.waitForFinished();
        const std::string out = child.readAll().toStdString();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << mode << ": " << out;
        EXPECT_EQ(child.exitCode(), 0) << mode << ": " << out;
        EXPECT_NE(out.find("CHILD DONE"), std::string::npos) << mode << ": " << out;
        EXPECT_LT(clock.elapsed(), 25000) << mode;
    }
}

} // namespace
