// The quick note form against the real local study service signed in as the
// demo account: drafts while typing, resume, standardize, save and failures.

#include "journal/DraftStore.h"
#include "FormTest.h"
#include "PrivateDrafts.h"
#include "core/Timing.h"
#include "journal/QuickNoteView.h"

#include <QPlainTextEdit>

namespace {

class QuickNoteViewTest : public FormTest<QuickNoteView> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SignedInService::instance().ok());
        svc().reset();
        scale.emplace(0.2); // the draft waits 100 ms, the confirmation 400 ms
    }
    void TearDown() override
    {
        view.reset(); // while the drafts are still the private ones
        scale.reset();
    }
    QPlainTextEdit* editor() const { return child<QPlainTextEdit>("noteEditor"); }
    void type(const QString& text) const { QTest::keyClicks(editor(), text); }
    std::optional<NoteDraft> storedDraft() { return drafts.store().get(*view->draftId()); }

    PrivateDrafts drafts;
    std::optional<Timing::ScopedScale> scale;
};

TEST_F(QuickNoteViewTest, ResumeRulesAndTheDelayedDraftSave)
{
    // Nothing stored: empty editor, a fresh id, nothing written until a
    // burst of keystrokes, and then once, after the last.
    quint64 before = DraftStore::writeCount();
    open();
    EXPECT_TRUE(editor()->toPlainText().isEmpty());
    EXPECT_TRUE(view->draftId().has_value());
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_FALSE(enabled("standardizeButton"));
    EXPECT_FALSE(view->hasPendingDraftSave());
    EXPECT_EQ(DraftStore::writeCount(), before);
    type(QStringLiteral("abc"));
    EXPECT_TRUE(view->hasPendingDraftSave());
    EXPECT_EQ(DraftStore::writeCount(), before) << "nothing is written while typing";
    ASSERT_TRUE(waitUntil([&] { return !view->hasPendingDraftSave(); }));
    EXPECT_EQ(DraftStore::writeCount(), before + 1);
    ASSERT_TRUE(storedDraft().has_value());
    EXPECT_EQ(storedDraft()->text, QStringLiteral("abc"));
    drafts.store().remove(*view->draftId());

    // A plain draft comes back untrimmed and is stored again after the delay.
    NoteDraft older = NoteDraft::make(QUuid::createUuid(), QStringLiteral("\n older text \n"));
    drafts.store().save(older);
    open();
    EXPECT_EQ(editor()->toPlainText(), older.text);
    EXPECT_EQ(*view->draftId(), older.id);
    EXPECT_FALSE(shown("badge"));
    EXPECT_FALSE(checked("previewSegment"));
    ASSERT_TRUE(waitUntil([&] { return storedDraft()->updatedAt > older.updatedAt; }));

    // A standardized draft opens with the badge and the preview, and is not
    // written again by merely opening it.
    view.reset();
    older.normalizedTitle = QStringLiteral("Older");
    older.normalizedContent = QStringLiteral("# Older\n\n**text**");
    older.isNormalized = true;
    drafts.store().save(older);
    before = DraftStore::writeCount();
    open();
    EXPECT_TRUE(shown("badge"));
    EXPECT_TRUE(checked("previewSegment"));
    EXPECT_TRUE(shown("markdownPreview"));
    EXPECT_FALSE(view->hasPendingDraftSave());
    EXPECT_EQ(DraftStore::writeCount(), before);
}

// Return in the editor starts a new line. A failed standardize or save says
// why and keeps the draft.
TEST_F(QuickNoteViewTest, StandardizeThenEditThenSaveCreatesTheEntry)
{
    open();
    type(QStringLiteral("  spanish verbs ser and estar"));
    QTest::keyClick(editor(), Qt::Key_Return);
    type(QStringLiteral("ser is identity  "));
    svc().fault({{"mode", "status"}, {"status", 502}, {"path", "/api/journal/normalize"}});
    click("standardizeButton");
    ASSERT_TRUE(waitUntil([&] { return !text("errorLabel").isEmpty(); }));
    EXPECT_EQ(text("errorLabel"), QStringLiteral("Server error (502)"));
    EXPECT_FALSE(shown("badge"));
    EXPECT_TRUE(enabled("standardizeButton"));
    svc().reset();
    click("standardizeButton");
    ASSERT_TRUE(waitUntil([&] { return shown("badge"); })) << text("errorLabel").toStdString();
    EXPECT_TRUE(checked("previewSegment"));
    ASSERT_TRUE(waitUntil([&] { return !view->hasPendingDraftSave(); })); // the typing's own delayed save
    EXPECT_EQ(bodies("POST", "/api/journal/normalize"),
              (QList<QJsonObject>{{{"text", "spanish verbs ser and estar\nser is identity"}}}));
    const auto stored = storedDraft();
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(stored->isNormalized);
    ASSERT_TRUE(stored->normalizedContent.has_value());

    // Editing the standardized content stores it at once, no delay.
    click("editSegment");
    EXPECT_EQ(editor()->toPlainText(), *stored->normalizedContent);
    editor()->moveCursor(QTextCursor::End);
    type(QStringLiteral("!"));
    EXPECT_FALSE(view->hasPendingDraftSave());
    EXPECT_EQ(*storedDraft()->normalizedContent, *stored->normalizedContent + "!");
    EXPECT_EQ(storedDraft()->text, stored->text) << "the plain text no longer changes";

    svc().fault({{"mode", "status"}, {"status", 500}, {"path", "/api/journal"}});
    click("saveButton");
    ASSERT_TRUE(waitUntil([&] { return !text("errorLabel").isEmpty(); }));
    EXPECT_EQ(text("errorLabel"), QStringLiteral("Server error (500)"));
    EXPECT_FALSE(shown("savedHeadline"));
    EXPECT_TRUE(enabled("saveButton"));
    EXPECT_FALSE(editor()->isReadOnly());
    EXPECT_EQ(storedDraft()->normalizedContent, *stored->normalizedContent + "!");
    EXPECT_EQ(dismissals, 0);
    svc().reset();
    click("saveButton");
    ASSERT_TRUE(waitUntil([&] { return shown("savedHeadline"); })) << text("errorLabel").toStdString();
    const QJsonObject entry{{"title", *stored->normalizedTitle}, {"content", *stored->normalizedContent + "!"},
                            {"tags", QJsonArray::fromStringList(stored->normalizedTags.value_or(QStringList{}))}};
    EXPECT_EQ(bodies("POST", "/api/journal"), (QList<QJsonObject>{{{"entry", entry}}}));
    EXPECT_EQ(text("savedTitle"), *stored->normalizedTitle);
    EXPECT_FALSE(storedDraft().has_value());
    ASSERT_TRUE(waitUntil([&] { return dismissals == 1; }));
}

// Ctrl+Return saves. The saved note must not come back: a delayed draft save
// still pending when the save succeeds is dropped with the draft.
TEST_F(QuickNoteViewTest, QuickNoteIsSentTrimmedAndThePendingDraftSaveIsDropped)
{
    const Timing::ScopedScale slower(3); // a draft save pends for 1.5 s
    open();
    type(QStringLiteral("x"));
    ASSERT_TRUE(waitUntil([&] { return !view->hasPendingDraftSave(); }, 5000));
    editor()->setPlainText(QStringLiteral("\n\n  remember the dative  \n\n"));
    ASSERT_TRUE(view->hasPendingDraftSave());
    QTest::keyClick(editor(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return shown("savedHeadline"); })) << text("errorLabel").toStdString();
    EXPECT_EQ(bodies("POST", "/api/journal/quick-note"), (QList<QJsonObject>{{{"text", "remember the dative"}}}));
    EXPECT_FALSE(view->hasPendingDraftSave());
    view.reset(); // closing must not write the draft back either
    EXPECT_TRUE(drafts.store().loadAll().isEmpty());
}

// A pending draft save is written when the panel closes and when the agent
// quits; a save still out when the panel closes deletes the draft once it
// succeeds.
TEST_F(QuickNoteViewTest, TheDraftOutlivesClosingAndQuittingUntilSaved)
{
    const Timing::ScopedScale slower(120); // a draft save pends for a minute
    open();
    type(QStringLiteral("closed fast"));
    QTest::keyClick(editor(), Qt::Key_Escape); // cancels; the draft is kept
    EXPECT_EQ(dismissals, 1);
    EXPECT_TRUE(drafts.store().loadAll().isEmpty());
    view.reset(); // the host closes the panel: the view goes away
    ASSERT_EQ(drafts.store().loadAll().size(), 1);
    EXPECT_EQ(drafts.store().mostRecent()->text, QStringLiteral("closed fast"));

    open();
    editor()->moveCursor(QTextCursor::End);
    type(QStringLiteral(" and quit"));
    EXPECT_EQ(drafts.store().mostRecent()->text, QStringLiteral("closed fast"));
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit");
    EXPECT_EQ(drafts.store().mostRecent()->text, QStringLiteral("closed fast and quit"));
    EXPECT_FALSE(view->hasPendingDraftSave());

    svc().fault({{"mode", "delay"}, {"delayMs", 400}, {"path", "/api/journal/quick-note"}});
    click("saveButton");
    // Typing while the note is out is refused, not taken and then lost.
    type(QStringLiteral(" typed meanwhile"));
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("closed fast and quit"));
    click("cancelButton");
    EXPECT_EQ(dismissals, 2);
    view.reset();
    ASSERT_EQ(drafts.store().loadAll().size(), 1);
    ASSERT_TRUE(waitUntil([&] { return drafts.store().loadAll().isEmpty(); }));
    ASSERT_TRUE(waitUntil([&] { return bodies("POST", "/api/journal/quick-note").size() == 1; }));
}

} // namespace
