#pragma once
// Widgets several views are built from.
#include <QColor>
#include <QLayout>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

class QHBoxLayout;
class QTimer;

// Paints a filled, optionally outlined rounded rectangle behind its children.
class RoundedPanel : public QWidget {
    Q_OBJECT
public:
    explicit RoundedPanel(qreal radius, QWidget* parent = nullptr);
    void setFill(const QColor& fill);
    void setBorder(const QColor& colour, qreal width);
    QColor fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal radius_;
    QColor fill_;
    QColor border_;
    qreal borderWidth_ = 0;
};

// A small turning arc: work is under way.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* timer_;
    int angle_ = 0;
};

// A push button that shows a spinner in place of its label while busy.
class BusyButton : public QPushButton {
    Q_OBJECT
public:
    explicit BusyButton(const QString& text, QWidget* parent = nullptr);
    void setBusy(bool busy);
    bool isBusy() const { return busy_; }
    QString label() const { return label_; }
    // The label shown when not busy (the button's text follows it).
    void setLabel(const QString& text);
    Spinner* spinner() const { return spinner_; }

private:
    QString label_;
    Spinner* spinner_;
    bool busy_ = false;
};

// A horizontal slider that shows when it has the keyboard: Fusion draws no
// focus on sliders at all.
class FocusRingSlider : public QSlider {
public:
    explicit FocusRingSlider(QWidget* parent = nullptr) : QSlider(Qt::Horizontal, parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The two-segment "Edit" / "Preview" control of the note editors.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    SegmentedControl(const QString& first, const QString& second, QWidget* parent = nullptr);
    QPushButton* first() const { return first_; }
    QPushButton* second() const { return second_; }
    // Which segment is selected (false: the first).
    bool secondSelected() const;
    void selectSecond(bool second);

signals:
    // The learner picked a segment.
    void picked(bool second);

private:
    QPushButton* first_;
    QPushButton* second_;
};

// A row of buttons that wraps onto further lines when their labels do not
// fit the width (longer languages), instead of squeezing and cutting them.
// Buttons with an expanding horizontal size policy share the room left on
// their line.
class ButtonRowLayout : public QLayout {
public:
    explicit ButtonRowLayout(int spacing);
    ~ButtonRowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(items_.size()); }
    QLayoutItem* itemAt(int index) const override { return items_.value(index); }
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;

private:
    int arrange(const QRect& rect, bool place) const;

    QList<QLayoutItem*> items_;
};
