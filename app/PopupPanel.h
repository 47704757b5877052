#pragma once
#include <QElapsedTimer>
#include <QSize>
#include <QWidget>

#include <functional>

class QScreen;

// The floating window every view is shown in: a tool window (no taskbar
// entry) that stays on top, keeps its close control, cannot be resized, and
// sits 20 px in from the left and 20 px above the bottom of the primary
// screen's usable area, frame included.
class PopupPanel : public QWidget {
    Q_OBJECT
public:
    PopupPanel(QWidget* content, QSize size);

    QWidget* content() const { return content_; }
    // Where the frame's top-left corner belongs, for a frame of the given size.
    static QPoint cornerFor(const QRect& available, QSize frameSize);
    // Puts the frame at the corner (centred without a screen).
    void place();
    // Runs `done` once with the frame where it ended up: at once where the
    // frame is known on showing, after the window manager framed the window
    // on X11 (or after half a second if it never does).
    void whenPlaced(std::function<void(QRect)> done);

protected:
    bool event(QEvent* e) override;

private:
    QWidget* content_;
    QElapsedTimer shownAt_;
    bool placing_ = false;
    std::function<void(QRect)> placed_;
    void reportPlaced();
};

// Asks an EWMH window manager to show the window on every desktop.
// Does nothing on other platforms or window managers.
namespace StickyWindow {
void prepare(QWidget* window);  // before the window is mapped
void request(QWidget* window);  // after it is mapped
} // namespace StickyWindow
