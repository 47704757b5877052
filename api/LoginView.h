#pragma once
#include "Result.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// The sign-in form shown in a 420 x 340 panel. It calls APIClient::login with
// the fields exactly as typed; `onSuccess` runs on the main thread once per
// successful sign-in, and every failure becomes one red line under the fields.
class LoginView : public QWidget {
    Q_OBJECT
public:
    explicit LoginView(std::function<void()> onSuccess, QWidget* parent = nullptr);
    ~LoginView() override;

    // Runs the sign-in action (the button and Return in the password field).
    // Ignored while the fields are incomplete or a sign-in is already running.
    void login();

    bool isLoading() const { return loading_; }
    // The message under the fields; empty when none is shown.
    QString errorText() const;

    // The words shown for a failed sign-in.
    static QString messageFor(const Error& error);

private:
    void updateState();
    void finish(const Result<void>& result);

    std::function<void()> onSuccess_;
    bool loading_ = false;
    QLabel* icon_ = nullptr;
    QLabel* title_ = nullptr;
    QLineEdit* email_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLabel* error_ = nullptr;
    QPushButton* button_ = nullptr;
    QProgressBar* spinner_ = nullptr;
};
