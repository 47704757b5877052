// The sign-in form under the offscreen platform, against the real study
// service; failures are made real with the service's fault injector.
#include "ServiceSupport.h"

#include "APIClient.h"
#include "KeychainService.h"
#include "LoginView.h"
#include "StudyService.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

class Login : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        if (HasFatalFailure())
            return;
        successes = 0;
        view = std::make_unique<LoginView>([this] { ++successes; });
        view->show();
        email = view->findChild<QLineEdit*>("email");
        password = view->findChild<QLineEdit*>("password");
        button = view->findChild<QPushButton*>("signIn");
        spinner = view->findChild<QWidget*>("spinner");
        errorLabel = view->findChild<QLabel*>("error");
        ASSERT_TRUE(email && password && button && spinner && errorLabel);
    }
    void TearDown() override
    {
        view.reset();
        ServiceFixture::TearDown();
    }

    void type(const QString& e, const QString& p)
    {
        email->clear();
        password->clear();
        QTest::keyClicks(email, e);
        QTest::keyClicks(password, p);
    }

    // Waits for the running sign-in to end.
    bool settle() { return waitUntil([this] { return !view->isLoading(); }); }

    int loginRequests()
    {
        int n = 0;
        for (const QJsonValue& r : service->requests())
            n += r.toObject().value("path").toString() == "/api/auth/login";
        return n;
    }

    std::unique_ptr<LoginView> view;
    int successes = 0;
    QLineEdit* email = nullptr;
    QLineEdit* password = nullptr;
    QPushButton* button = nullptr;
    QWidget* spinner = nullptr;
    QLabel* errorLabel = nullptr;
};

TEST_F(Login, StartsEmptyWithTheFormItShows)
{
    EXPECT_EQ(view->size(), QSize(420, 340));
    EXPECT_EQ(view->minimumSize(), QSize(420, 340));
    EXPECT_EQ(view->maximumSize(), QSize(420, 340));
    EXPECT_EQ(str(email->placeholderText()), "Email");
    EXPECT_EQ(str(password->placeholderText()), "Password");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(email->text().isEmpty());
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_EQ(str(button->text()), "Sign In");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(spinner->isVisible());
    EXPECT_FALSE(errorLabel->isVisible());
    const QLabel* title = view->findChild<QLabel*>("title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(str(title->text()), "Tavlo");
    EXPECT_TRUE(title->font().bold());
    const QLabel* icon = view->findChild<QLabel*>("icon");
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
}

TEST_F(Login, ButtonNeedsBothFields)
{
    struct Case {
        const char* email;
        const char* password;
        bool enabled;
    };
    for (const Case& c : {Case{"", "", false}, Case{"a@b", "", false}, Case{"", "pw", false}, Case{"a@b", "pw", true},
                          Case{"   ", " ", true}}) { // spaces count: no trimming
        type(c.email, c.password);
        EXPECT_EQ(button->isEnabled(), c.enabled) << "'" << c.email << "' / '" << c.password << "'";
    }
}

TEST_F(Login, ReturnWithAnEmptyFieldDoesNothing)
{
    type("a@b", "");
    QTest::keyClick(password, Qt::Key_Return);
    type("", "pw");
    QTest::keyClick(password, Qt::Key_Return);
    QTest::keyClick(email, Qt::Key_Return);
    EXPECT_FALSE(view->isLoading());
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(loginRequests(), 0);
}

TEST_F(Login, SignsInShowingTheSpinnerMeanwhile)
{
    service->fault({{"mode", "delay"}, {"delayMs", 300}, {"path", "/api/auth/login"}});
    type(StudyService::demoEmail(), StudyService::demoPassword());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(view->isLoading());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(button->text().isEmpty());
    EXPECT_TRUE(spinner->isVisible());
    ASSERT_TRUE(settle());
    EXPECT_EQ(successes, 1);
    EXPECT_FALSE(spinner->isVisible());
    EXPECT_EQ(str(button->text()), "Sign In");
    EXPECT_TRUE(view->errorText().isEmpty());
    EXPECT_TRUE(KeychainService::getAccessToken().has_value());
    EXPECT_EQ(KeychainService::getCredentials()->email, StudyService::demoEmail());
    EXPECT_EQ(KeychainService::getCredentials()->password, StudyService::demoPassword());
    // Signed in: the password lives on in the credential store only.
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_EQ(email->text(), StudyService::demoEmail());
}

TEST_F(Login, ReturnDuringASignInDoesNotStartAnother)
{
    service->fault({{"mode", "delay"}, {"delayMs", 400}, {"path", "/api/auth/login"}});
    type(StudyService::demoEmail(), StudyService::demoPassword());
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(view->isLoading());
    QTest::keyClick(password, Qt::Key_Return);
    QTest::keyClick(password, Qt::Key_Enter);
    QTest::keyClick(email, Qt::Key_Return);
    view->login();
    ASSERT_TRUE(settle());
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(loginRequests(), 1);
    EXPECT_EQ(successes, 1);
}

struct Failure {
    const char* name;
    QJsonObject fault;     // on /api/auth/login; empty: none
    const char* password;
    const char* message;   // exact, or the start when `prefixOnly`
    bool prefixOnly;
};

class LoginFailureTexts : public Login, public ::testing::WithParamInterface<Failure> {};

TEST_P(LoginFailureTexts, ShowTheirMessageInRed)
{
    const Failure& f = GetParam();
    if (!f.fault.isEmpty()) {
        QJsonObject fault = f.fault;
        fault.insert("path", "/api/auth/login");
        service->fault(fault);
    }
    type(StudyService::demoEmail(), QString::fromUtf8(f.password));
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(settle());
    EXPECT_EQ(successes, 0);
    const QString text = view->errorText();
    if (f.prefixOnly)
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(f.message))) << str(text);
    else
        EXPECT_EQ(str(text), f.message);
    EXPECT_TRUE(errorLabel->isVisible());
    EXPECT_EQ(errorLabel->text(), text);
    EXPECT_EQ(errorLabel->palette().color(QPalette::WindowText), QColor(0xFF, 0x3B, 0x30));
    EXPECT_LT(errorLabel->font().pointSizeF(), email->font().pointSizeF());
    // The fields keep what was typed, and the button is back.
    EXPECT_EQ(email->text(), StudyService::demoEmail());
    EXPECT_EQ(password->text(), QString::fromUtf8(f.password));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoginFailureTexts,
    ::testing::Values(
        Failure{"wrong_password", {}, "wrong", "Server error (401): Login failed", false},
        Failure{"status_500", {{"mode", "status"}, {"status", 500}, {"body", "oops"}}, "tavlo-demo",
                "Server error (500): Login failed", false},
        Failure{"status_201", {{"mode", "status"}, {"status", 201}}, "tavlo-demo", "Server error (201): Login failed", false},
        Failure{"no_token", {{"mode", "body"}, {"body", R"({"data": {"user": {"id": 1}}})"}}, "tavlo-demo",
                "Unexpected response from server", false},
        Failure{"malformed", {{"mode", "malformed"}}, "tavlo-demo",
                "Connection failed: The data couldn't be read because it isn't valid JSON", true},
        Failure{"dropped", {{"mode", "drop"}, {"count", 3}}, "tavlo-demo", "Connection failed: The network connection was lost.", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Login, UnreachableServiceSaysConnectionFailed)
{
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    qputenv("TAVLO_API_BASE_URL", QStringLiteral("http://127.0.0.1:%1/api").arg(port).toUtf8());
    type("a@b", "pw");
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(settle());
    EXPECT_EQ(str(view->errorText()), "Connection failed: Could not connect to the server.");
}

TEST_F(Login, SlowServiceTimesOut)
{
    APIClient::setTimeoutScaleForTesting(0.01);
    service->fault({{"mode", "delay"}, {"delayMs", 1500}, {"path", "/api/auth/login"}});
    type(StudyService::demoEmail(), StudyService::demoPassword());
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(settle());
    EXPECT_EQ(str(view->errorText()), "Connection failed: The request timed out.");
}

TEST_F(Login, CorrectedPasswordClearsTheOldMessageAsTheAttemptStarts)
{
    type(StudyService::demoEmail(), "wrong");
    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_TRUE(settle());
    ASSERT_FALSE(view->errorText().isEmpty());
    service->fault({{"mode", "delay"}, {"delayMs", 200}, {"path", "/api/auth/login"}});
    password->selectAll();
    QTest::keyClicks(password, StudyService::demoPassword());
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_TRUE(view->isLoading());
    EXPECT_TRUE(view->errorText().isEmpty());
    EXPECT_FALSE(errorLabel->isVisible());
    ASSERT_TRUE(settle());
    EXPECT_EQ(successes, 1);
}

TEST_F(Login, ClosingTheFormDuringASignInIsHarmless)
{
    service->fault({{"mode", "delay"}, {"delayMs", 200}, {"path", "/api/auth/login"}});
    type(StudyService::demoEmail(), StudyService::demoPassword());
    QTest::keyClick(password, Qt::Key_Return);
    view.reset();
    waitUntil([] { return KeychainService::getAccessToken().has_value(); }, 3000);
    EXPECT_EQ(successes, 0);
}

TEST(LoginMessages, EveryErrorCase)
{
    TransportError t;
    t.description = "The request timed out.";
    EXPECT_EQ(str(LoginView::messageFor(APIError::serverError(401, "Login failed"))), "Server error (401): Login failed");
    EXPECT_EQ(str(LoginView::messageFor(APIError::networkError("Error Domain=HTTP Code=-1 \"(null)\"",
                                                                 "The operation couldn't be completed. (HTTP error -1.)"))),
              "Network error: The operation couldn't be completed. (HTTP error -1.)");
    EXPECT_EQ(str(LoginView::messageFor(APIError::unauthorized())), "Invalid email or password");
    EXPECT_EQ(str(LoginView::messageFor(APIError::decodingError())), "Unexpected response from server");
    EXPECT_EQ(str(LoginView::messageFor(t)), "Connection failed: The request timed out.");
    EXPECT_EQ(str(LoginView::messageFor(DecodeError{"bad JSON"})), "Connection failed: bad JSON");
}

// Set TAVLO_SCREENSHOT_DIR to look at the form: idle, loading, failed.
TEST_F(Login, Screenshots)
{
    const QString dir = qEnvironmentVariable("TAVLO_SCREENSHOT_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "TAVLO_SCREENSHOT_DIR not set";
    view->grab().save(dir + "/login-empty.png");
    service->fault({{"mode", "delay"}, {"delayMs", 400}, {"path", "/api/auth/login"}});
    type(StudyService::demoEmail(), "wrong");
    QTest::keyClick(password, Qt::Key_Return);
    waitUntil([] { return false; }, 120);
    view->grab().save(dir + "/login-loading.png");
    ASSERT_TRUE(settle());
    view->grab().save(dir + "/login-error.png");
}

} // namespace
