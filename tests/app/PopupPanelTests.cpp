// The popup panel: the window it makes (tool, on top, fixed size, close
// control), where it sits for every kind of content, that one controller never
// shows two panels, and the settings form with its minutes/seconds conversion.
#include "app/PopupPanel.h"
#include "app/PopupWindowController.h"
#include "app/SettingsView.h"
#include "TestSupport.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>

#include <gtest/gtest.h>

namespace {

SettingsView* settingsOf(PopupWindowController& c) { return qobject_cast<SettingsView*>(c.panel()->content()); }

} // namespace

TEST(PanelPlacement, CornerIsTwentyInAndTwentyUpFromTheUsableAreaOrCentredWithoutAPrimaryScreen)
{
    // {primary screen's usable area, the desktop, frame size, top-left corner (none: where the window manager puts it)}
    const std::tuple<std::optional<QRect>, QRect, QSize, std::optional<QPoint>> rows[] = {
        {QRect(0, 0, 1280, 800), {}, {420, 340}, QPoint(20, 440)},
        {QRect(0, 0, 1280, 768), {}, {420, 372}, QPoint(20, 376)},   // a 32 px title bar lifts the whole frame
        {QRect(64, 24, 1216, 744), {}, {420, 520}, QPoint(84, 228)}, // a panel on the left and a bar at the top
        {std::nullopt, {0, 0, 2560, 1440}, {420, 340}, QPoint(1070, 550)},
        {std::nullopt, {-1280, 0, 2560, 800}, {420, 372}, QPoint(-210, 214)},
        {std::nullopt, {}, {420, 340}, std::nullopt},
    };
    for (const auto& [available, desktop, frame, corner] : rows)
        EXPECT_EQ(PopupPanel::positionFor(available, desktop, frame), corner);
}

// No way to lose it: a minimised panel comes back, and a drag on its
// background moves it for good, also right after it appeared.
TEST(Panel, AMinimisedPanelComesBackAndADragOnTheBackgroundMovesIt)
{
    auto controller = PopupWindowController::create();
    controller->showSettings(300, 300, nullptr);
    PopupPanel* panel = controller->panel();
    panel->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(waitUntil([&] { return !panel->isMinimized(); }));
    EXPECT_TRUE(panel->isVisible());
    const QPoint from = panel->frameGeometry().topLeft();
    QTest::mousePress(panel->content(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(panel->content(), QPoint(110, 60));
    QTest::mouseRelease(panel->content(), Qt::LeftButton, {}, QPoint(110, 60));
    drainEvents();
    EXPECT_EQ(panel->frameGeometry().topLeft(), from + QPoint(100, 50));
}

TEST(Panel, EveryContentKindAtItsFixedSizeInTheCornerAsAToolWindowOnTop)
{
    LogCapture logs;
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const std::tuple<const char*, std::function<void(PopupWindowController&)>, QSize> rows[] = {
        {"SettingsView", [](PopupWindowController& c) { c.showSettings(300, 300, nullptr); }, {420, 340}},
        {"LoginView", [](PopupWindowController& c) { c.showLogin(nullptr); }, {420, 340}},
        {"QuickNoteView", [](PopupWindowController& c) { c.showQuickNote(nullptr); }, {420, 480}},
        {"JournalListView", [](PopupWindowController& c) { c.showJournalList(nullptr); }, {420, 520}},
    };
    for (const auto& [viewClass, open, size] : rows) {
        SCOPED_TRACE(viewClass);
        auto controller = PopupWindowController::create();
        open(*controller);
        PopupPanel* panel = controller->panel();
        ASSERT_NE(panel, nullptr);
        EXPECT_TRUE(panel->isVisible());
        EXPECT_STREQ(panel->content()->metaObject()->className(), viewClass);
        EXPECT_EQ(std::make_tuple(panel->size(), panel->minimumSize(), panel->maximumSize()), std::make_tuple(size, size, size))
            << "must not be resizable";
        // A tool window (no taskbar entry) on top with a close control and no minimize or maximize one.
        const auto flags = Qt::WindowType_Mask | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint;
        EXPECT_EQ(panel->windowFlags() & flags, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
        const QRect frame = panel->frameGeometry();
        EXPECT_EQ(std::make_tuple(frame.left(), frame.bottom(), available.contains(frame)),
                  std::make_tuple(available.left() + 20, available.bottom() - 20, true)) << "20 px in, 20 px up";
        const QStringList lines = logs.messages();
        EXPECT_EQ(lines.mid(lines.size() - 2),
                  QStringList({"presentPanel called", QStringLiteral("panel shown at (%1, %2, %3, %4)")
                                                          .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())}));
        controller->dismissPanel();
        drainEvents();
    }
}

TEST(Panel, OneControllerShowsOnePanelAndTakesItAlongWhenReleased)
{
    auto controller = PopupWindowController::create();
    controller->showSettings(300, 300, nullptr);
    QPointer<PopupPanel> first = controller->panel();
    ASSERT_TRUE(first && first->isVisible());
    controller->showLogin(nullptr);
    EXPECT_TRUE(!first || !first->isVisible());
    drainEvents();
    EXPECT_TRUE(first.isNull()) << "the first panel is gone, not just hidden";
    QPointer<PopupPanel> second = controller->panel();
    ASSERT_TRUE(second && second->isVisible());

    controller->dismissPanel();
    EXPECT_EQ(controller->panel(), nullptr);
    drainEvents();
    EXPECT_TRUE(second.isNull());
    controller->dismissPanel(); // nothing shown: a no-op

    controller->showQuickNote(nullptr);
    QPointer<PopupPanel> third = controller->panel();
    controller.reset();
    drainEvents();
    EXPECT_TRUE(third.isNull()) << "a released controller closes its panel";
}

TEST(SettingsForm, SaveKeepsTheMaximumFiveAboveTheMinimumSlidersUpdateTheirLabelsAndReturnSaves)
{
    // {minimum, maximum shown, minimum and maximum saved}
    const std::array<int, 4> rows[] = {
        {5, 5, 5, 10},    {60, 10, 60, 65}, {1, 120, 1, 120}, {10, 14, 10, 15},  {10, 15, 10, 15},
        {10, 16, 10, 16}, {1, 1, 1, 6},     {60, 120, 60, 120},
        {0, 200, 0, 200}, // a start value outside the sliders' range is kept until moved
    };
    for (const auto& [min, max, savedMin, savedMax] : rows) {
        std::optional<std::pair<int, int>> got;
        SettingsView view(min, max, [&](int a, int b) { got = {a, b}; }, [] {});
        view.saveButton()->click();
        EXPECT_EQ(got, std::make_pair(savedMin, savedMax)) << min << "/" << max;
        EXPECT_EQ(view.maxMinutes(), max) << "the view keeps its own maximum";
    }
    std::optional<std::pair<int, int>> got;
    auto controller = PopupWindowController::create(); // Return only reaches a view in a window
    auto* view = new SettingsView(0, 5, [&](int a, int b) { got = {a, b}; }, [] {});
    controller->presentPanel(view, {420, 340});
    EXPECT_EQ(view->minLabel()->text(), QStringLiteral("Minimum interval: 0 min"));
    view->minSlider()->setValue(12);
    view->maxSlider()->setValue(100);
    EXPECT_EQ(QStringList({view->minLabel()->text(), view->maxLabel()->text()}),
              QStringList({"Minimum interval: 12 min", "Maximum interval: 100 min"}));
    view->activateWindow();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(got, std::make_pair(12, 100));
}

// Only a save reports, in seconds, before its panel closes; the panel goes
// with the controller that owns it and with nothing else.
TEST(SettingsPanel, ShowsWholeMinutesAndEachWayOutReportsOnlyASaveAndClosesOnlyItsOwnPanel)
{
    // {seconds, minutes shown}
    const std::tuple<double, double, int, int> shown[] = {{300, 300, 5, 5}, {90, 3599, 1, 59}, {59, 7200, 0, 120}, {600, 1800, 10, 30}};
    for (const auto& [minSeconds, maxSeconds, minMinutes, maxMinutes] : shown) {
        auto controller = PopupWindowController::create();
        controller->showSettings(minSeconds, maxSeconds, nullptr);
        ASSERT_NE(settingsOf(*controller), nullptr);
        EXPECT_EQ(std::make_pair(settingsOf(*controller)->minMinutes(), settingsOf(*controller)->maxMinutes()),
                  std::make_pair(minMinutes, maxMinutes)) << minSeconds << "/" << maxSeconds;
    }
    using Heard = std::optional<std::pair<double, double>>;
    using Leave = std::function<void(std::shared_ptr<PopupWindowController>&, SettingsView*)>;
    // {how the learner leaves, what the caller hears, whether the (hidden) panel stays}
    const std::tuple<const char*, Leave, Heard, bool> rows[] = {
        {"save", [](auto&, SettingsView* v) { v->minSlider()->setValue(10); v->maxSlider()->setValue(30); v->saveButton()->click(); },
         std::pair(600.0, 1800.0), false},
        {"cancel", [](auto&, SettingsView* v) { v->cancelButton()->click(); }, std::nullopt, false},
        {"the window's own close only hides it", [](auto& c, SettingsView*) { c->panel()->close(); }, std::nullopt, true},
        // Until the event loop deletes the panel of a released controller its
        // view can still be clicked, and the callback must not touch the controller.
        {"save after the controller is released", [](auto& c, SettingsView* v) { c.reset(); v->save(); }, std::pair(300.0, 600.0), false},
    };
    for (const auto& [what, leave, heard, kept] : rows) {
        SCOPED_TRACE(what);
        auto controller = PopupWindowController::create();
        Heard got;
        bool panelOpenDuringSave = false;
        controller->showSettings(300, 300, [&](double a, double b) { got = {a, b}; panelOpenDuringSave = controller && controller->panel(); });
        QPointer<PopupPanel> panel = controller->panel();
        leave(controller, settingsOf(*controller));
        EXPECT_EQ(got, heard);
        EXPECT_EQ(panelOpenDuringSave, heard && controller) << "the caller hears first, then the panel closes";
        EXPECT_TRUE(!controller || bool(controller->panel()) == kept);
        drainEvents();
        EXPECT_EQ(bool(panel), kept);
        EXPECT_TRUE(!panel || !panel->isVisible());
    }
}
