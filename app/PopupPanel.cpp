#include "app/PopupPanel.h"

#include "core/Timing.h"

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <utility>

#ifdef TAVLO_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <cstring>
#endif

PopupPanel::PopupPanel(QWidget* content, QSize size)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      content_(content)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    // No title text: the title bar only carries the close control. An empty
    // title would make Qt show the application's name instead.
    setWindowTitle(QStringLiteral(" "));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    content_->setParent(this);
    layout->addWidget(content_);
    setFixedSize(size);
    // Sees what reaches any widget of the panel, shortcuts included.
    qApp->installEventFilter(this);
}

QPoint PopupPanel::cornerFor(const QRect& available, QSize frameSize)
{
    return {available.left() + 20, available.top() + available.height() - 20 - frameSize.height()};
}

std::optional<QPoint> PopupPanel::positionFor(std::optional<QRect> available, const QRect& desktop, QSize frameSize)
{
    if (available)
        return cornerFor(*available, frameSize);
    if (desktop.isEmpty())
        return std::nullopt;
    return desktop.topLeft() + QPoint((desktop.width() - frameSize.width()) / 2, (desktop.height() - frameSize.height()) / 2);
}

void PopupPanel::place()
{
    if (movedByLearner_)
        return;
    QScreen* primary = QGuiApplication::primaryScreen();
    QRect desktop;
    for (QScreen* s : QGuiApplication::screens())
        desktop |= s->geometry();
    const QSize frame = frameGeometry().size();
    placedFrame_ = frame;
    const auto target = positionFor(primary ? std::optional(primary->availableGeometry()) : std::nullopt, desktop, frame);
    if (target && frameGeometry().topLeft() != *target) {
        placing_ = true;
        move(*target);
        placing_ = false;
    }
}

void PopupPanel::placeIfReframed()
{
    // Only a new frame (the window manager's title bar) moves the panel again;
    // a move of the learner's stays.
    if (frameGeometry().size() != placedFrame_)
        place();
}

void PopupPanel::whenPlaced(std::function<void(QRect)> done)
{
    placed_ = std::move(done);
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !isVisible()) {
        reportPlaced();
        return;
    }
    // A frame known early can still stand where the panel asked to be: the
    // window manager moves it after framing (weston's XWayland one does).
    Timing::startOneShot(Timing::framePlaced, this, [this] { reportPlaced(); });
}

void PopupPanel::reportPlaced()
{
    if (auto done = std::exchange(placed_, nullptr))
        done(StickyWindow::frame(this).value_or(frameGeometry()));
}

void PopupPanel::guardInput(double seconds)
{
    guardMs_ = Timing::scaled(seconds) * 1000.0;
    if (isVisible())
        guardFrom_.start();
}

bool PopupPanel::inputGuarded() const
{
    return guardMs_ > 0 && (!guardFrom_.isValid() || double(guardFrom_.nsecsElapsed()) / 1e6 < guardMs_);
}

std::optional<double> PopupPanel::secondsSinceInput() const
{
    if (!lastInput_.isValid())
        return std::nullopt;
    return Timing::unscaled(double(lastInput_.nsecsElapsed()) / 1e9);
}

bool PopupPanel::contains(QObject* o) const
{
    // A shortcut is no widget; its owner is.
    while (o && !o->isWidgetType())
        o = o->parent();
    return o && static_cast<QWidget*>(o)->window() == this;
}

bool PopupPanel::eventFilter(QObject* watched, QEvent* e)
{
    bool counts = false;
    switch (e->type()) {
    case QEvent::KeyPress:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::InputMethod:
        counts = true;
        break;
    case QEvent::KeyRelease:
    case QEvent::MouseButtonRelease:
        break;
    default:
        return false;
    }
    if (!contains(watched))
        return false;
    // A timed card shown without the keyboard takes it at the first click,
    // also where the window manager does not give it on a click.
    if (e->type() == QEvent::MouseButtonPress && !isActiveWindow())
        activateWindow();
    if (inputGuarded())
        return true;
    if (counts)
        lastInput_.start();
    return false;
}

bool PopupPanel::event(QEvent* e)
{
    const bool handled = QWidget::event(e);
    switch (e->type()) {
    case QEvent::Show:
        shownAt_.start();
        if (guardMs_ > 0)
            guardFrom_.start();
        // The window manager adds its frame after mapping; place again once
        // it has, so the title bar does not push the panel off the bottom.
        for (int ms : {0, 50, 200, 500})
            QTimer::singleShot(ms, this, [this] { placeIfReframed(); });
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (!placing_ && isVisible() && shownAt_.isValid() && shownAt_.elapsed() < 1000)
            QTimer::singleShot(0, this, [this] { placeIfReframed(); });
        break;
    case QEvent::ActivationChange:
        // The window manager may hand over the focus a while after mapping.
        if (isActiveWindow() && !activatedOnce_) {
            activatedOnce_ = true;
            if (guardMs_ > 0)
                guardFrom_.start();
        }
        break;
    case QEvent::WindowStateChange:
        // Without a taskbar entry a minimised panel could not be found again.
        if (windowState() & Qt::WindowMinimized)
            QTimer::singleShot(0, this, [this] {
                if (isVisible())
                    setWindowState(windowState() & ~Qt::WindowMinimized);
            });
        break;
    case QEvent::Hide:
        // A minimised window hides spontaneously; it is not closed.
        if (!e->spontaneous())
            emit closed();
        break;
    default:
        break;
    }
    return handled;
}

// Presses that no view took (labels, margins, the background) drag the panel.
void PopupPanel::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(e);
    pressedAt_ = e->globalPosition().toPoint();
    grab_ = pressedAt_ - frameGeometry().topLeft();
    e->accept();
}

void PopupPanel::mouseMoveEvent(QMouseEvent* e)
{
    if (!grab_ || !(e->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(e);
    const QPoint at = e->globalPosition().toPoint();
    if (!movedByLearner_ && (at - pressedAt_).manhattanLength() < QGuiApplication::styleHints()->startDragDistance())
        return;
    if (!movedByLearner_) {
        movedByLearner_ = true;
        // Where the window manager moves windows itself (and on Wayland, where
        // only it can), it takes over the drag.
        if (windowHandle() && windowHandle()->startSystemMove()) {
            grab_.reset();
            return;
        }
    }
    move(at - *grab_);
}

void PopupPanel::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        grab_.reset();
    QWidget::mouseReleaseEvent(e);
}

namespace StickyWindow {

#ifdef TAVLO_HAVE_XCB
namespace {

xcb_connection_t* connection()
{
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t a = reply->atom;
    free(reply);
    return a;
}

xcb_window_t rootOf(xcb_connection_t* c)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    return it.rem ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

void sendToRoot(xcb_connection_t* c, xcb_window_t w, xcb_atom_t type, std::array<uint32_t, 5> data)
{
    xcb_client_message_event_t ev {};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = type;
    for (size_t i = 0; i < data.size(); ++i)
        ev.data.data32[i] = data[i];
    xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
}

} // namespace

void prepare(QWidget* window)
{
    xcb_connection_t* c = connection();
    if (!c)
        return;
    const auto w = static_cast<xcb_window_t>(window->winId());
    const uint32_t all = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1, &all);
    xcb_flush(c);
}

void request(QWidget* window)
{
    xcb_connection_t* c = connection();
    if (!c)
        return;
    const auto w = static_cast<xcb_window_t>(window->winId());
    sendToRoot(c, w, atom(c, "_NET_WM_DESKTOP"), {0xFFFFFFFF, 1, 0, 0, 0});
    // 1 = _NET_WM_STATE_ADD, source 1 = a normal application
    sendToRoot(c, w, atom(c, "_NET_WM_STATE"), {1, atom(c, "_NET_WM_STATE_STICKY"), 0, 1, 0});
    xcb_flush(c);
}

std::optional<QRect> frame(QWidget* window)
{
    xcb_connection_t* c = connection();
    if (!c || !window->isVisible())
        return std::nullopt;
    const xcb_window_t root = rootOf(c);
    auto w = static_cast<xcb_window_t>(window->winId());
    // The frame is the window's ancestor just below the root.
    for (int depth = 0; depth < 16; ++depth) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (!tree)
            return std::nullopt;
        const xcb_window_t parent = tree->parent;
        free(tree);
        if (parent == root || parent == XCB_WINDOW_NONE)
            break;
        w = parent;
    }
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
    if (!g)
        return std::nullopt;
    const QRect r(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    free(g);
    return r;
}
#else
void prepare(QWidget*) {}
void request(QWidget*) {}
std::optional<QRect> frame(QWidget*) { return std::nullopt; }
#endif

} // namespace StickyWindow
