#pragma once
#include <QElapsedTimer>
#include <QSize>
#include <QWidget>

#include <functional>
#include <optional>

class QScreen;

// The floating window every view is shown in: a tool window (no taskbar
// entry) that stays on top, keeps its close control (and no other), cannot be
// resized, and sits 20 px in from the left and 20 px above the bottom of the
// primary screen's usable area, frame included. The learner can drag it by
// its background; a minimised panel comes back at once.
class PopupPanel : public QWidget {
    Q_OBJECT
public:
    PopupPanel(QWidget* content, QSize size);

    QWidget* content() const { return content_; }
    // Where the frame's top-left corner belongs, for a frame of the given size.
    static QPoint cornerFor(const QRect& available, QSize frameSize);
    // The corner of the primary screen's usable area or, without a primary
    // screen, the centre of the desktop; nothing when neither is known.
    static std::optional<QPoint> positionFor(std::optional<QRect> available, const QRect& desktop, QSize frameSize);
    // Puts the frame where positionFor says, unless the learner moved it.
    void place();
    // Runs `done` once with the frame where it ended up: at once where the
    // frame is known on showing, after the window manager framed the window
    // on X11 (or after half a second if it never does).
    void whenPlaced(std::function<void(QRect)> done);

    // Drops keys, clicks and shortcuts meant for the panel for `seconds`
    // (scaled) after it appears and again after it first becomes active: a
    // learner typing elsewhere at that moment must not act in it.
    void guardInput(double seconds);
    bool inputGuarded() const;
    // Seconds (unscaled, as in core/Timing.h) since the learner last pressed
    // a key or a button in the panel or scrolled it; nothing if never.
    std::optional<double> secondsSinceInput() const;

signals:
    // Closed or hidden, by its owner or by the window's close control.
    void closed();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    bool contains(QObject* o) const;
    void placeIfReframed();
    void reportPlaced();

    QWidget* content_;
    QElapsedTimer shownAt_;
    bool placing_ = false;
    QSize placedFrame_;
    bool movedByLearner_ = false;
    std::optional<QPoint> grab_; // where in the frame a background drag holds it
    QPoint pressedAt_;
    std::function<void(QRect)> placed_;
    double guardMs_ = 0;
    QElapsedTimer guardFrom_;
    bool activatedOnce_ = false;
    QElapsedTimer lastInput_;
};

// Asks an EWMH window manager to show the window on every desktop.
// Does nothing on other platforms or window managers.
namespace StickyWindow {
void prepare(QWidget* window);  // before the window is mapped
void request(QWidget* window);  // after it is mapped
// The frame the window manager gave the mapped window, as the X server has it
// (Qt's frameGeometry() can still hold the position asked for); nullopt
// off X11.
std::optional<QRect> frame(QWidget* window);
} // namespace StickyWindow
