// The quick note form driven through its widgets under the offscreen
// platform, against the real local study service signed in as the demo
// account: drafts while typing, resume, standardize, save and failures.

#include "DraftStore.h"
#include "PrivateDrafts.h"
#include "ServiceSupport.h"
#include "QuickNoteView.h"

#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {


class QuickNoteViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto& service = SignedInService::instance();
        ASSERT_TRUE(service.ok());
        svc().reset();
        QuickNoteView::setDurationsForTesting(100, 100);
    }
    void TearDown() override { QuickNoteView::setDurationsForTesting(-1, -1); }

    StudyService& svc() { return SignedInService::instance().svc(); }

    std::unique_ptr<QuickNoteView> open()
    {
        auto view = std::make_unique<QuickNoteView>([this] { ++dismissals; });
        view->show();
        view->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        const bool active = QTest::qWaitForWindowActive(view.get());
        EXPECT_TRUE(active);
        return view;
    }

    template <class W>
    static W* child(QWidget* view, const char* name)
    {
        W* w = view->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static QPlainTextEdit* editor(QWidget* v) { return child<QPlainTextEdit>(v, "noteEditor"); }
    static QPushButton* button(QWidget* v, const char* name) { return child<QPushButton>(v, name); }
    static QString errorText(QWidget* v)
    {
        QLabel* l = child<QLabel>(v, "errorLabel");
        return l->isVisible() ? l->text() : QString();
    }
    static bool badgeShown(QWidget* v) { return child<QLabel>(v, "badge")->isVisible(); }
    static bool previewSelected(QWidget* v) { return button(v, "previewSegment")->isChecked(); }

    QJsonArray requestsTo(const QString& path)
    {
        QJsonArray out;
        for (const QJsonValue& r : svc().requests())
            if (r.toObject().value("path").toString() == path)
                out.append(r);
        return out;
    }
    static QJsonObject body(const QJsonValue& request)
    {
        return QJsonDocument::fromJson(request.toObject().value("body").toString().toUtf8()).object();
    }

    PrivateDrafts drafts;
    int dismissals = 0;
};

TEST_F(QuickNoteViewTest, ABurstOfKeystrokesIsStoredOnceAfterTheLast)
{
    auto view = open();
    const quint64 before = DraftStore::writeCountForTesting();
    QTest::keyClicks(editor(view.get()), QStringLiteral("abc"));
    EXPECT_TRUE(view->hasPendingDraftSave());
    EXPECT_EQ(DraftStore::writeCountForTesting(), before) << "nothing is written while typing";
    ASSERT_TRUE(waitUntil([&] { return !view->hasPendingDraftSave(); }));
    QTest::qWait(150);
    EXPECT_EQ(DraftStore::writeCountForTesting(), before + 1);
    const auto stored = drafts.store().mostRecent();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->text, QStringLiteral("abc"));
    EXPECT_EQ(stored->id, *view->draftId());
}

TEST_F(QuickNoteViewTest, ResumeRules)
{
    // Nothing stored: empty editor, a fresh id, nothing written until typing.
    {
        const quint64 before = DraftStore::writeCountForTesting();
        auto view = open();
        EXPECT_TRUE(editor(view.get())->toPlainText().isEmpty());
        EXPECT_TRUE(view->draftId().has_value());
        EXPECT_FALSE(button(view.get(), "saveButton")->isEnabled());
        EXPECT_FALSE(button(view.get(), "standardizeButton")->isEnabled());
        QTest::qWait(200);
        EXPECT_EQ(DraftStore::writeCountForTesting(), before);
    }
    // A blank most recent draft hides an older one with text; both stay.
    NoteDraft older = NoteDraft::make(QUuid::createUuid(), QStringLiteral("older text"));
    NoteDraft blank = NoteDraft::make(QUuid::createUuid(), QStringLiteral("  \n\t"));
    drafts.store().save(older);
    drafts.store().save(blank);
    {
        auto view = open();
        EXPECT_TRUE(editor(view.get())->toPlainText().isEmpty());
        EXPECT_NE(*view->draftId(), blank.id);
        EXPECT_NE(*view->draftId(), older.id);
        QTest::qWait(200);
        EXPECT_EQ(drafts.store().loadAll().size(), 2);
        EXPECT_EQ(drafts.store().mostRecent()->id, blank.id);
    }
    // A plain draft comes back untrimmed and is stored again after the delay.
    drafts.store().remove(blank.id);
    older.text = QStringLiteral("\n older text \n");
    drafts.store().save(older);
    {
        auto view = open();
        EXPECT_EQ(editor(view.get())->toPlainText(), older.text);
        EXPECT_EQ(*view->draftId(), older.id);
        EXPECT_FALSE(badgeShown(view.get()));
        EXPECT_FALSE(previewSelected(view.get()));
        ASSERT_TRUE(waitUntil([&] { return drafts.store().get(older.id)->updatedAt > older.updatedAt; }));
    }
    // A standardized draft opens with the badge and the preview, and is not
    // written again by merely opening it.
    older.normalizedTitle = QStringLiteral("Older");
    older.normalizedContent = QStringLiteral("# Older\n\n**text**");
    older.isNormalized = true;
    drafts.store().save(older);
    {
        const quint64 before = DraftStore::writeCountForTesting();
        auto view = open();
        EXPECT_TRUE(badgeShown(view.get()));
        EXPECT_TRUE(previewSelected(view.get()));
        const auto* preview = view->findChild<QWidget*>(QStringLiteral("markdownPreview"));
        ASSERT_NE(preview, nullptr);
        EXPECT_TRUE(preview->isVisible());
        QTest::qWait(200);
        EXPECT_EQ(DraftStore::writeCountForTesting(), before);
    }
}

TEST_F(QuickNoteViewTest, StandardizeThenEditThenSaveCreatesTheEntry)
{
    auto view = open();
    QTest::keyClicks(editor(view.get()), QStringLiteral("  spanish verbs ser and estar"));
    QTest::keyClick(editor(view.get()), Qt::Key_Return);
    QTest::keyClicks(editor(view.get()), QStringLiteral("ser is identity  "));
    QTest::mouseClick(button(view.get(), "standardizeButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return badgeShown(view.get()); })) << errorText(view.get()).toStdString();
    EXPECT_TRUE(previewSelected(view.get()));
    ASSERT_TRUE(waitUntil([&] { return !view->hasPendingDraftSave(); })); // the typing's own delayed save
    const QJsonArray normalize = requestsTo(QStringLiteral("/api/journal/normalize"));
    ASSERT_EQ(normalize.size(), 1);
    EXPECT_EQ(body(normalize.at(0)).value("text").toString(),
              QStringLiteral("spanish verbs ser and estar\nser is identity"));

    auto stored = drafts.store().get(*view->draftId());
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(stored->isNormalized);
    ASSERT_TRUE(stored->normalizedContent.has_value());
    const QString proposedTitle = *stored->normalizedTitle;

    // Editing the standardized content stores it at once, no delay.
    QTest::mouseClick(button(view.get(), "editSegment"), Qt::LeftButton);
    EXPECT_EQ(editor(view.get())->toPlainText(), *stored->normalizedContent);
    editor(view.get())->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor(view.get()), QStringLiteral("!"));
    EXPECT_FALSE(view->hasPendingDraftSave());
    EXPECT_EQ(*drafts.store().get(*view->draftId())->normalizedContent, *stored->normalizedContent + "!");
    EXPECT_EQ(drafts.store().get(*view->draftId())->text, stored->text) << "the plain text no longer changes";

    svc().reset();
    QTest::mouseClick(button(view.get(), "saveButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return child<QLabel>(view.get(), "savedHeadline")->isVisible(); }))
        << errorText(view.get()).toStdString();
    const QJsonArray created = requestsTo(QStringLiteral("/api/journal"));
    ASSERT_EQ(created.size(), 1);
    const QJsonObject entry = body(created.at(0)).value("entry").toObject();
    EXPECT_EQ(entry.value("title").toString(), proposedTitle);
    EXPECT_EQ(entry.value("content").toString(), *stored->normalizedContent + "!");
    EXPECT_TRUE(entry.value("tags").isArray());
    EXPECT_EQ(child<QLabel>(view.get(), "savedHeadline")->text(), QStringLiteral("Saved to Journal"));
    EXPECT_EQ(child<QLabel>(view.get(), "savedTitle")->text(), proposedTitle);
    EXPECT_FALSE(drafts.store().get(*view->draftId()).has_value());
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
}

// The saved note must not come back: a delayed save still pending when the
// save succeeds is dropped with the draft.
TEST_F(QuickNoteViewTest, QuickNoteIsSentTrimmedAndThePendingDraftSaveIsDropped)
{
    QuickNoteView::setDurationsForTesting(1500, 100);
    auto view = open();
    QTest::keyClicks(editor(view.get()), QStringLiteral("x"));
    ASSERT_TRUE(waitUntil([&] { return !view->hasPendingDraftSave(); }, 5000));
    editor(view.get())->setPlainText(QStringLiteral("\n\n  remember the dative  \n\n"));
    ASSERT_TRUE(view->hasPendingDraftSave());
    QTest::mouseClick(button(view.get(), "saveButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return child<QLabel>(view.get(), "savedHeadline")->isVisible(); }))
        << errorText(view.get()).toStdString();
    const QJsonArray sent = requestsTo(QStringLiteral("/api/journal/quick-note"));
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(body(sent.at(0)), (QJsonObject{{"text", "remember the dative"}}));
    // The confirmation names the entry as the service titled it.
    QString serviceTitle;
    for (const QJsonValue& e : svc().state().value("journal").toObject().value(StudyService::demoEmail()).toArray())
        if (e.toObject().value("content").toString() == QLatin1String("remember the dative"))
            serviceTitle = e.toObject().value("title").toString();
    EXPECT_FALSE(serviceTitle.isEmpty());
    EXPECT_EQ(child<QLabel>(view.get(), "savedTitle")->text(), serviceTitle);
    EXPECT_FALSE(view->hasPendingDraftSave());
    QTest::qWait(300);
    view.reset(); // closing must not write the draft back either
    EXPECT_TRUE(drafts.store().loadAll().isEmpty());
}

TEST_F(QuickNoteViewTest, FailedSavesKeepTheDraftAndSayWhy)
{
    const struct {
        const char* name;
        QJsonObject fault;
        QString message; // empty: any "Failed: " line
    } cases[] = {
        {"server error", {{"mode", "status"}, {"status", 500}, {"path", "/api/journal/quick-note"}}, "Server error (500)"},
        {"unavailable", {{"mode", "status"}, {"status", 503}, {"path", "/api/journal/quick-note"}}, "Server error (503)"},
        {"malformed body", {{"mode", "malformed"}, {"path", "/api/journal/quick-note"}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const NoteDraft& d : drafts.store().loadAll())
            drafts.store().remove(d.id);
        auto view = open();
        QTest::keyClicks(editor(view.get()), QStringLiteral("keep me"));
        view->flushPendingDraftSave();
        svc().reset();
        svc().fault(c.fault);
        QTest::mouseClick(button(view.get(), "saveButton"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return !errorText(view.get()).isEmpty(); }));
        if (c.message.isEmpty())
            EXPECT_TRUE(errorText(view.get()).startsWith("Failed: ") || errorText(view.get()) == "Unexpected response")
                << errorText(view.get()).toStdString();
        else
            EXPECT_EQ(errorText(view.get()), c.message);
        EXPECT_GT(errorText(view.get()).size(), 8);
        EXPECT_FALSE(child<QLabel>(view.get(), "savedHeadline")->isVisible());
        EXPECT_TRUE(button(view.get(), "saveButton")->isEnabled());
        ASSERT_TRUE(drafts.store().get(*view->draftId()).has_value());
        EXPECT_EQ(drafts.store().get(*view->draftId())->text, QStringLiteral("keep me"));
        EXPECT_EQ(dismissals, 0);
    }
}

TEST_F(QuickNoteViewTest, StandardizeFailureShowsTheLineAndKeepsPlainEditing)
{
    auto view = open();
    QTest::keyClicks(editor(view.get()), QStringLiteral("some note"));
    svc().fault({{"mode", "status"}, {"status", 502}, {"path", "/api/journal/normalize"}});
    QTest::mouseClick(button(view.get(), "standardizeButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !errorText(view.get()).isEmpty(); }));
    EXPECT_EQ(errorText(view.get()), QStringLiteral("Server error (502)"));
    EXPECT_FALSE(badgeShown(view.get()));
    EXPECT_TRUE(button(view.get(), "standardizeButton")->isEnabled());
}

TEST_F(QuickNoteViewTest, KeyboardReturnBreaksLinesCtrlReturnSavesEscapeCancels)
{
    auto view = open();
    QPlainTextEdit* e = editor(view.get());
    e->setFocus();
    QTest::keyClicks(e, QStringLiteral("line one"));
    QTest::keyClick(e, Qt::Key_Return);
    QTest::keyClicks(e, QStringLiteral("line two"));
    EXPECT_EQ(e->toPlainText(), QStringLiteral("line one\nline two"));
    EXPECT_TRUE(requestsTo(QStringLiteral("/api/journal/quick-note")).isEmpty());
    EXPECT_TRUE(button(view.get(), "saveButton")->toolTip().contains(QStringLiteral("Ctrl+Return")));

    QTest::keyClick(e, Qt::Key_Escape);
    EXPECT_EQ(dismissals, 1);

    QTest::keyClick(e, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return child<QLabel>(view.get(), "savedHeadline")->isVisible(); }))
        << errorText(view.get()).toStdString();
    EXPECT_EQ(requestsTo(QStringLiteral("/api/journal/quick-note")).size(), 1);
}

TEST_F(QuickNoteViewTest, PendingDraftSaveIsFlushedOnCloseAndOnQuit)
{
    QuickNoteView::setDurationsForTesting(60000, 100);
    {
        auto view = open();
        QTest::keyClicks(editor(view.get()), QStringLiteral("closed fast"));
        EXPECT_TRUE(drafts.store().loadAll().isEmpty());
    } // the panel is closed with its window button: the view goes away
    ASSERT_EQ(drafts.store().loadAll().size(), 1);
    EXPECT_EQ(drafts.store().mostRecent()->text, QStringLiteral("closed fast"));

    auto view = open();
    editor(view.get())->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor(view.get()), QStringLiteral(" and quit"));
    EXPECT_EQ(drafts.store().mostRecent()->text, QStringLiteral("closed fast"));
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit");
    EXPECT_EQ(drafts.store().mostRecent()->text, QStringLiteral("closed fast and quit"));
    EXPECT_FALSE(view->hasPendingDraftSave());
}

TEST_F(QuickNoteViewTest, CancelDuringASaveStillDeletesTheDraftWhenItSucceeds)
{
    auto view = open();
    QTest::keyClicks(editor(view.get()), QStringLiteral("slow save"));
    view->flushPendingDraftSave();
    const QUuid id = *view->draftId();
    svc().fault({{"mode", "delay"}, {"delayMs", 400}, {"path", "/api/journal/quick-note"}});
    QTest::mouseClick(button(view.get(), "saveButton"), Qt::LeftButton);
    QTest::mouseClick(button(view.get(), "cancelButton"), Qt::LeftButton);
    EXPECT_EQ(dismissals, 1);
    view.reset(); // the host closes the panel
    ASSERT_TRUE(drafts.store().get(id).has_value());
    ASSERT_TRUE(waitUntil([&] { return !drafts.store().get(id).has_value(); }));
    ASSERT_TRUE(waitUntil([&] { return requestsTo(QStringLiteral("/api/journal/quick-note")).size() == 1; }));
}

} // namespace
