#include "app/LoginView.h"

#include "api/APIClient.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QColor kOrange(0xFF, 0x95, 0x00);
const QColor kRed(0xFF, 0x3B, 0x30);

// Two overlapping cards, the back one tilted: the app's mark, drawn rather
// than taken from an icon theme that may not have anything like it.
QPixmap cardsGlyph(int size, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal line = size / 12.0;
    p.setPen(QPen(kOrange, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QRectF card(size * 0.08, size * 0.30, size * 0.62, size * 0.46);
    p.save();
    p.translate(size * 0.58, size * 0.42);
    p.rotate(-14);
    p.translate(-size * 0.58, -size * 0.42);
    p.drawRoundedRect(card.translated(size * 0.22, -size * 0.16), line * 1.2, line * 1.2);
    p.restore();
    // The front card hides the part of the back one it covers.
    p.setBrush(QColor(kOrange.red(), kOrange.green(), kOrange.blue(), 255));
    p.drawRoundedRect(card.translated(0, size * 0.06), line * 1.2, line * 1.2);
    return pixmap;
}

// A small turning arc, shown in the button instead of its title while a
// sign-in runs.
class Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this))
    {
        setFixedSize(16, 16);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        timer_->setInterval(40);
        connect(timer_, &QTimer::timeout, this, [this] {
            angle_ = (angle_ + 30) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { timer_->start(); }
    void hideEvent(QHideEvent*) override { timer_->stop(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(palette().color(QPalette::HighlightedText), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(rect()).adjusted(2, 2, -2, -2), -angle_ * 16, 270 * 16);
    }

private:
    QTimer* timer_;
    int angle_ = 0;
};

} // namespace

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

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(cardsGlyph(36, devicePixelRatioF()));
    icon->setFixedSize(36, 36);
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto* title = new QLabel(QStringLiteral("Tavlo"), this);
    title->setObjectName(QStringLiteral("title"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.55);
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title, 0, Qt::AlignHCenter);

    auto* fields = new QVBoxLayout;
    fields->setSpacing(12);
    email_ = new QLineEdit(this);
    email_->setObjectName(QStringLiteral("email"));
    email_->setPlaceholderText(QStringLiteral("Email"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("password"));
    password_->setPlaceholderText(QStringLiteral("Password"));
    password_->setEchoMode(QLineEdit::Password);
    fields->addWidget(email_);
    fields->addWidget(password_);
    layout->addLayout(fields);

    errorLabel_ = new QLabel(this);
    errorLabel_->setObjectName(QStringLiteral("error"));
    errorLabel_->setWordWrap(true);
    errorLabel_->setAlignment(Qt::AlignHCenter);
    errorLabel_->setTextFormat(Qt::PlainText);
    QFont caption = errorLabel_->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    errorLabel_->setFont(caption);
    QPalette errorPalette = errorLabel_->palette();
    errorPalette.setColor(QPalette::WindowText, kRed);
    errorLabel_->setPalette(errorPalette);
    errorLabel_->hide();
    layout->addWidget(errorLabel_);

    button_ = new QPushButton(QStringLiteral("Sign In"), this);
    button_->setObjectName(QStringLiteral("signIn"));
    button_->setDefault(true);
    button_->setMinimumWidth(96);
    // The prominent look: filled with the accent colour, like the default
    // button of a sheet.
    button_->setStyleSheet(QStringLiteral(
        "QPushButton#signIn { background: palette(highlight); color: palette(highlighted-text);"
        " border: none; border-radius: 5px; padding: 5px 18px; }"
        "QPushButton#signIn:disabled { background: palette(mid); color: palette(button-text); }"));
    auto* buttonLayout = new QHBoxLayout(button_);
    buttonLayout->setContentsMargins(0, 0, 0, 0);
    spinner_ = new Spinner(button_);
    spinner_->setObjectName(QStringLiteral("spinner"));
    spinner_->hide();
    buttonLayout->addWidget(spinner_, 0, Qt::AlignCenter);
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
            return QStringLiteral("Server error (%1): ").arg(api->status) + api->message;
        case APIError::Case::networkError:
            return QStringLiteral("Network error: ") + api->underlyingLocalized;
        case APIError::Case::unauthorized:
            return QStringLiteral("Invalid email or password");
        case APIError::Case::decodingError:
            return QStringLiteral("Unexpected response from server");
        }
    }
    return QStringLiteral("Connection failed: ") + localizedDescription(error);
}

void LoginView::updateState()
{
    button_->setEnabled(!email_->text().isEmpty() && !password_->text().isEmpty() && !loading_);
    button_->setText(loading_ ? QString() : QStringLiteral("Sign In"));
    spinner_->setVisible(loading_);
    errorLabel_->setText(error_);
    errorLabel_->setVisible(!error_.isEmpty());
}
