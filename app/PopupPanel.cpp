#include "app/PopupPanel.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

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
    // No title text: the title bar only carries the close control.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    content_->setParent(this);
    layout->addWidget(content_);
    setFixedSize(size);
}

QPoint PopupPanel::cornerFor(const QRect& available, QSize frameSize)
{
    return {available.left() + 20, available.top() + available.height() - 20 - frameSize.height()};
}

void PopupPanel::place()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QSize frame = frameGeometry().size();
    if (!screen) {
        // No screen to anchor to: centre on whatever geometry we can find.
        move(QPoint(0, 0));
        return;
    }
    const QPoint target = cornerFor(screen->availableGeometry(), frame);
    if (frameGeometry().topLeft() != target) {
        placing_ = true;
        move(target);
        placing_ = false;
    }
}

void PopupPanel::whenPlaced(std::function<void(QRect)> done)
{
    placed_ = std::move(done);
    const bool frameKnown = frameGeometry() != geometry();
    if (frameKnown || QGuiApplication::platformName() != QLatin1String("xcb") || !isVisible()) {
        reportPlaced();
        return;
    }
    QTimer::singleShot(500, this, [this] { reportPlaced(); });
}

void PopupPanel::reportPlaced()
{
    if (auto done = std::exchange(placed_, nullptr))
        done(frameGeometry());
}

bool PopupPanel::event(QEvent* e)
{
    const bool handled = QWidget::event(e);
    switch (e->type()) {
    case QEvent::Show:
        shownAt_.start();
        // The window manager adds its frame after mapping; place again once
        // it has, so the title bar does not push the panel off the bottom.
        for (int ms : {0, 50, 200, 500})
            QTimer::singleShot(ms, this, [this] { place(); });
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (!placing_ && isVisible() && shownAt_.isValid() && shownAt_.elapsed() < 1000)
            QTimer::singleShot(0, this, [this] {
                place();
                if (placed_ && frameGeometry() != geometry())
                    reportPlaced();
            });
        break;
    default:
        break;
    }
    return handled;
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
#else
void prepare(QWidget*) {}
void request(QWidget*) {}
#endif

} // namespace StickyWindow
