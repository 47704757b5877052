// The sign-in form under the offscreen platform, against the real study
// service; failures are made real with the service's fault injector.
#include "ServiceSupport.h"

#include "app/LoginView.h"
#include "ui/Theme.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

class Login : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        if (HasFatalFailure())
            return;
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

    std::unique_ptr<LoginView> view;
    int successes = 0;
    QLineEdit* email = nullptr;
    QLineEdit* password = nullptr;
    QPushButton* button = nullptr;
    QWidget* spinner = nullptr;
    QLabel* errorLabel = nullptr;
};

TEST_F(Login, SignInNeedsBothFields)
{
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(spinner->isVisible());
    EXPECT_FALSE(errorLabel->isVisible());
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"", "", false}, {"a@b", "", false}, {"", "pw", false}, {"a@b", "pw", true}, {"   ", " ", true}, // spaces count: no trimming
    };
    for (const auto& [e, p, enabled] : cases) {
        type(e, p);
        EXPECT_EQ(button->isEnabled(), enabled) << "'" << e << "' / '" << p << "'";
        if (enabled)
            continue;
        // Return does nothing either; a sign-in would be under way at once.
        QTest::keyClick(password, Qt::Key_Return);
        QTest::keyClick(email, Qt::Key_Return);
        EXPECT_FALSE(view->isLoading()) << "'" << e << "' / '" << p << "'";
    }
}

// Return, Enter or another click during a sign-in must not start a second one.
TEST_F(Login, SignsInOnceShowingTheSpinnerMeanwhile)
{
    service->fault({{"mode", "delay"}, {"delayMs", 400}, {"path", "/api/auth/login"}});
    type(StudyService::demoEmail(), StudyService::demoPassword());
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(view->isLoading());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(button->text().isEmpty());
    EXPECT_TRUE(spinner->isVisible());
    QTest::keyClick(password, Qt::Key_Return);
    QTest::keyClick(password, Qt::Key_Enter);
    QTest::keyClick(email, Qt::Key_Return);
    view->login();
    ASSERT_TRUE(settle());
    EXPECT_EQ(successes, 1);
    int logins = 0;
    for (const QJsonValue& r : service->requests())
        logins += r.toObject().value("path").toString() == "/api/auth/login";
    EXPECT_EQ(logins, 1);
    EXPECT_FALSE(spinner->isVisible());
    EXPECT_EQ(str(button->text()), "Sign In");
    EXPECT_TRUE(view->errorText().isEmpty());
    // Signed in: the password lives on in the credential store only.
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_EQ(email->text(), StudyService::demoEmail());
}

// Which words each error gets is LoginMessages' business (below); here: a
// failed sign-in shows them in red and gives the form back as it was.
TEST_F(Login, FailuresShowTheirMessageInRedUntilTheNextAttempt)
{
    const std::tuple<bool, const char*, const char*> cases[] = { // connection dropped, password, message
        {true, "tavlo-demo", "Connection failed: The network connection was lost."},
        {false, "wrong", "Server error (401): Login failed"},
    };
    for (const auto& [dropped, typed, message] : cases) {
        service->reset(); // no fault left over from the row before
        if (dropped)
            service->fault({{"mode", "drop"}, {"count", 3}, {"path", "/api/auth/login"}});
        type(StudyService::demoEmail(), typed);
        QTest::keyClick(password, Qt::Key_Return);
        ASSERT_TRUE(settle());
        EXPECT_EQ(successes, 0);
        EXPECT_EQ(str(view->errorText()), message);
        EXPECT_TRUE(errorLabel->isVisible());
        EXPECT_EQ(errorLabel->text(), view->errorText());
        EXPECT_EQ(errorLabel->palette().color(QPalette::WindowText), Theme::accentText(Theme::red()));
        EXPECT_LT(errorLabel->font().pointSizeF(), email->font().pointSizeF());
        // The fields keep what was typed, and the button is back.
        EXPECT_EQ(email->text(), StudyService::demoEmail());
        EXPECT_EQ(password->text(), QString::fromUtf8(typed));
        EXPECT_TRUE(button->isEnabled());
        EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    }
    // The corrected password clears the old message as the attempt starts.
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
    const std::pair<Error, const char*> cases[] = {
        {APIError::serverError(401, "Login failed"), "Server error (401): Login failed"},
        {APIError::networkError("Error Domain=HTTP Code=-1 \"(null)\"", "The operation couldn't be completed. (HTTP error -1.)"),
         "Network error: The operation couldn't be completed. (HTTP error -1.)"},
        {APIError::unauthorized(), "Invalid email or password"},
        {APIError::decodingError(), "Unexpected response from server"},
        {t, "Connection failed: The request timed out."},
        {DecodeError{"bad JSON"}, "Connection failed: bad JSON"},
    };
    for (const auto& [error, message] : cases)
        EXPECT_EQ(str(LoginView::messageFor(error)), message);
}

} // namespace
