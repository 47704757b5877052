// The credential store against the real Secret Service of the test session
// (scripts/test-env.sh), and against no keyring daemon at all.
#include <libsecret/secret.h> // before Qt: GLib uses the word "signals"

#include "KeychainService.h"
#include "TestSupport.h"
#include "Log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const SecretSchema* schema()
{
    static const SecretSchema s = {
        "com.tavlo.popup", SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &s;
}

// Direct access to the keyring, behind the store's back.
std::optional<QByteArray> rawLoad(const char* account)
{
    GError* error = nullptr;
    SecretValue* v = secret_password_lookup_binary_sync(schema(), nullptr, &error, "service", "com.tavlo.popup",
                                                        "account", account, nullptr);
    if (error)
        g_error_free(error);
    if (!v)
        return std::nullopt;
    gsize n = 0;
    const gchar* d = secret_value_get(v, &n);
    QByteArray bytes(d, qsizetype(n));
    secret_value_unref(v);
    return bytes;
}

bool rawStore(const char* account, const QByteArray& bytes)
{
    GError* error = nullptr;
    SecretValue* v = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    const gboolean ok = secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, "test", v, nullptr, &error,
                                                          "service", "com.tavlo.popup", "account", account, nullptr);
    secret_value_unref(v);
    if (error)
        g_error_free(error);
    return ok;
}

void rawDelete(const char* account)
{
    GError* error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", "com.tavlo.popup", "account", account, nullptr);
    if (error)
        g_error_free(error);
}

int rawCount(const char* account)
{
    GError* error = nullptr;
    GList* items = secret_password_search_sync(schema(), SECRET_SEARCH_ALL, nullptr, &error, "service",
                                               "com.tavlo.popup", "account", account, nullptr);
    if (error)
        g_error_free(error);
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
        KeychainService::setAfterLoadHookForTesting(nullptr);
        KeychainService::clearAll();
    }
};

TEST_F(Keychain, FreshStoreHasNoTokenAndSavedTokenComesFromTheCache)
{
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    KeychainService::saveAccessToken("t");
    EXPECT_EQ(rawLoad("access_token"), QByteArray("t"));
    // Removed behind the store's back: the cached copy still answers.
    rawDelete("access_token");
    EXPECT_EQ(KeychainService::getAccessToken(), QString("t"));
}

TEST_F(Keychain, TokenIsLoadedFromTheKeyringWhenNotCached)
{
    ASSERT_TRUE(rawStore("access_token", "from-keyring"));
    KeychainService::forgetCachedTokenForTesting();
    EXPECT_EQ(KeychainService::getAccessToken(), QString("from-keyring"));
    rawDelete("access_token");
    EXPECT_EQ(KeychainService::getAccessToken(), QString("from-keyring")); // now cached
}

TEST_F(Keychain, ValuesAreStoredAsUtf8AndReadBackUnchanged)
{
    const QString email = QString::fromUtf8("Ærø😀@example.org");
    const QString password = QString::fromUtf8(" pass wörd ");
    KeychainService::saveCredentials(email, password);
    EXPECT_EQ(rawLoad("email"), email.toUtf8());
    EXPECT_EQ(rawLoad("password"), password.toUtf8());
    const auto c = KeychainService::getCredentials();
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->email, email);
    EXPECT_EQ(c->password, password);
}

TEST_F(Keychain, EmptyStringsAreValuesNotAbsence)
{
    KeychainService::saveCredentials("", "");
    const auto c = KeychainService::getCredentials();
    ASSERT_TRUE(c.has_value());
    EXPECT_TRUE(c->email.isEmpty());
    EXPECT_TRUE(c->password.isEmpty());
    KeychainService::saveAccessToken("");
    KeychainService::forgetCachedTokenForTesting();
    EXPECT_EQ(KeychainService::getAccessToken(), QString(""));
}

TEST_F(Keychain, EmailWithoutPasswordIsNoCredentials)
{
    KeychainService::saveCredentials("a@b", "pw");
    rawDelete("password");
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    rawDelete("email");
    ASSERT_TRUE(rawStore("password", "pw"));
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
}

TEST_F(Keychain, StoringReplacesAndNeverDuplicates)
{
    KeychainService::saveCredentials("first@x", "1");
    KeychainService::saveCredentials("second@x", "2");
    KeychainService::saveAccessToken("a");
    KeychainService::saveAccessToken("b");
    EXPECT_EQ(rawCount("email"), 1);
    EXPECT_EQ(rawCount("password"), 1);
    EXPECT_EQ(rawCount("access_token"), 1);
    EXPECT_EQ(KeychainService::getCredentials()->email, QString("second@x"));
    KeychainService::forgetCachedTokenForTesting();
    EXPECT_EQ(KeychainService::getAccessToken(), QString("b"));
}

TEST_F(Keychain, InvalidUtf8ReadsAsAbsent)
{
    ASSERT_TRUE(rawStore("email", QByteArray("\xff\xfe", 2)));
    ASSERT_TRUE(rawStore("password", "pw"));
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    ASSERT_TRUE(rawStore("access_token", QByteArray("ab\xc3", 3)));
    KeychainService::forgetCachedTokenForTesting();
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
}

TEST_F(Keychain, ClearAllRemovesEverythingAndIsSilentWhenEmpty)
{
    KeychainService::clearAll();
    KeychainService::saveCredentials("a@b", "pw");
    KeychainService::saveAccessToken("t");
    const auto before = KeychainService::generation();
    KeychainService::clearAll();
    EXPECT_GT(KeychainService::generation(), before);
    EXPECT_FALSE(rawLoad("access_token").has_value());
    EXPECT_FALSE(rawLoad("email").has_value());
    EXPECT_FALSE(rawLoad("password").has_value());
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
}

// A load that read the keyring just before a clear must not put the old
// token back into the cache once the clear is done.
TEST_F(Keychain, ClearDuringTokenLoadLeavesNoToken)
{
    ASSERT_TRUE(rawStore("access_token", "old-account"));
    KeychainService::forgetCachedTokenForTesting();
    static std::atomic<int> hookRuns{0};
    hookRuns = 0;
    KeychainService::setAfterLoadHookForTesting([] {
        if (hookRuns++ == 0)
            KeychainService::clearAll(); // the learner switches account right now
    });
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    KeychainService::setAfterLoadHookForTesting(nullptr);
    EXPECT_EQ(hookRuns.load(), 1);
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(rawLoad("access_token").has_value());
}

TEST_F(Keychain, LoginFromBeforeAClearStoresNothing)
{
    const auto startedAt = KeychainService::generation();
    KeychainService::clearAll();
    EXPECT_FALSE(KeychainService::saveLoginIfCurrent(startedAt, "old@x", "pw", "old-token"));
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    EXPECT_TRUE(KeychainService::saveLoginIfCurrent(KeychainService::generation(), "new@x", "pw2", "new-token"));
    EXPECT_EQ(KeychainService::getAccessToken(), QString("new-token"));
    EXPECT_EQ(KeychainService::getCredentials()->email, QString("new@x"));
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
                const auto token = KeychainService::getAccessToken();
                if (wasCleared && token == QString("old"))
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

// Runs this binary again with only the child test selected and `env` added.
QProcess::ExitStatus runChild(const QString& mode, const QString& busAddress, int* exitCode, QByteArray* output,
                              qint64* elapsedMs)
{
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
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished();
    }
    *elapsedMs = clock.elapsed();
    *exitCode = child.exitCode();
    *output = child.readAll();
    return child.exitStatus();
}

// The child run passes, well before D-Bus's own 25 s time-out.
void expectChildPasses(const QString& mode, const QString& busAddress)
{
    int code = -1;
    QByteArray out;
    qint64 ms = 0;
    const auto status = runChild(mode, busAddress, &code, &out, &ms);
    EXPECT_EQ(status, QProcess::NormalExit) << out.toStdString();
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_TRUE(out.contains("CHILD DONE")) << out.toStdString();
    EXPECT_LT(ms, 25000);
}

TEST(KeychainChild, OperationsWithoutAKeyring)
{
    const QString mode = qEnvironmentVariable("TAVLO_KEYCHAIN_CHILD");
    if (mode.isEmpty())
        GTEST_SKIP() << "runs only as the child of the NoKeyring tests";
    LogCapture logs;
    if (mode == "nolib")
        KeychainService::setLibraryForTesting(logs.path() + ".missing-libsecret-1.so.0"); // no such file
    KeychainService::setCallTimeoutForTesting(0.5);
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    KeychainService::saveCredentials("a@b", "pw");
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    KeychainService::saveAccessToken("t");
    EXPECT_EQ(KeychainService::getAccessToken(), QString("t")); // the running process keeps it
    KeychainService::clearAll();
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    const QString logged = logs.messages().join(u'\n');
    if (mode == "nolib")
        EXPECT_EQ(logs.startingWith("Keyring unavailable: ").size(), 1) << logged.toStdString();
    else
        EXPECT_FALSE(logged.contains("Keyring unavailable")) << logged.toStdString();
    std::printf("CHILD DONE\n");
}

TEST(NoKeyring, NoBusAtAllGivesAbsentValuesQuickly)
{
    if (qEnvironmentVariableIsSet("TAVLO_KEYCHAIN_CHILD"))
        GTEST_SKIP();
    expectChildPasses("nobus", "unix:path=/nonexistent/tavlo-no-bus");
}

// A broken installation: the keyring library cannot be opened. The agent
// carries on signed out and says why once in the log.
TEST(NoKeyring, MissingLibraryGivesAbsentValuesAndOneLogLine)
{
    if (qEnvironmentVariableIsSet("TAVLO_KEYCHAIN_CHILD"))
        GTEST_SKIP();
    expectChildPasses("nolib", qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
}

TEST(NoKeyring, HungBusIsBoundedByTheWatchdog)
{
    if (qEnvironmentVariableIsSet("TAVLO_KEYCHAIN_CHILD"))
        GTEST_SKIP();
    // A socket that takes connections and never says a word: the D-Bus
    // handshake hangs until the watchdog cancels it.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(dir.filePath("bus")));
    expectChildPasses("hung", "unix:path=" + dir.filePath("bus"));
}

} // namespace
