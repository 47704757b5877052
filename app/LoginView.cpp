#include "app/LoginView.h"

#include "api/APIClient.h"
#include "ui/Glyphs.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

LoginView::LoginView(std::function<void()> onSuccess, QWidget* parent)
    : QWidget(parent), onSuccess_(std::move(onSuccess))
{
    setFixedSize(420, 340);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(20);
    layout->addStretch(1);

    auto* icon = new GlyphLabel(Glyph::cards, Theme::orange(), 36, this);
    icon->setObjectName(QStringLiteral("icon"));
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto* title = new QLabel(QStringLiteral("Tavlo"), this);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(Theme::font(Theme::TextStyle::title2));
    layout->addWidget(title, 0, Qt::AlignHCenter);

    auto* fields = new QVBoxLayout;
    fields->setSpacing(12);
    email_ = new QLineEdit(this);
    email_->setObjectName(QStringLiteral("email"));
    email_->setPlaceholderText(tr("Email"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("password"));
    password_->setPlaceholderText(tr("Password"));
    password_->setEchoMode(QLineEdit::Password);
    fields->addWidget(email_);
    fields->addWidget(password_);
    layout->addLayout(fields);

    errorLabel_ = new QLabel(this);
    errorLabel_->setObjectName(QStringLiteral("error"));
    errorLabel_->setWordWrap(true);
    errorLabel_->setAlignment(Qt::AlignHCenter);
    errorLabel_->setTextFormat(Qt::PlainText);
    errorLabel_->setFont(Theme::font(Theme::TextStyle::caption));
    Theme::setTextColour(errorLabel_, Theme::accentText(Theme::red()));
    errorLabel_->hide();
    layout->addWidget(errorLabel_);

    button_ = new BusyButton(tr("Sign In"), this);
    button_->setObjectName(QStringLiteral("signIn"));
    button_->setDefault(true);
    button_->setMinimumWidth(96);
    Theme::makeProminent(button_);
    button_->spinner()->setObjectName(QStringLiteral("spinner"));
    layout->addWidget(button_, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(email_, &QLineEdit::textChanged, this, &LoginView::updateState);
    connect(password_, &QLineEdit::textChanged, this, &LoginView::updateState);
    connect(button_, &QPushButton::clicked, this, &LoginView::login);
    connect(password_, &QLineEdit::returnPressed, this, &LoginView::login);
    // Return anywhere in the form is the default action, as long as the button would take it.
    connect(email_, &QLineEdit::returnPressed, this, [this] {
        if (button_->isEnabled())
            login();
    });
    updateState();
}

LoginView::~LoginView() = default;

void LoginView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Ready to type into, as a sign-in sheet should be.
    if (!email_->hasFocus() && !password_->hasFocus())
        email_->setFocus(Qt::OtherFocusReason);
}

void LoginView::login()
{
    if (email_->text().isEmpty() || password_->text().isEmpty())
        return;
    // Return in the password field must not start a second sign-in while one runs.
    if (loading_)
        return;
    loading_ = true;
    error_.clear();
    updateState();
    APIClient::login(email_->text(), password_->text(), this, [this](Result<void> result) { finish(result); });
}

void LoginView::finish(const Result<void>& result)
{
    loading_ = false;
    if (result.ok()) {
        // The credential store has it now; the form need not keep it.
        password_->clear();
        updateState();
        if (onSuccess_)
            onSuccess_();
        return;
    }
    error_ = messageFor(result.error());
    updateState();
}

QString LoginView::errorText() const
{
    return error_;
}

QString LoginView::messageFor(const Error& error)
{
    if (const APIError* api = asAPIError(error)) {
        switch (api->kind) {
        case APIError::Case::serverError:
            return tr("Server error (%1): %2").arg(api->status).arg(api->message);
        case APIError::Case::networkError:
            return tr("Network error: %1").arg(api->underlyingLocalized);
        case APIError::Case::unauthorized:
            return tr("Invalid email or password");
        case APIError::Case::decodingError:
            return tr("Unexpected response from server");
        }
    }
    return tr("Connection failed: %1").arg(localizedDescription(error));
}

void LoginView::updateState()
{
    button_->setEnabled(!email_->text().isEmpty() && !password_->text().isEmpty() && !loading_);
    button_->setBusy(loading_);
    errorLabel_->setText(error_);
    errorLabel_->setVisible(!error_.isEmpty());
}
