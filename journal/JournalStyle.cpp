#include "journal/JournalStyle.h"

#include <QButtonGroup>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPalette>

namespace JournalStyle {

QFont textFont(TextStyle style, const QFont& base)
{
    QFont f = base;
    const double size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    const auto set = [&](double scale, QFont::Weight weight) {
        f.setPointSizeF(size * scale);
        f.setWeight(weight);
    };
    switch (style) {
    case TextStyle::title2: set(1.55, QFont::Bold); break;
    case TextStyle::title3: set(1.3, QFont::Normal); break;
    case TextStyle::headline: set(1.0, QFont::DemiBold); break;
    case TextStyle::subheadline: set(0.92, QFont::Normal); break;
    case TextStyle::body: set(1.0, QFont::Normal); break;
    case TextStyle::caption: set(0.85, QFont::Normal); break;
    case TextStyle::caption2: set(0.8, QFont::Normal); break;
    }
    return f;
}

QFont monospaced(TextStyle style)
{
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(QFont().pointSizeF() > 0 ? QFont().pointSizeF() : 10.0);
    return textFont(style, mono);
}

QColor orange() { return QColor(0xF0, 0x8A, 0x24); }
QColor purple() { return QColor(0x9B, 0x59, 0xD0); }
QColor green() { return QColor(0x34, 0xA8, 0x53); }
QColor red() { return QColor(0xD9, 0x30, 0x25); }
QColor secondary() { return QGuiApplication::palette().color(QPalette::PlaceholderText); }

QIcon glyphIcon(const QString& text, const QColor& color, int pixelSize)
{
    QPixmap pixmap(pixelSize + 2, pixelSize + 2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont f;
    f.setPixelSize(pixelSize);
    painter.setFont(f);
    painter.setPen(color);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, text);
    painter.end();
    return QIcon(pixmap);
}

QLabel* glyph(const QString& text, int pixelSize, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont f = label->font();
    f.setPixelSize(pixelSize);
    label->setFont(f);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    return label;
}

void makeBordered(QPushButton* button)
{
    button->setMinimumHeight(28);
}

void makeProminent(QPushButton* button)
{
    button->setMinimumHeight(28);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background: #F08A24; color: white; border: none; border-radius: 6px; padding: 4px 12px; }"
        "QPushButton:disabled { background: #F5C08A; color: #FFF6EC; }"
        "QPushButton:pressed { background: #D8761A; }"));
}

QHBoxLayout* editPreviewSegments(QWidget* parent, QPushButton*& edit, QPushButton*& preview)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    edit = new QPushButton(QStringLiteral("Edit"), parent);
    preview = new QPushButton(QStringLiteral("Preview"), parent);
    edit->setObjectName(QStringLiteral("editSegment"));
    preview->setObjectName(QStringLiteral("previewSegment"));
    auto* group = new QButtonGroup(parent);
    for (QPushButton* b : {edit, preview}) {
        b->setCheckable(true);
        b->setFocusPolicy(Qt::TabFocus);
        group->addButton(b);
        row->addWidget(b, 1);
    }
    const QString common = QStringLiteral(
        "QPushButton { border: 1px solid palette(mid); padding: 3px; background: palette(button); %1 }"
        "QPushButton:checked { background: palette(base); font-weight: bold; }");
    edit->setStyleSheet(common.arg(QStringLiteral(
        "border-right: none; border-top-left-radius: 6px; border-bottom-left-radius: 6px;")));
    preview->setStyleSheet(common.arg(QStringLiteral(
        "border-top-right-radius: 6px; border-bottom-right-radius: 6px;")));
    edit->setChecked(true);
    return row;
}

void tint(QWidget* widget, const QColor& color)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    p.setColor(QPalette::ButtonText, color);
    widget->setPalette(p);
}

BusyButton::BusyButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent), label_(text), indicator_(new QProgressBar(this))
{
    indicator_->setRange(0, 0);
    indicator_->setTextVisible(false);
    indicator_->setFixedSize(36, 6);
    indicator_->hide();
}

void BusyButton::setBusy(bool busy)
{
    busy_ = busy;
    setText(busy ? QString() : label_);
    indicator_->setVisible(busy);
}

void BusyButton::resizeEvent(QResizeEvent* event)
{
    QPushButton::resizeEvent(event);
    indicator_->move((width() - indicator_->width()) / 2, (height() - indicator_->height()) / 2);
}

} // namespace JournalStyle
