// The popup panel: the window it makes (tool, on top, fixed size, close
// control), where it sits for every kind of content, that one controller never
// shows two panels, and the settings form with its minutes/seconds conversion.
#include "TestSupport.h"
#include "PopupPanel.h"
#include "PopupWindowController.h"
#include "SettingsView.h"

#include "JournalListView.h"
#include "LoginView.h"
#include "QuickNoteView.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

QString frameText(const QRect& r)
{
    return QStringLiteral("panel shown at (%1, %2, %3, %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

TEST(PanelPlacement, CornerIsTwentyInAndTwentyUpFromTheUsableArea)
{
    struct Row {
        QRect avail;
        QSize frame;
        QPoint expected;
    };
    const Row rows[] = {
        {{0, 0, 1280, 800}, {420, 340}, {20, 440}},
        {{0, 0, 1280, 768}, {420, 372}, {20, 376}},  // a 32 px title bar lifts the whole frame
        {{64, 24, 1216, 744}, {420, 520}, {84, 228}}, // a panel on the left and a bar at the top
    };
    for (const Row& r : rows)
        EXPECT_EQ(PopupPanel::cornerFor(r.avail, r.frame), r.expected);
}

TEST(Panel, EveryContentKindAtItsSizeInTheCorner)
{
    LogCapture logs;
    struct Row {
        const char* kind;
        std::function<void(PopupWindowController&)> open;
        QSize size;
        const char* viewClass;
    };
    const std::vector<Row> rows {
        {"settings", [](PopupWindowController& c) { c.showSettings(300, 300, nullptr); }, {420, 340}, "SettingsView"},
        {"login", [](PopupWindowController& c) { c.showLogin(nullptr); }, {420, 340}, "LoginView"},
        {"quick note", [](PopupWindowController& c) { c.showQuickNote(nullptr); }, {420, 480}, "QuickNoteView"},
        {"journal", [](PopupWindowController& c) { c.showJournalList(nullptr); }, {420, 520}, "JournalListView"},
    };
    for (const Row& r : rows) {
        auto controller = PopupWindowController::create();
        r.open(*controller);
        PopupPanel* panel = controller->panel();
        ASSERT_NE(panel, nullptr) << r.kind;
        EXPECT_TRUE(panel->isVisible()) << r.kind;
        EXPECT_STREQ(panel->content()->metaObject()->className(), r.viewClass);
        EXPECT_EQ(panel->size(), r.size) << r.kind;
        EXPECT_EQ(panel->minimumSize(), r.size) << r.kind << ": must not be resizable";
        EXPECT_EQ(panel->maximumSize(), r.size) << r.kind << ": must not be resizable";
        const Qt::WindowFlags f = panel->windowFlags();
        EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Tool) << r.kind << ": no taskbar entry";
        EXPECT_TRUE(f & Qt::WindowStaysOnTopHint) << r.kind;
        EXPECT_TRUE(f & Qt::WindowCloseButtonHint) << r.kind;
        EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint) << r.kind;
        const QRect frame = panel->frameGeometry();
        EXPECT_EQ(frame.left(), available().left() + 20) << r.kind;
        EXPECT_EQ(frame.bottom() + 1, available().bottom() + 1 - 20) << r.kind;
        EXPECT_TRUE(available().contains(frame)) << r.kind;
        const QStringList lines = logs.messages();
        ASSERT_GE(lines.size(), 2);
        EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("presentPanel called"));
        EXPECT_EQ(lines.last(), frameText(frame)) << r.kind;
        controller->dismissPanel();
        drainEvents();
    }
}

TEST(Panel, LogLineOnTheOffscreenScreen)
{
    if (available() != QRect(0, 0, 800, 600))
        GTEST_SKIP() << "not the default 800 x 600 offscreen screen";
    LogCapture logs;
    auto controller = PopupWindowController::create();
    controller->showSettings(300, 300, nullptr);
    EXPECT_EQ(logs.messages().last(), QStringLiteral("panel shown at (20, 240, 420, 340)"));
}

TEST(Panel, PresentingAgainClosesTheFirstPanel)
{
    auto controller = PopupWindowController::create();
    controller->showSettings(300, 300, nullptr);
    QPointer<PopupPanel> first = controller->panel();
    ASSERT_TRUE(first && first->isVisible());
    controller->showLogin(nullptr);
    EXPECT_TRUE(!first || !first->isVisible());
    drainEvents();
    EXPECT_TRUE(first.isNull()) << "the first panel is gone, not just hidden";
    ASSERT_NE(controller->panel(), nullptr);
    EXPECT_TRUE(controller->panel()->isVisible());
    EXPECT_NE(controller->panel(), first.data());
}

TEST(Panel, DismissClosesAndClears)
{
    auto controller = PopupWindowController::create();
    controller->showQuickNote(nullptr);
    QPointer<PopupPanel> panel = controller->panel();
    controller->dismissPanel();
    EXPECT_EQ(controller->panel(), nullptr);
    drainEvents();
    EXPECT_TRUE(panel.isNull());
    controller->dismissPanel(); // nothing shown: a no-op
}

TEST(Panel, ReleasingTheControllerClosesItsPanel)
{
    QPointer<PopupPanel> panel;
    {
        auto controller = PopupWindowController::create();
        controller->showSettings(300, 300, nullptr);
        panel = controller->panel();
    }
    drainEvents();
    EXPECT_TRUE(panel.isNull());
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

TEST(SettingsForm, SaveCorrectsTheMaximumTable)
{
    struct Row {
        int min, max, savedMin, savedMax;
    };
    const Row rows[] = {
        {5, 5, 5, 10}, {60, 10, 60, 65}, {1, 120, 1, 120}, {10, 14, 10, 15}, {10, 15, 10, 15}, {10, 16, 10, 16},
        {1, 1, 1, 6},  {60, 120, 60, 120},
    };
    for (const Row& r : rows) {
        std::optional<std::pair<int, int>> got;
        SettingsView view(r.min, r.max, [&](int a, int b) { got = {a, b}; }, [] {});
        view.saveButton()->click();
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->first, r.savedMin) << r.min << "/" << r.max;
        EXPECT_EQ(got->second, r.savedMax) << r.min << "/" << r.max;
        EXPECT_EQ(view.maxMinutes(), r.max) << "the view keeps its own maximum";
    }
}

TEST(SettingsForm, LayoutTextsAndRanges)
{
    SettingsView view(5, 5, [](int, int) {}, [] {});
    const auto labels = view.findChildren<QLabel*>();
    QStringList texts;
    for (QLabel* l : labels)
        texts << l->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Popup Settings")));
    EXPECT_EQ(view.minLabel()->text(), QStringLiteral("Minimum interval: 5 min"));
    EXPECT_EQ(view.maxLabel()->text(), QStringLiteral("Maximum interval: 5 min"));
    EXPECT_EQ(view.minSlider()->minimum(), 1);
    EXPECT_EQ(view.minSlider()->maximum(), 60);
    EXPECT_EQ(view.maxSlider()->minimum(), 1);
    EXPECT_EQ(view.maxSlider()->maximum(), 120);
    EXPECT_EQ(view.cancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(view.saveButton()->text(), QStringLiteral("Save"));
    EXPECT_TRUE(view.saveButton()->isDefault());
}

TEST(SettingsForm, MovingASliderUpdatesItsLabelAtOnce)
{
    std::optional<std::pair<int, int>> got;
    SettingsView view(5, 5, [&](int a, int b) { got = {a, b}; }, [] {});
    view.minSlider()->setValue(12);
    EXPECT_EQ(view.minLabel()->text(), QStringLiteral("Minimum interval: 12 min"));
    view.maxSlider()->setValue(100);
    EXPECT_EQ(view.maxLabel()->text(), QStringLiteral("Maximum interval: 100 min"));
    view.save();
    EXPECT_EQ(got, std::make_pair(12, 100));
}

TEST(SettingsForm, AStartValueOutsideTheRangeIsKeptUntilMoved)
{
    std::optional<std::pair<int, int>> got;
    SettingsView view(0, 200, [&](int a, int b) { got = {a, b}; }, [] {});
    EXPECT_EQ(view.minLabel()->text(), QStringLiteral("Minimum interval: 0 min"));
    view.save();
    EXPECT_EQ(got, std::make_pair(0, 200));
}

TEST(SettingsForm, ReturnSavesAndCancelReportsNothing)
{
    int saves = 0, cancels = 0;
    auto controller = PopupWindowController::create();
    auto* view = new SettingsView(5, 5, [&](int, int) { ++saves; }, [&] { ++cancels; });
    controller->presentPanel(view, {420, 340});
    view->activateWindow();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(saves, 1);
    view->cancelButton()->click();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(saves, 1);
}

TEST(SettingsPanel, ConvertsSecondsToMinutesAndBack)
{
    struct Row {
        double minSeconds, maxSeconds;
        int minMinutes, maxMinutes;
    };
    const Row rows[] = {{300, 300, 5, 5}, {90, 3599, 1, 59}, {59, 7200, 0, 120}, {600, 1800, 10, 30}};
    for (const Row& r : rows) {
        auto controller = PopupWindowController::create();
        controller->showSettings(r.minSeconds, r.maxSeconds, nullptr);
        auto* view = qobject_cast<SettingsView*>(controller->panel()->content());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->minMinutes(), r.minMinutes);
        EXPECT_EQ(view->maxMinutes(), r.maxMinutes);
    }
}

TEST(SettingsPanel, SaveReportsSecondsThenCloses)
{
    auto controller = PopupWindowController::create();
    std::optional<std::pair<double, double>> got;
    bool panelOpenDuringSave = false;
    controller->showSettings(300, 300, [&](double a, double b) {
        got = {a, b};
        panelOpenDuringSave = controller->panel() != nullptr;
    });
    auto* view = qobject_cast<SettingsView*>(controller->panel()->content());
    view->minSlider()->setValue(10);
    view->maxSlider()->setValue(30);
    view->saveButton()->click();
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
    qobject_cast<SettingsView*>(controller->panel()->content())->cancelButton()->click();
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
        view = qobject_cast<SettingsView*>(controller->panel()->content());
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
