#include "app/SettingsView.h"

#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QSlider* makeSlider(int max, int value, QWidget* parent)
{
    auto* s = new FocusRingSlider(parent);
    s->setRange(1, max);
    s->setSingleStep(1);
    s->setPageStep(1);
    // A start value outside the range is drawn at the nearest end; the state
    // keeps the value itself until the slider is moved.
    const QSignalBlocker block(s);
    s->setValue(std::clamp(value, 1, max));
    return s;
}

QLabel* makeSubheadline(QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setFont(Theme::font(Theme::TextStyle::subheadline));
    return l;
}

} // namespace

SettingsView::SettingsView(int minMinutes, int maxMinutes, std::function<void(int, int)> onSave,
                           std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), minMinutes_(minMinutes), maxMinutes_(maxMinutes), onSave_(std::move(onSave)),
      onCancel_(std::move(onCancel))
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(32, 32, 32, 32);
    outer->setSpacing(20);

    auto* title = new QLabel(tr("Popup Settings"), this);
    title->setFont(Theme::font(Theme::TextStyle::title2));
    title->setAlignment(Qt::AlignHCenter);
    outer->addWidget(title);

    auto* groups = new QVBoxLayout;
    groups->setSpacing(16);
    auto addGroup = [&](QLabel* label, QSlider* slider) {
        auto* g = new QVBoxLayout;
        g->setSpacing(4);
        g->addWidget(label, 0, Qt::AlignLeft);
        g->addWidget(slider);
        groups->addLayout(g);
    };
    minLabel_ = makeSubheadline(this);
    minSlider_ = makeSlider(60, minMinutes_, this);
    minSlider_->setAccessibleName(tr("Minimum interval"));
    maxLabel_ = makeSubheadline(this);
    maxSlider_ = makeSlider(120, maxMinutes_, this);
    maxSlider_->setAccessibleName(tr("Maximum interval"));
    addGroup(minLabel_, minSlider_);
    addGroup(maxLabel_, maxSlider_);
    outer->addLayout(groups);
    outer->addStretch(1);

    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addStretch(1);
    cancelButton_ = new QPushButton(tr("Cancel"), this);
    saveButton_ = new QPushButton(tr("Save"), this);
    saveButton_->setDefault(true);
    saveButton_->setAutoDefault(true);
    Theme::makeProminent(saveButton_);
    Theme::makeBordered(cancelButton_);
    row->addWidget(cancelButton_);
    row->addWidget(saveButton_);
    row->addStretch(1);
    outer->addLayout(row);

    connect(minSlider_, &QSlider::valueChanged, this, [this](int v) {
        minMinutes_ = v;
        updateLabels();
    });
    connect(maxSlider_, &QSlider::valueChanged, this, [this](int v) {
        maxMinutes_ = v;
        updateLabels();
    });
    connect(saveButton_, &QPushButton::clicked, this, &SettingsView::save);
    connect(cancelButton_, &QPushButton::clicked, this, &SettingsView::cancel);
    updateLabels();
}

void SettingsView::keyPressEvent(QKeyEvent* event)
{
    // Outside a dialog a default button does not react to Return by itself;
    // Return that no child took (the sliders ignore it) means Save.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        save();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        cancel();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsView::updateLabels()
{
    minLabel_->setText(tr("Minimum interval: %n min", nullptr, minMinutes_));
    maxLabel_->setText(tr("Maximum interval: %n min", nullptr, maxMinutes_));
}

void SettingsView::save()
{
    if (onSave_)
        onSave_(minMinutes_, std::max(minMinutes_ + 5, maxMinutes_));
}

void SettingsView::cancel()
{
    if (onCancel_)
        onCancel_();
}
