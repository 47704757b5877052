#pragma once
#include "api/Result.h"

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class BusyButton;

// The sign-in form shown in a 420 x 340 panel. It calls APIClient::login with
// the fields exactly as typed; `onSuccess` runs on the main thread once per
// successful sign-in, and every failure becomes one red line under the fields.
// Child widgets carry object names for tests: "email", "password", "signIn",
// "spinner", "error".
class LoginView : public QWidget {
    Q_OBJECT
public:
    explicit LoginView(std::function<void()> onSuccess, QWidget* parent = nullptr);
    ~LoginView() override;

    // The sign-in action (the button, Return in either field). Does nothing
    // while a field is empty or while a sign-in is already running.
    void login();

    bool isLoading() const { return loading_; }
    // The message under the fields; empty when none is shown.
    QString errorText() const;

    // The words shown for a failed sign-in.
    static QString messageFor(const Error& error);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateState();
    void finish(const Result<void>& result);

    std::function<void()> onSuccess_;
    bool loading_ = false;
    QString error_;
    QLineEdit* email_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    BusyButton* button_ = nullptr;
};
