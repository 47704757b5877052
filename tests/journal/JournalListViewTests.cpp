// The journal browser driven through its widgets under the offscreen
// platform, against the real local study service signed in as the demo
// account (seeded with four entries).

#include "FormTest.h"
#include "PrivateDrafts.h"
#include "journal/EditDraftStore.h"
#include "journal/JournalListView.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>

namespace {

class JournalListViewTest : public FormTest<JournalListView> {
protected:
    PrivateDrafts drafts;
    void SetUp() override
    {
        SignedInService::instance().reseedAndLogin();
        ASSERT_TRUE(SignedInService::instance().ok());
    }
    void TearDown() override { view.reset(); } // while the drafts are still the private ones
    void openList(bool waitForRows = true)
    {
        open();
        EXPECT_TRUE(!waitForRows || waitUntil([&] { return !shown("loadingLabel"); }));
    }
    QLineEdit* field(const char* name) const { return child<QLineEdit>(name); }
    QPlainTextEdit* contentEditor() const { return child<QPlainTextEdit>("contentEditor"); }
    QString shownText() const { return text("errorLabel") + text("emptyLabel"); }

    // The rows on screen (built in their order), and their titles.
    QList<QWidget*> rows() const
    {
        QList<QWidget*> out;
        for (QWidget* w : view->findChildren<QWidget*>(QStringLiteral("entryRow")))
            if (w->isVisibleTo(view.get()) && w->parentWidget()->isVisible())
                out.append(w);
        return out;
    }
    QStringList rowTitles() const
    {
        QStringList titles;
        for (QWidget* r : rows())
            titles.append(child<QLabel>("rowTitle", r)->text());
        return titles;
    }
    QWidget* row(const QString& title) const { return rows().value(rowTitles().indexOf(title)); }
    void openRow(const QString& title) const { QTest::mouseClick(row(title), Qt::LeftButton, {}, QPoint(20, 10)); }
    // The row's context menu, then its "Delete" action; then, if given, a
    // button of the confirmation.
    void deleteFromMenu(const QString& title, const QString& button = {}) const
    {
        QWidget* r = row(title);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), r->mapToGlobal(QPoint(10, 10)));
        QCoreApplication::sendEvent(r, &event);
        child<QMenu>("entryMenu", r)->actions().last()->trigger();
        child<QMenu>("entryMenu", r)->close();
        if (!button.isEmpty())
            press(button);
    }
    // Title, tags and content of the edit screen.
    QString fields() const
    {
        return QStringList{field("titleField")->text(), field("tagsField")->text(), contentEditor()->toPlainText()}.join(u'|');
    }
    void press(const QString& button) const
    {
        for (QAbstractButton* b : view->deleteAlert()->buttons())
            if (b->text() == button)
                b->click();
    }
};

TEST_F(JournalListViewTest, LoadingEmptyFailedAndLoadedAgain)
{
    openList(false);
    EXPECT_TRUE(shown("loadingLabel"));
    ASSERT_TRUE(waitUntil([&] { return rows().size() == 4; }));

    svc().fault({{"mode", "body"}, {"body", "{\"data\": []}"}, {"path", "/api/journal"}});
    openList();
    EXPECT_EQ(shownText(), QStringLiteral("No journal entries yet"));
    svc().fault({{"mode", "status"}, {"status", 500}, {"body", "{\"error\":\"db down\"}"}, {"path", "/api/journal"}});
    openList();
    EXPECT_TRUE(shownText().startsWith(QStringLiteral("Failed to load: "))) << shownText().toStdString();
    EXPECT_TRUE(shownText().contains(QStringLiteral("500"))) << shownText().toStdString();
    EXPECT_TRUE(rows().isEmpty());

    // Shown again, the form loads again and the message goes.
    view->hide();
    view->show();
    ASSERT_TRUE(waitUntil([&] { return rows().size() == 4; }));
    EXPECT_EQ(shownText(), QString());

    // Loaded again with other entries at the same places: the rows show them
    // and a tap opens the entry that row shows.
    QList<JournalEntryData> others;
    for (int i = 0; i < 4; ++i)
        others.append({500 + i, QStringLiteral("Other %1").arg(i), QStringLiteral("body"), {}, {}, {}});
    view->showEntries(others);
    EXPECT_EQ(rowTitles(), (QStringList{"Other 0", "Other 1", "Other 2", "Other 3"}));
    openRow(QStringLiteral("Other 2"));
    EXPECT_EQ(view->mode(), (JournalListView::ViewMode{true, 502}));
    click("backButton");
    click("closeButton");
    EXPECT_EQ(dismissals, 1);
}

// Rows are built a page at a time, scrolling to the end builds the next;
// a search keeps the entries' order and does not trim what was typed.
TEST_F(JournalListViewTest, LongListsAndSearch)
{
    openList();
    QList<JournalEntryData> many;
    for (int i = 0; i < 100; ++i)
        many.append({1000 + i, QStringLiteral("Entry %1").arg(i), {}, QStringList{"t"}, {}, {}});
    view->showEntries(many);
    const qsizetype first = rows().size();
    EXPECT_GT(first, 5);
    EXPECT_LT(first, 100);

    auto* bar = child<QScrollArea>("rowsArea")->verticalScrollBar();
    for (int i = 0; i < 40 && rows().size() < 100; ++i) {
        QCoreApplication::processEvents();
        bar->setValue(bar->maximum());
    }
    EXPECT_EQ(rows().size(), 100);
    EXPECT_EQ(rowTitles().last(), QStringLiteral("Entry 99"));

    const QStringList nines{"Entry 9", "Entry 90", "Entry 91", "Entry 92", "Entry 93", "Entry 94",
                            "Entry 95", "Entry 96", "Entry 97", "Entry 98", "Entry 99"};
    for (const char* query : {"Entry 9", " 9", "ENTRY 9"}) {
        field("searchField")->setText(QString::fromLatin1(query));
        EXPECT_EQ(rowTitles(), nines) << query;
        EXPECT_TRUE(shown("clearSearchButton"));
    }
    QTest::keyClicks(field("searchField"), QStringLiteral("z"));
    EXPECT_EQ(shownText(), QStringLiteral("No matching entries"));
    click("clearSearchButton");
    EXPECT_EQ(rows().size(), first);
    EXPECT_FALSE(shown("clearSearchButton"));
}

TEST_F(JournalListViewTest, EditScreenStandardizesSavesParsedTagsAndPatchesTheRow)
{
    openList();
    openRow(QStringLiteral("Ser vs. estar"));
    ASSERT_TRUE(view->mode().editing);
    EXPECT_EQ(field("titleField")->text(), QStringLiteral("Ser vs. estar"));
    EXPECT_EQ(field("tagsField")->text(), QStringLiteral("spanish, grammar"));
    EXPECT_TRUE(contentEditor()->toPlainText().startsWith(QStringLiteral("# Ser vs. estar")));

    // A failed standardize keeps the fields; a good one fills them and
    // shows the preview, and nothing is saved before Save.
    svc().fault({{"mode", "malformed"}, {"path", "/api/journal/normalize"}});
    click("standardizeButton");
    ASSERT_TRUE(waitUntil([&] { return text("editErrorLabel").startsWith("Normalize failed: "); }));
    EXPECT_GT(text("editErrorLabel").size(), QStringLiteral("Normalize failed: ").size() + 3);
    EXPECT_EQ(field("titleField")->text(), QStringLiteral("Ser vs. estar"));
    EXPECT_TRUE(enabled("standardizeButton"));
    contentEditor()->setPlainText(QStringLiteral("  german articles der die das\nlearn nouns with articles  "));
    svc().reset();
    click("standardizeButton");
    ASSERT_TRUE(waitUntil([&] { return checked("previewSegment"); })) << text("editErrorLabel").toStdString();
    EXPECT_EQ(bodies("POST", "/api/journal/normalize"),
              (QList<QJsonObject>{{{"text", "german articles der die das\nlearn nouns with articles"}}}));
    EXPECT_NE(field("titleField")->text(), QStringLiteral("Ser vs. estar"));
    EXPECT_TRUE(shown("markdownPreview"));
    EXPECT_TRUE(bodies("PUT", "/api/journal/").isEmpty()) << "nothing is saved before Save";

    // Blank content disables both actions; a title of one space is a title.
    contentEditor()->setPlainText(QStringLiteral("  \n "));
    EXPECT_FALSE(enabled("saveButton"));
    EXPECT_FALSE(enabled("standardizeButton"));
    contentEditor()->setPlainText(QStringLiteral("new body"));
    field("titleField")->setText(QStringLiteral(" "));
    field("tagsField")->setText(QStringLiteral("a, b,,c , "));

    // A failed save stays on the edit screen with its fields.
    svc().fault({{"mode", "status"}, {"status", 500}, {"path", "/api/journal/"}});
    click("saveButton");
    ASSERT_TRUE(waitUntil([&] { return !text("editErrorLabel").isEmpty(); }));
    EXPECT_TRUE(text("editErrorLabel").startsWith(QStringLiteral("Save failed: the study service answered 500")))
        << text("editErrorLabel").toStdString();
    EXPECT_TRUE(view->mode().editing);
    EXPECT_EQ(field("titleField")->text(), QStringLiteral(" "));

    svc().reset();
    click("saveButton");
    ASSERT_TRUE(waitUntil([&] { return !view->mode().editing; })) << text("editErrorLabel").toStdString();
    const QJsonObject entry{{"title", " "}, {"content", "new body"}, {"tags", QJsonArray({"a", "b", "c"})}};
    EXPECT_EQ(bodies("PUT", "/api/journal/"), (QList<QJsonObject>{{{"entry", entry}}}));
    ASSERT_NE(row(QStringLiteral(" ")), nullptr);
    EXPECT_EQ(row(QStringLiteral(" "))->findChildren<QLabel*>(QStringLiteral("tagChip")).size(), 3);
    EXPECT_TRUE(bodies("GET", "/api/journal").isEmpty()) << "edits patch the list, no reload";
}

// A save or standardize that answers after the learner opened another entry
// must leave that entry's fields alone; the list still learns of the save.
TEST_F(JournalListViewTest, LateResultsDoNotLandInAnotherEntry)
{
    openList();
    openRow(QStringLiteral("Ser vs. estar"));
    svc().fault({{"mode", "delay"}, {"delayMs", 600}, {"path", "/api/journal/" + QString::number(view->mode().id)}});
    field("titleField")->setText(QStringLiteral("Ser and estar"));
    click("saveButton"); // held back by the service
    QTest::keyClicks(field("titleField"), QStringLiteral(" typed meanwhile")); // refused, not lost on leaving
    EXPECT_EQ(field("titleField")->text(), QStringLiteral("Ser and estar"));
    click("backButton");
    openRow(QStringLiteral("Kanji for places"));
    click("standardizeButton"); // answered at once, long before the save
    click("backButton");
    openRow(QStringLiteral("Weekly goal"));
    const std::int64_t weeklyId = view->mode().id;
    const QString weeklyContent = contentEditor()->toPlainText();
    field("tagsField")->setText(QStringLiteral("typing, here"));
    ASSERT_TRUE(waitUntil([&] {
        return std::any_of(view->entries().begin(), view->entries().end(),
                           [](const JournalEntryData& e) { return e.title == QLatin1String("Ser and estar"); });
    }));
    EXPECT_EQ(bodies("POST", "/api/journal/normalize").size(), 1);
    EXPECT_TRUE(view->mode().editing);
    EXPECT_EQ(view->mode().id, weeklyId);
    EXPECT_EQ(field("titleField")->text(), QStringLiteral("Weekly goal"));
    EXPECT_EQ(contentEditor()->toPlainText(), weeklyContent);
    EXPECT_EQ(field("tagsField")->text(), QStringLiteral("typing, here"));
    EXPECT_FALSE(checked("previewSegment"));
    EXPECT_TRUE(enabled("standardizeButton"));
    EXPECT_TRUE(enabled("saveButton"));
    click("backButton");
    EXPECT_NE(row(QStringLiteral("Ser and estar")), nullptr);
}

// An edit that goes away without Save or Cancel (the panel replaced, the
// agent quitting) comes back when its entry is opened again, until it is
// discarded, cancelled or saved, and is only ever sent as that entry.
TEST_F(JournalListViewTest, AnUnsavedEditOutlivesThePanelUntilDiscardedCancelledOrSaved)
{
    const QString edited = QStringLiteral("Weekly goals|plans, typed|unsaved body");
    openList();
    openRow(QStringLiteral("Weekly goal"));
    const QString original = fields();
    const std::int64_t id = view->mode().id;
    const auto stored = [id] { return EditDraftStore::shared().get(id); };
    const QString path = QStringLiteral("/api/journal/") + QString::number(id);
    const struct { bool quit; const char* end; const char* after; } rounds[] = {
        {false, "discardEditButton", "backButton"},
        {true, "backButton", nullptr},
        {false, "saveButton", nullptr},
    };
    for (const auto& r : rounds) {
        SCOPED_TRACE(r.end);
        openList();
        openRow(QStringLiteral("Weekly goal"));
        field("titleField")->setText(QStringLiteral("Weekly goals"));
        field("tagsField")->setText(QStringLiteral("plans, typed"));
        contentEditor()->setPlainText(QStringLiteral("unsaved body"));
        if (r.quit)
            QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit");
        else
            view.reset();
        ASSERT_TRUE(stored().draft.has_value());
        EXPECT_EQ(stored().draft->content, QStringLiteral("unsaved body"));

        openList();
        openRow(QStringLiteral("Weekly goal"));
        EXPECT_EQ(fields(), edited);
        EXPECT_TRUE(shown("restoredBanner"));
        click(r.end);
        if (r.after) {
            EXPECT_EQ(fields(), original);
            EXPECT_FALSE(shown("restoredBanner"));
            click(r.after);
        }
        ASSERT_TRUE(waitUntil([&] { return !view->mode().editing; })) << text("editErrorLabel").toStdString();
        EXPECT_FALSE(stored().draft.has_value());
    }
    EXPECT_EQ(bodies("PUT", path).size(), 1);
    EXPECT_EQ(bodies("PUT", path).value(0).value("entry").toObject().value("title"), QStringLiteral("Weekly goals"));
    EXPECT_TRUE(bodies("POST", "/api/journal").isEmpty());

    // An unreadable stored value is said so, and kept aside before the next edit draft replaces it.
    QSettings(drafts.path(), QSettings::IniFormat).setValue(EditDraftStore::key, QByteArray("not json"));
    openList();
    openRow(QStringLiteral("Kanji for places"));
    EXPECT_EQ(text("editErrorLabel"), QStringLiteral("Unsaved changes kept earlier could not be read."));
    field("titleField")->setText(QStringLiteral("Kanji"));
    const std::int64_t kanji = view->mode().id;
    view.reset();
    EXPECT_EQ(EditDraftStore::shared().get(kanji).draft->title, QStringLiteral("Kanji"));
    const QSettings settings(drafts.path(), QSettings::IniFormat);
    const QStringList backups = settings.allKeys().filter(EditDraftStore::backupKeyPrefix);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_EQ(settings.value(backups.at(0)).toByteArray(), QByteArray("not json"));
}

// Each confirmed delete removes the entry that was confirmed, even when a
// second confirmation is raised while the first request is still out.
TEST_F(JournalListViewTest, DeleteAsksFirstAndRemovesTheConfirmedRow)
{
    openList();
    deleteFromMenu(QStringLiteral("Weekly goal"));
    EXPECT_EQ(view->deleteAlert()->informativeText(),
              QStringLiteral("Are you sure you want to delete \"Weekly goal\"? This cannot be undone."));
    press(QStringLiteral("Cancel"));
    EXPECT_EQ(rows().size(), 4);

    svc().fault({{"mode", "delay"}, {"delayMs", 500}, {"path", "/api/journal/"}});
    deleteFromMenu(QStringLiteral("Weekly goal"), QStringLiteral("Delete"));
    deleteFromMenu(QStringLiteral("Kanji for places"));
    ASSERT_TRUE(waitUntil([&] { return !rowTitles().contains(QStringLiteral("Weekly goal")); }));
    press(QStringLiteral("Delete"));
    ASSERT_TRUE(waitUntil([&] { return rows().size() == 2; }));
    EXPECT_FALSE(rowTitles().contains(QStringLiteral("Kanji for places")));
    EXPECT_EQ(bodies("DELETE", "/api/journal/").size(), 2) << "one per confirmed delete, none for the cancel";

    // A failed delete replaces the list with its line.
    svc().fault({{"mode", "status"}, {"status", 404}, {"path", "/api/journal/"}});
    deleteFromMenu(rowTitles().first(), QStringLiteral("Delete"));
    ASSERT_TRUE(waitUntil([&] { return shownText().startsWith("Delete failed: "); }));
    EXPECT_TRUE(shownText().contains(QStringLiteral("404"))) << shownText().toStdString();
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_EQ(view->entries().size(), 2);
}

} // namespace
