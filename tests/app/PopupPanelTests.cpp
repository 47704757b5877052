// The popup panel: the window it makes (tool, on top, fixed size, close
// control), where it sits for every kind of content, that one controller never
// shows two panels, and the settings form with its minutes/seconds conversion.
#include "PopupPanel.h"
#include "PopupWindowController.h"
#include "SettingsView.h"
#include "TestSupport.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>

#include <gtest/gtest.h>

namespace {

QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

SettingsView* settingsOf(PopupWindowController& c) { return qobject_cast<SettingsView*>(c.panel()->content()); }

} // namespace

TEST(PanelPlacement, CornerIsTwentyInAndTwentyUpFromTheUsableArea)
{
    struct Row {
        QRect avail;
        QSize frame;
        QPoint expected;
    } const rows[] = {
        {{0, 0, 1280, 800}, {420, 340}, {20, 440}},
        {{0, 0, 1280, 768}, {420, 372}, {20, 376}},   // a 32 px title bar lifts the whole frame
        {{64, 24, 1216, 744}, {420, 520}, {84, 228}}, // a panel on the left and a bar at the top
    };
    for (const Row& r : rows)
        EXPECT_EQ(PopupPanel::cornerFor(r.avail, r.frame), r.expected);
}

TEST(Panel, EveryContentKindAtItsSizeInTheCorner)
{
    LogCapture logs;
    struct Row {
        const char* viewClass;
        std::function<void(PopupWindowController&)> open;
        QSize size;
    } const rows[] = {
        {"SettingsView", [](PopupWindowController& c) { c.showSettings(300, 300, nullptr); }, {420, 340}},
        {"LoginView", [](PopupWindowController& c) { c.showLogin(nullptr); }, {420, 340}},
        {"QuickNoteView", [](PopupWindowController& c) { c.showQuickNote(nullptr); }, {420, 480}},
        {"JournalListView", [](PopupWindowController& c) { c.showJournalList(nullptr); }, {420, 520}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.viewClass);
        auto controller = PopupWindowController::create();
        r.open(*controller);
        PopupPanel* panel = controller->panel();
        ASSERT_NE(panel, nullptr);
        EXPECT_TRUE(panel->isVisible());
        EXPECT_STREQ(panel->content()->metaObject()->className(), r.viewClass);
        EXPECT_EQ(panel->size(), r.size);
        EXPECT_EQ(panel->minimumSize(), r.size) << "must not be resizable";
        EXPECT_EQ(panel->maximumSize(), r.size) << "must not be resizable";
        const Qt::WindowFlags f = panel->windowFlags();
        EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Tool) << "no taskbar entry";
        EXPECT_TRUE(f & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
        const QRect frame = panel->frameGeometry();
        EXPECT_EQ(frame.left(), available().left() + 20);
        EXPECT_EQ(frame.bottom() + 1, available().bottom() + 1 - 20);
        EXPECT_TRUE(available().contains(frame));
        const QStringList lines = logs.messages();
        ASSERT_GE(lines.size(), 2);
        EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("presentPanel called"));
        EXPECT_EQ(lines.last(), QStringLiteral("panel shown at (%1, %2, %3, %4)")
                                    .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()));
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
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->isVisible());

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

TEST(Panel, ItsOwnCloseButtonOnlyHidesIt)
{
    int saved = 0;
    auto controller = PopupWindowController::create();
    controller->showSettings(300, 300, [&](double, double) { ++saved; });
    controller->panel()->close();
    drainEvents();
    EXPECT_EQ(saved, 0);
    ASSERT_NE(controller->panel(), nullptr) << "the field keeps the closed panel";
    EXPECT_FALSE(controller->panel()->isVisible());
}

TEST(SettingsForm, SaveKeepsTheMaximumFiveAboveTheMinimum)
{
    struct Row {
        int min, max, savedMin, savedMax;
    } const rows[] = {
        {5, 5, 5, 10},   {60, 10, 60, 65},   {1, 120, 1, 120}, {10, 14, 10, 15}, {10, 15, 10, 15},
        {10, 16, 10, 16}, {1, 1, 1, 6},      {60, 120, 60, 120},
        {0, 200, 0, 200}, // a start value outside the sliders' range is kept until moved
    };
    for (const Row& r : rows) {
        std::optional<std::pair<int, int>> got;
        SettingsView view(r.min, r.max, [&](int a, int b) { got = {a, b}; }, [] {});
        view.saveButton()->click();
        EXPECT_EQ(got, std::make_pair(r.savedMin, r.savedMax)) << r.min << "/" << r.max;
        EXPECT_EQ(view.maxMinutes(), r.max) << "the view keeps its own maximum";
    }
}

TEST(SettingsForm, SlidersUpdateLabelsAtOnceAndReturnSaves)
{
    std::optional<std::pair<int, int>> got;
    int saves = 0, cancels = 0;
    auto controller = PopupWindowController::create();
    auto* view = new SettingsView(0, 5, [&](int a, int b) { got = {a, b}; ++saves; }, [&] { ++cancels; });
    controller->presentPanel(view, {420, 340});
    EXPECT_EQ(view->minLabel()->text(), QStringLiteral("Minimum interval: 0 min"));
    EXPECT_EQ(std::make_tuple(view->minSlider()->minimum(), view->minSlider()->maximum(), view->maxSlider()->minimum(),
                              view->maxSlider()->maximum()), std::make_tuple(1, 60, 1, 120));
    view->minSlider()->setValue(12);
    EXPECT_EQ(view->minLabel()->text(), QStringLiteral("Minimum interval: 12 min"));
    view->maxSlider()->setValue(100);
    EXPECT_EQ(view->maxLabel()->text(), QStringLiteral("Maximum interval: 100 min"));
    view->activateWindow();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(got, std::make_pair(12, 100));
    view->cancelButton()->click();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(saves, 1);
}

TEST(SettingsPanel, ConvertsSecondsToMinutesAndBack)
{
    struct Row {
        double minSeconds, maxSeconds;
        int minMinutes, maxMinutes;
    } const rows[] = {{300, 300, 5, 5}, {90, 3599, 1, 59}, {59, 7200, 0, 120}, {600, 1800, 10, 30}};
    for (const Row& r : rows) {
        auto controller = PopupWindowController::create();
        controller->showSettings(r.minSeconds, r.maxSeconds, nullptr);
        ASSERT_NE(settingsOf(*controller), nullptr);
        EXPECT_EQ(settingsOf(*controller)->minMinutes(), r.minMinutes);
        EXPECT_EQ(settingsOf(*controller)->maxMinutes(), r.maxMinutes);
    }
    auto controller = PopupWindowController::create();
    std::optional<std::pair<double, double>> got;
    bool panelOpenDuringSave = false;
    controller->showSettings(300, 300, [&](double a, double b) {
        got = {a, b};
        panelOpenDuringSave = controller->panel() != nullptr;
    });
    settingsOf(*controller)->minSlider()->setValue(10);
    settingsOf(*controller)->maxSlider()->setValue(30);
    settingsOf(*controller)->saveButton()->click();
    ASSERT_TRUE(got.has_value());
    EXPECT_DOUBLE_EQ(got->first, 600);
    EXPECT_DOUBLE_EQ(got->second, 1800);
    EXPECT_TRUE(panelOpenDuringSave) << "the caller hears first, then the panel closes";
    EXPECT_EQ(controller->panel(), nullptr);
}

TEST(SettingsPanel, CancelClosesAndReportsNothing)
{
    auto controller = PopupWindowController::create();
    bool saved = false;
    controller->showSettings(300, 300, [&](double, double) { saved = true; });
    settingsOf(*controller)->cancelButton()->click();
    EXPECT_FALSE(saved);
    EXPECT_EQ(controller->panel(), nullptr);
}

TEST(SettingsPanel, AViewOutlivingItsControllerStillReportsButClosesNothing)
{
    std::optional<std::pair<double, double>> got;
    QPointer<SettingsView> view;
    QPointer<PopupPanel> panel;
    {
        auto controller = PopupWindowController::create();
        controller->showSettings(300, 300, [&](double a, double b) { got = {a, b}; });
        view = settingsOf(*controller);
        panel = controller->panel();
    }
    // The controller is released; until the event loop deletes its panel the
    // view can still be clicked, and the callback must not touch the controller.
    ASSERT_TRUE(view);
    view->save();
    EXPECT_TRUE(got.has_value());
    drainEvents();
    EXPECT_TRUE(panel.isNull());
}
