#include "LoginView.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

LoginView::LoginView(std::function<void()> onSuccess, QWidget* parent)
    : QWidget(parent), onSuccess_(std::move(onSuccess))
{
    setFixedSize(420, 340);
    auto* layout = new QVBoxLayout(this);
    title_ = new QLabel(QStringLiteral("Tavlo"), this);
    email_ = new QLineEdit(this);
    email_->setPlaceholderText(QStringLiteral("Email"));
    password_ = new QLineEdit(this);
    password_->setPlaceholderText(QStringLiteral("Password"));
    password_->setEchoMode(QLineEdit::Password);
    error_ = new QLabel(this);
    error_->hide();
    button_ = new QPushButton(QStringLiteral("Sign In"), this);
    layout->addWidget(title_);
    layout->addWidget(email_);
    layout->addWidget(password_);
    layout->addWidget(error_);
    layout->addWidget(button_);
}

LoginView::~LoginView() = default;

void LoginView::login() {}

QString LoginView::errorText() const { return error_->isVisible() ? error_->text() : QString(); }

QString LoginView::messageFor(const Error&) { return {}; }

void LoginView::updateState() {}

void LoginView::finish(const Result<void>&) {}
