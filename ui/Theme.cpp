#include "ui/Theme.h"

#include "ui/SchemeListener.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QStyle>
#include <QStyleFactory>
#include <QFontDatabase>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Theme {

QColor green() { return QColor(0x34, 0xC7, 0x59); }
QColor red() { return QColor(0xFF, 0x3B, 0x30); }
QColor orange() { return QColor(0xFF, 0x95, 0x00); }
QColor purple() { return QColor(0xAF, 0x52, 0xDE); }
QColor accent() { return QColor(0x00, 0x7A, 0xFF); }

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(float(colour.alphaF() * alpha));
    return colour;
}

namespace {

double channel(double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double luminance(const QColor& c)
{
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

QColor mix(const QColor& from, const QColor& to, double t)
{
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * t),
                            float(from.greenF() + (to.greenF() - from.greenF()) * t),
                            float(from.blueF() + (to.blueF() - from.blueF()) * t));
}

// `start` moved towards `target` in small steps until it reads at `ratio` on
// every one of `backgrounds`.
QColor reaching(const QColor& start, const QColor& target, const QList<QColor>& backgrounds, double ratio)
{
    for (int step = 0; step <= 40; ++step) {
        const QColor c = mix(start, target, step / 40.0);
        if (std::all_of(backgrounds.begin(), backgrounds.end(), [&](const QColor& b) { return contrast(c, b) >= ratio; }))
            return c;
    }
    return target;
}

QColor farthest(const QPalette& palette)
{
    const QColor window = palette.color(QPalette::Window);
    return contrast(window, Qt::black) >= contrast(window, Qt::white) ? QColor(Qt::black) : QColor(Qt::white);
}

} // namespace

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor over(const QColor& top, const QColor& bottom)
{
    return mix(bottom, QColor(top.rgb()), top.alphaF());
}

QColor accentText(const QColor& hue, const QPalette& palette)
{
    const QColor window = palette.color(QPalette::Window), base = palette.color(QPalette::Base);
    const QColor tint = withAlpha(hue, 0.2);
    // Styles shade push buttons with a gradient around the Button colour.
    const QColor button = palette.color(QPalette::Button);
    return reaching(hue, farthest(palette),
                    {window, base, button.darker(115), button.lighter(140), over(tint, window), over(tint, base)}, 4.6);
}

QColor prominentFill() { return reaching(accent(), Qt::black, {Qt::white}, 4.6); }

namespace {

// The portal's colour-scheme: 1 dark, 2 light; nothing while it has not
// answered, has no preference (0) or is not there.
std::optional<uint> portalScheme;
std::optional<QPalette> lightPalette; // the desktop's own, while we show darkPalette()

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colourScheme = QStringLiteral("color-scheme");

void applyScheme()
{
    if (portalScheme == 1u && !lightPalette && QApplication::palette().color(QPalette::Window).lightness() >= 128) {
        lightPalette = QApplication::palette();
        // Desktop styles may draw their own light colours; Fusion draws the palette.
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
    } else if (portalScheme != 1u && lightPalette) {
        QApplication::setPalette(*lightPalette);
        lightPalette.reset();
    }
}

// Read returns the value wrapped in one more variant than ReadOne.
void takeScheme(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    portalScheme = ok && scheme != 0 ? std::optional<uint>(scheme) : std::nullopt;
    applyScheme();
}

void askPortal(const QString& method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, method);
    call << appearance << colourScheme;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [method](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (!reply.isError())
            takeScheme(QVariant::fromValue(reply.value()));
        else if (method == QLatin1String("ReadOne") && reply.error().type() == QDBusError::UnknownMethod)
            askPortal(QStringLiteral("Read")); // portals before version 2
        else
            takeScheme({});
    });
}

} // namespace

bool isDark(const QPalette& palette)
{
    if (portalScheme)
        return *portalScheme == 1;
    return palette.color(QPalette::Window).lightness() < 128;
}

void followDesktop()
{
    static SchemeListener* listener = nullptr;
    if (!listener) {
        listener = new SchemeListener;
        listener->setParent(qApp);
        QDBusConnection::sessionBus().connect(portalService, portalPath, settingsInterface,
                                              QStringLiteral("SettingChanged"), listener,
                                              SLOT(settingChanged(QDBusMessage)));
    }
    askPortal(QStringLiteral("ReadOne"));
}

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x2B, 0x2B, 0x2E), base(0x1E, 0x1E, 0x20), text(0xEC, 0xEC, 0xEE);
    const std::pair<QPalette::ColorRole, QColor> roles[] = {
        {QPalette::Window, window}, {QPalette::WindowText, text}, {QPalette::Base, base},
        {QPalette::AlternateBase, window}, {QPalette::Text, text}, {QPalette::Button, QColor(0x3A, 0x3A, 0x3D)},
        {QPalette::ButtonText, text}, {QPalette::PlaceholderText, QColor(0x9A, 0x9A, 0xA0)},
        {QPalette::Highlight, QColor(0x0A, 0x84, 0xFF)}, {QPalette::HighlightedText, Qt::white},
        {QPalette::Light, QColor(0x60, 0x60, 0x66)}, {QPalette::Mid, QColor(0x55, 0x55, 0x5A)},
        {QPalette::Midlight, QColor(0x48, 0x48, 0x4C)}, {QPalette::Dark, QColor(0x18, 0x18, 0x1A)},
        {QPalette::ToolTipBase, window}, {QPalette::ToolTipText, text}};
    for (const auto& [role, colour] : roles)
        p.setColor(role, colour);
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x86));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x86));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x86));
    return p;
}

QColor windowBackground(const QPalette& palette) { return palette.color(QPalette::Window); }
QColor controlBackground(const QPalette& palette) { return palette.color(QPalette::Base); }
QColor primaryText(const QPalette& palette) { return palette.color(QPalette::WindowText); }
QColor secondaryText(const QPalette& palette)
{
    // Half-way to the window colour, then as far back towards the text as it
    // takes to read on the window, the fields and the light accent tints.
    const QColor window = palette.color(QPalette::Window), base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::WindowText);
    return reaching(mix(text, window, 0.45), text,
                    {window, base, over(withAlpha(green(), 0.12), window), over(withAlpha(orange(), 0.12), base)}, 4.6);
}
QColor separator(const QPalette& palette) { return withAlpha(palette.color(QPalette::WindowText), 0.15); }

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    p.setColor(QPalette::ButtonText, colour);
    widget->setPalette(p);
}

namespace {

QFont scaled(QFont font, qreal designSize, int weight)
{
    // The application font plays the part of the 13-pixel body text; 10 pt
    // (13.3 px on a 96 dpi screen) at the least, so the panels keep the
    // proportions they were designed with on desktops with a small font.
    const qreal base = std::max<qreal>(QApplication::font().pointSizeF(), 10.0);
    font.setPointSizeF(base * designSize / 13.0);
    font.setWeight(QFont::Weight(weight));
    return font;
}

QFont styled(QFont base, TextStyle style)
{
    switch (style) {
    case TextStyle::title2: return scaled(base, 17, QFont::Bold);
    case TextStyle::title3: return scaled(base, 15, QFont::Normal);
    case TextStyle::headline: return scaled(base, 13, QFont::DemiBold);
    // The small styles are one step larger than on the original desktop: at
    // 10 or 11 thirteenths of a typical Linux font they get hard to read.
    case TextStyle::subheadline: return scaled(base, 12, QFont::Normal);
    case TextStyle::body: return scaled(base, 13, QFont::Normal);
    case TextStyle::caption: return scaled(base, 11, QFont::Normal);
    case TextStyle::caption2: return scaled(base, 10.5, QFont::Normal);
    }
    return base;
}

} // namespace

QFont font(TextStyle style)
{
    return styled(QApplication::font(), style);
}

QFont monospaced(TextStyle style)
{
    return styled(QFontDatabase::systemFont(QFontDatabase::FixedFont), style);
}

QString css(const QColor& c)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
}

void makeProminent(QPushButton* button)
{
    button->setMinimumHeight(28);
    button->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 6px;"
                                         " padding: 5px 14px; }"
                                         "QPushButton:pressed { background: %2; }"
                                         "QPushButton:disabled { background: %3; color: rgba(255, 255, 255, 0.85); }")
                              .arg(css(prominentFill()), css(prominentFill().darker(125)), css(withAlpha(prominentFill(), 0.35))));
}

void makeBordered(QPushButton* button)
{
    const QPalette palette = button->palette();
    const QColor text = primaryText(palette);
    button->setMinimumHeight(28);
    button->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3;"
                                         " border-radius: 6px; padding: 4px 13px; }"
                                         "QPushButton:pressed { background: %4; }"
                                         "QPushButton:disabled { color: %5; }")
                              .arg(css(withAlpha(text, 0.06)), css(text), css(separator(palette)),
                                   css(withAlpha(text, 0.14)), css(secondaryText(palette))));
}

QString textFieldStyle(const QPalette& palette)
{
    return QStringLiteral("QLineEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                          " padding: 4px 8px; }"
                          "QLineEdit:focus { border: 2px solid %4; padding: 3px 7px; }"
                          "QLineEdit:disabled { color: %5; background: %6; }")
        .arg(css(controlBackground(palette)), css(primaryText(palette)), css(withAlpha(primaryText(palette), 0.25)),
             css(withAlpha(accent(), 0.6)), css(secondaryText(palette)), css(windowBackground(palette)));
}

} // namespace Theme

void SchemeListener::settingChanged(const QDBusMessage& message)
{
    const QVariantList args = message.arguments();
    if (args.size() == 3 && args.at(0).toString() == Theme::appearance && args.at(1).toString() == Theme::colourScheme)
        Theme::takeScheme(args.at(2));
}
