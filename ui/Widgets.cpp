#include "ui/Widgets.h"

#include "ui/Theme.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>

#include <algorithm>

RoundedPanel::RoundedPanel(qreal radius, QWidget* parent) : QWidget(parent), radius_(radius) {}

void RoundedPanel::setFill(const QColor& fill)
{
    fill_ = fill;
    update();
}

void RoundedPanel::setBorder(const QColor& colour, qreal width)
{
    border_ = colour;
    borderWidth_ = width;
    update();
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal inset = borderWidth_ / 2;
    const QRectF shape = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    p.setPen(borderWidth_ > 0 ? QPen(border_, borderWidth_) : QPen(Qt::NoPen));
    p.setBrush(fill_);
    p.drawRoundedRect(shape, radius_, radius_);
}

Spinner::Spinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this))
{
    setFixedSize(16, 16);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    timer_->setInterval(40);
    connect(timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void Spinner::showEvent(QShowEvent*) { timer_->start(); }
void Spinner::hideEvent(QHideEvent*) { timer_->stop(); }

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn in the text colour of whatever button holds it.
    const QWidget* host = parentWidget() ? parentWidget() : this;
    p.setPen(QPen(host->palette().color(QPalette::ButtonText), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(rect()).adjusted(2, 2, -2, -2), -angle_ * 16, 270 * 16);
}

BusyButton::BusyButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent), label_(text), spinner_(new Spinner(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(spinner_, 0, Qt::AlignCenter);
    spinner_->hide();
}

void BusyButton::setBusy(bool busy)
{
    busy_ = busy;
    setText(busy ? QString() : label_);
    spinner_->setVisible(busy);
}

void BusyButton::setLabel(const QString& text)
{
    label_ = text;
    if (!busy_)
        setText(text);
}

SegmentedControl::SegmentedControl(const QString& first, const QString& second, QWidget* parent)
    : QWidget(parent), first_(new QPushButton(first, this)), second_(new QPushButton(second, this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto* group = new QButtonGroup(this);
    for (QPushButton* b : {first_, second_}) {
        b->setCheckable(true);
        b->setFocusPolicy(Qt::TabFocus);
        group->addButton(b);
        row->addWidget(b, 1);
    }
    const QString common = QStringLiteral(
        "QPushButton { border: 1px solid palette(mid); padding: 3px; background: palette(button); %1 }"
        "QPushButton:checked { background: palette(base); font-weight: bold; }");
    first_->setStyleSheet(common.arg(QStringLiteral(
        "border-right: none; border-top-left-radius: 6px; border-bottom-left-radius: 6px;")));
    second_->setStyleSheet(common.arg(QStringLiteral(
        "border-top-right-radius: 6px; border-bottom-right-radius: 6px;")));
    first_->setChecked(true);
    connect(first_, &QPushButton::clicked, this, [this] { emit picked(false); });
    connect(second_, &QPushButton::clicked, this, [this] { emit picked(true); });
}

bool SegmentedControl::secondSelected() const
{
    return second_->isChecked();
}

void SegmentedControl::selectSecond(bool second)
{
    (second ? second_ : first_)->setChecked(true);
}

ButtonRowLayout::ButtonRowLayout(int spacing)
{
    setSpacing(spacing);
    setContentsMargins(0, 0, 0, 0);
}

ButtonRowLayout::~ButtonRowLayout()
{
    qDeleteAll(items_);
}

void ButtonRowLayout::addItem(QLayoutItem* item)
{
    items_.append(item);
}

QLayoutItem* ButtonRowLayout::takeAt(int index)
{
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

QSize ButtonRowLayout::sizeHint() const
{
    int width = 0, height = 0;
    for (QLayoutItem* item : items_) {
        if (item->isEmpty())
            continue;
        width += (width ? spacing() : 0) + item->sizeHint().width();
        height = std::max(height, item->sizeHint().height());
    }
    return {width, height};
}

QSize ButtonRowLayout::minimumSize() const
{
    QSize widest;
    for (QLayoutItem* item : items_)
        if (!item->isEmpty())
            widest = widest.expandedTo(item->sizeHint());
    return widest;
}

int ButtonRowLayout::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

void ButtonRowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int ButtonRowLayout::arrange(const QRect& rect, bool place) const
{
    QList<QLayoutItem*> shown;
    for (QLayoutItem* item : items_)
        if (!item->isEmpty())
            shown.append(item);
    int y = rect.y();
    for (qsizetype first = 0; first < shown.size();) {
        // As many buttons as fit at their full label width, at least one.
        qsizetype end = first + 1;
        int used = shown[first]->sizeHint().width();
        while (end < shown.size() && used + spacing() + shown[end]->sizeHint().width() <= rect.width())
            used += spacing() + shown[end++]->sizeHint().width();
        const auto grows = [](QLayoutItem* item) { return bool(item->expandingDirections() & Qt::Horizontal); };
        int growing = 0, growingWidth = 0, widestGrowing = 0, height = 0;
        for (qsizetype i = first; i < end; ++i) {
            if (grows(shown[i])) {
                ++growing;
                growingWidth += shown[i]->sizeHint().width();
                widestGrowing = std::max(widestGrowing, shown[i]->sizeHint().width());
            }
            height = std::max(height, shown[i]->sizeHint().height());
        }
        // Expanding buttons share the room equally when that leaves each its
        // label; without any the line is centred.
        const int room = std::max(0, rect.width() - used);
        const int equal = growing ? (growingWidth + room) / growing : 0;
        int x = rect.x() + (growing ? 0 : room / 2);
        for (qsizetype i = first; i < end && place; ++i) {
            int w = shown[i]->sizeHint().width();
            if (grows(shown[i]))
                w = equal >= widestGrowing ? equal : w + room / growing;
            shown[i]->setGeometry(QRect(x, y, std::min(w, rect.width()), height));
            x += w + spacing();
        }
        y += height + (end < shown.size() ? spacing() : 0);
        first = end;
    }
    return y - rect.y();
}

void FocusRingSlider::paintEvent(QPaintEvent* event)
{
    QSlider::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Theme::accent(), 2));
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
}
