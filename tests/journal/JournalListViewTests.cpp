// The journal browser driven through its widgets under the offscreen
// platform, against the real local study service signed in as the demo
// account (seeded with four entries).

#include "JournalListView.h"
#include "JournalService.h"
#include "PrivateDrafts.h"
#include "ServiceSupport.h"

#include <QContextMenuEvent>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {


class JournalListViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto& service = SignedInService::instance();
        ASSERT_TRUE(service.ok());
        service.reseedAndLogin();
        ASSERT_TRUE(service.ok());
    }

    StudyService& svc() { return SignedInService::instance().svc(); }

    std::unique_ptr<JournalListView> open(bool waitForRows = true)
    {
        auto view = std::make_unique<JournalListView>([this] { ++dismissals; });
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        if (waitForRows) {
            EXPECT_TRUE(waitUntil([&] { return !label(view.get(), "loadingLabel")->isVisible(); }));
        }
        return view;
    }

    template <class W>
    static W* child(QObject* view, const QString& name)
    {
        W* w = view->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    static QLabel* label(QWidget* v, const char* name) { return child<QLabel>(v, QString::fromLatin1(name)); }
    static QPushButton* button(QWidget* v, const char* name) { return child<QPushButton>(v, QString::fromLatin1(name)); }

    // The rows on screen, top to bottom.
    static QList<QWidget*> rows(QWidget* v)
    {
        QList<QWidget*> out;
        for (QWidget* w : v->findChildren<QWidget*>(QStringLiteral("entryRow")))
            if (w->isVisibleTo(v) && w->parentWidget()->isVisible())
                out.append(w);
        std::sort(out.begin(), out.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
        return out;
    }
    static QStringList rowTitles(QWidget* v)
    {
        QStringList titles;
        for (QWidget* r : rows(v))
            titles.append(r->findChild<QLabel*>(QStringLiteral("rowTitle"))->text());
        return titles;
    }
    static QWidget* row(QWidget* v, const QString& title)
    {
        for (QWidget* r : rows(v))
            if (r->findChild<QLabel*>(QStringLiteral("rowTitle"))->text() == title)
                return r;
        ADD_FAILURE() << "no row " << title.toStdString();
        return nullptr;
    }
    static QString shownText(QWidget* v)
    {
        if (label(v, "errorLabel")->isVisible())
            return label(v, "errorLabel")->text();
        if (label(v, "emptyLabel")->isVisible())
            return label(v, "emptyLabel")->text();
        return QString();
    }
    static QString editError(QWidget* v)
    {
        QLabel* l = label(v, "editErrorLabel");
        return l->isVisible() ? l->text() : QString();
    }
    static void search(QWidget* v, const QString& text)
    {
        QLineEdit* field = child<QLineEdit>(v, QStringLiteral("searchField"));
        field->clear();
        // Typed key by key where QTest can spell the characters.
        bool ascii = true;
        for (QChar c : text)
            ascii = ascii && c.unicode() < 0x7f && c.unicode() >= 0x20;
        if (ascii)
            QTest::keyClicks(field, text);
        else
            field->setText(text);
    }
    static void openRow(QWidget* v, const QString& title)
    {
        QWidget* r = row(v, title);
        ASSERT_NE(r, nullptr);
        QTest::mouseClick(r, Qt::LeftButton, {}, QPoint(20, 10));
    }
    // The row's context menu, then its "Delete" action.
    static void deleteFromMenu(QWidget* v, const QString& title)
    {
        QWidget* r = row(v, title);
        ASSERT_NE(r, nullptr);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), r->mapToGlobal(QPoint(10, 10)));
        QCoreApplication::sendEvent(r, &event);
        QMenu* menu = r->findChild<QMenu*>(QStringLiteral("entryMenu"));
        ASSERT_NE(menu, nullptr);
        QStringList texts;
        for (QAction* a : menu->actions())
            texts.append(a->isSeparator() ? QStringLiteral("-") : a->text());
        EXPECT_EQ(texts, (QStringList{"Edit", "-", "Delete"}));
        menu->actions().last()->trigger();
        menu->close();
    }
    static void pressAlert(JournalListView* v, const QString& text)
    {
        QMessageBox* alert = v->deleteAlert();
        ASSERT_NE(alert, nullptr);
        for (QAbstractButton* b : alert->buttons())
            if (b->text() == text) {
                b->click();
                return;
            }
        ADD_FAILURE() << "no alert button " << text.toStdString();
    }

    QJsonArray requestsWith(const QString& method, const QString& pathPrefix)
    {
        QJsonArray out;
        for (const QJsonValue& r : svc().requests())
            if (r.toObject().value("method").toString() == method
                && r.toObject().value("path").toString().startsWith(pathPrefix))
                out.append(r);
        return out;
    }
    std::int64_t idOf(const JournalListView& v, const QString& title)
    {
        for (const JournalEntryData& e : v.entries())
            if (e.title == title)
                return e.id;
        ADD_FAILURE() << "no entry " << title.toStdString();
        return 0;
    }
    JournalEntryData create(const QString& title, const QStringList& tags)
    {
        std::optional<Result<JournalEntryData>> r;
        QObject context;
        JournalService::createEntry(title, QStringLiteral("content"), tags, &context,
                                    [&](Result<JournalEntryData> x) { r.emplace(std::move(x)); });
        EXPECT_TRUE(waitUntil([&] { return r.has_value(); }));
        EXPECT_TRUE(r && r->ok());
        return r->value();
    }

    int dismissals = 0;
};

TEST_F(JournalListViewTest, LoadsWithLoadingThenListsRowsWithDatesAndChips)
{
    create(QStringLiteral("Six tags"), {"a", "b", "c", "d", "e", "f"});
    create(QStringLiteral("Four tags"), {"a", "b", "c", "d"});
    auto view = open(false);
    EXPECT_TRUE(label(view.get(), "loadingLabel")->isVisible());
    EXPECT_EQ(label(view.get(), "loadingLabel")->text(), QStringLiteral("Loading..."));
    ASSERT_TRUE(waitUntil([&] { return rows(view.get()).size() == 6; }));
    EXPECT_EQ(label(view.get(), "title")->text(), QStringLiteral("My Journals"));
    EXPECT_EQ(child<QLineEdit>(view.get(), "searchField")->placeholderText(), QStringLiteral("Search by title or tag..."));

    QWidget* six = row(view.get(), QStringLiteral("Six tags"));
    QStringList chips;
    for (QLabel* chip : six->findChildren<QLabel*>(QStringLiteral("tagChip")))
        chips.append(chip->text());
    EXPECT_EQ(chips, (QStringList{"a", "b", "c", "d"}));
    ASSERT_NE(six->findChild<QLabel*>(QStringLiteral("moreTags")), nullptr);
    EXPECT_EQ(six->findChild<QLabel*>(QStringLiteral("moreTags"))->text(), QStringLiteral("+2"));
    QWidget* four = row(view.get(), QStringLiteral("Four tags"));
    EXPECT_EQ(four->findChildren<QLabel*>(QStringLiteral("tagChip")).size(), 4);
    EXPECT_EQ(four->findChild<QLabel*>(QStringLiteral("moreTags")), nullptr);
    QWidget* noTags = row(view.get(), QStringLiteral("Weekly goal"));
    EXPECT_TRUE(noTags->findChildren<QLabel*>(QStringLiteral("tagChip")).isEmpty());

    // Seeded dates: with fractional seconds, without, and with an offset.
    const QString kanji = row(view.get(), QStringLiteral("Kanji for places"))->findChild<QLabel*>("rowDate")->text();
    EXPECT_EQ(kanji, JournalText::formatEntryDate(QStringLiteral("2026-11-30T08:15:00.123Z")));
    EXPECT_TRUE(kanji.contains(QStringLiteral("2026")));
    EXPECT_FALSE(kanji.contains(QLatin1Char('T')));
}

TEST_F(JournalListViewTest, SearchCases)
{
    create(QStringLiteral("Learning cats"), {});
    create(QStringLiteral("Shelf"), {"Catalogue"});
    auto view = open();
    const struct {
        const char* name;
        QString query;
        QStringList titles;
        QString empty;
    } cases[] = {
        {"title and tag, any case", "CAT", {"Learning cats", "Shelf"}, {}},
        {"tag only", "grammar", {"Ser vs. estar", "\u041f\u0430\u0434\u0435\u0436\u0438"}, {}},
        {"content is not searched", "library", {}, "No matching entries"},
        {"one space", " ", {"Ser vs. estar", "Kanji for places", "Weekly goal", "Learning cats"}, {}},
        {"cyrillic lower-casing", "\u043f\u0410\u0434", {"\u041f\u0430\u0434\u0435\u0436\u0438"}, {}},
        {"nothing", "zebra", {}, "No matching entries"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        search(view.get(), c.query);
        // The rows keep the server's order of the entries.
        QStringList ordered;
        for (const JournalEntryData& e : view->entries())
            if (c.titles.contains(e.title))
                ordered.append(e.title);
        EXPECT_EQ(ordered.size(), c.titles.size());
        EXPECT_EQ(rowTitles(view.get()), ordered);
        EXPECT_EQ(shownText(view.get()), c.empty);
        EXPECT_TRUE(child<QWidget>(view.get(), "clearSearchButton")->isVisible());
    }
    QTest::mouseClick(child<QWidget>(view.get(), "clearSearchButton"), Qt::LeftButton);
    EXPECT_EQ(child<QLineEdit>(view.get(), "searchField")->text(), QString());
    EXPECT_EQ(rows(view.get()).size(), 6);
    EXPECT_FALSE(child<QWidget>(view.get(), "clearSearchButton")->isVisible());
}

TEST_F(JournalListViewTest, EmptyJournalAndFailedLoad)
{
    svc().fault({{"mode", "body"}, {"body", "{\"data\": []}"}, {"path", "/api/journal"}});
    {
        auto view = open();
        EXPECT_EQ(shownText(view.get()), QStringLiteral("No journal entries yet"));
    }
    svc().fault({{"mode", "status"}, {"status", 500}, {"body", "{\"error\":\"db down\"}"}, {"path", "/api/journal"}});
    auto view = open();
    const QString text = shownText(view.get());
    EXPECT_TRUE(text.startsWith(QStringLiteral("Failed to load: "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("500"))) << text.toStdString();
    EXPECT_TRUE(rows(view.get()).isEmpty());

    // Shown again, the form loads again and the message goes.
    view->hide();
    view->show();
    ASSERT_TRUE(waitUntil([&] { return rows(view.get()).size() == 4; }));
    EXPECT_EQ(shownText(view.get()), QString());
}

TEST_F(JournalListViewTest, EditScreenSavesParsedTagsAndPatchesTheRow)
{
    auto view = open();
    openRow(view.get(), QStringLiteral("Ser vs. estar"));
    ASSERT_TRUE(view->mode().editing);
    EXPECT_EQ(label(view.get(), "editHeading")->text(), QStringLiteral("Edit Entry"));
    EXPECT_EQ(button(view.get(), "backButton")->text(), QStringLiteral("Back"));
    auto* title = child<QLineEdit>(view.get(), "titleField");
    auto* tags = child<QLineEdit>(view.get(), "tagsField");
    auto* content = child<QPlainTextEdit>(view.get(), "contentEditor");
    EXPECT_EQ(title->placeholderText(), QStringLiteral("Title"));
    EXPECT_EQ(tags->placeholderText(), QStringLiteral("Tags (comma separated)"));
    EXPECT_EQ(title->text(), QStringLiteral("Ser vs. estar"));
    EXPECT_EQ(tags->text(), QStringLiteral("spanish, grammar"));
    EXPECT_TRUE(content->toPlainText().startsWith(QStringLiteral("# Ser vs. estar")));
    EXPECT_EQ(button(view.get(), "editSegment")->text(), QStringLiteral("Edit"));
    EXPECT_EQ(button(view.get(), "previewSegment")->text(), QStringLiteral("Preview"));
    EXPECT_EQ(button(view.get(), "saveButton")->text(), QStringLiteral("Save"));

    // Blank content disables both actions; a title of one space is fine.
    content->setPlainText(QStringLiteral("  \n "));
    EXPECT_FALSE(button(view.get(), "saveButton")->isEnabled());
    EXPECT_FALSE(button(view.get(), "standardizeButton")->isEnabled());
    content->setPlainText(QStringLiteral("new body"));
    title->clear();
    EXPECT_FALSE(button(view.get(), "saveButton")->isEnabled());
    QTest::keyClicks(title, QStringLiteral(" "));
    EXPECT_TRUE(button(view.get(), "saveButton")->isEnabled());

    tags->clear();
    QTest::keyClicks(tags, QStringLiteral("a, b,,c , "));
    svc().reset();
    QTest::mouseClick(button(view.get(), "saveButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !view->mode().editing; })) << editError(view.get()).toStdString();
    const QJsonArray puts = requestsWith("PUT", "/api/journal/");
    ASSERT_EQ(puts.size(), 1);
    const QJsonObject entry =
        QJsonDocument::fromJson(puts.at(0).toObject().value("body").toString().toUtf8()).object().value("entry").toObject();
    EXPECT_EQ(entry.value("title").toString(), QStringLiteral(" "));
    EXPECT_EQ(entry.value("content").toString(), QStringLiteral("new body"));
    EXPECT_EQ(entry.value("tags").toArray(), QJsonArray({"a", "b", "c"}));

    QWidget* patched = row(view.get(), QStringLiteral(" "));
    ASSERT_NE(patched, nullptr);
    EXPECT_EQ(patched->findChildren<QLabel*>(QStringLiteral("tagChip")).size(), 3);
    EXPECT_TRUE(requestsWith("GET", "/api/journal").isEmpty()) << "edits patch the list, no reload";

    // An empty tags field sends an empty list.
    openRow(view.get(), QStringLiteral(" "));
    tags->clear();
    QTest::mouseClick(button(view.get(), "saveButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !view->mode().editing; }));
    const QJsonArray second = requestsWith("PUT", "/api/journal/");
    ASSERT_EQ(second.size(), 2);
    EXPECT_EQ(QJsonDocument::fromJson(second.at(1).toObject().value("body").toString().toUtf8())
                  .object().value("entry").toObject().value("tags").toArray(),
              QJsonArray());
}

TEST_F(JournalListViewTest, SaveAndStandardizeFailuresStayOnTheEditScreen)
{
    auto view = open();
    openRow(view.get(), QStringLiteral("Weekly goal"));
    auto* title = child<QLineEdit>(view.get(), "titleField");
    QTest::keyClicks(title, QStringLiteral(" (edited)"));

    svc().fault({{"mode", "status"}, {"status", 500}, {"path", "/api/journal/"}});
    QTest::mouseClick(button(view.get(), "saveButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !editError(view.get()).isEmpty(); }));
    EXPECT_TRUE(editError(view.get()).startsWith(QStringLiteral("Save failed: serverError(500")))
        << editError(view.get()).toStdString();
    EXPECT_TRUE(view->mode().editing);
    EXPECT_EQ(title->text(), QStringLiteral("Weekly goal (edited)"));

    svc().fault({{"mode", "malformed"}, {"path", "/api/journal/normalize"}});
    QTest::mouseClick(button(view.get(), "standardizeButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return editError(view.get()).startsWith("Normalize failed: "); }))
        << editError(view.get()).toStdString();
    EXPECT_GT(editError(view.get()).size(), QStringLiteral("Normalize failed: ").size() + 3);
    EXPECT_EQ(title->text(), QStringLiteral("Weekly goal (edited)"));
    EXPECT_TRUE(button(view.get(), "standardizeButton")->isEnabled());
}

TEST_F(JournalListViewTest, StandardizeFillsTheFieldsAndSelectsThePreview)
{
    auto view = open();
    openRow(view.get(), QStringLiteral("Weekly goal"));
    auto* content = child<QPlainTextEdit>(view.get(), "contentEditor");
    content->setPlainText(QStringLiteral("  german articles der die das\nlearn nouns with articles  "));
    QTest::mouseClick(button(view.get(), "standardizeButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return button(view.get(), "previewSegment")->isChecked(); }))
        << editError(view.get()).toStdString();
    const QJsonArray sent = requestsWith("POST", "/api/journal/normalize");
    ASSERT_FALSE(sent.isEmpty());
    EXPECT_EQ(QJsonDocument::fromJson(sent.last().toObject().value("body").toString().toUtf8()).object().value("text"),
              QStringLiteral("german articles der die das\nlearn nouns with articles"));
    EXPECT_NE(child<QLineEdit>(view.get(), "titleField")->text(), QStringLiteral("Weekly goal"));
    EXPECT_TRUE(child<QWidget>(view.get(), "markdownPreview")->isVisible());
    EXPECT_TRUE(requestsWith("PUT", "/api/journal/").isEmpty()) << "nothing is saved before Save";
}

// A standardize or save that answers after the learner opened another entry
// must leave that entry's fields alone; the list still learns of the save.
TEST_F(JournalListViewTest, LateResultsDoNotLandInAnotherEntry)
{
    auto view = open();
    auto* title = child<QLineEdit>(view.get(), "titleField");
    auto* tags = child<QLineEdit>(view.get(), "tagsField");
    auto* content = child<QPlainTextEdit>(view.get(), "contentEditor");

    svc().fault({{"mode", "delay"}, {"delayMs", 600}, {"path", "/api/journal/normalize"}});
    openRow(view.get(), QStringLiteral("Ser vs. estar"));
    QTest::mouseClick(button(view.get(), "standardizeButton"), Qt::LeftButton);
    QTest::mouseClick(button(view.get(), "backButton"), Qt::LeftButton);
    openRow(view.get(), QStringLiteral("Weekly goal"));
    const QString weeklyContent = content->toPlainText();
    ASSERT_TRUE(waitUntil([&] { return requestsWith("POST", "/api/journal/normalize").size() == 1; }));
    QTest::qWait(900);
    EXPECT_EQ(title->text(), QStringLiteral("Weekly goal"));
    EXPECT_EQ(content->toPlainText(), weeklyContent);
    EXPECT_FALSE(button(view.get(), "previewSegment")->isChecked());
    EXPECT_TRUE(button(view.get(), "standardizeButton")->isEnabled());

    const std::int64_t serId = idOf(*view, QStringLiteral("Ser vs. estar"));
    QTest::mouseClick(button(view.get(), "backButton"), Qt::LeftButton);
    svc().fault({{"mode", "delay"}, {"delayMs", 600}, {"path", "/api/journal/"}});
    openRow(view.get(), QStringLiteral("Ser vs. estar"));
    title->setText(QStringLiteral("Ser and estar"));
    QTest::mouseClick(button(view.get(), "saveButton"), Qt::LeftButton);
    QTest::mouseClick(button(view.get(), "backButton"), Qt::LeftButton);
    openRow(view.get(), QStringLiteral("Weekly goal"));
    tags->setText(QStringLiteral("typing, here"));
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& e : view->entries())
            if (e.id == serId)
                return e.title == QStringLiteral("Ser and estar");
        return false;
    }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->mode().editing);
    EXPECT_EQ(view->mode().id, idOf(*view, QStringLiteral("Weekly goal")));
    EXPECT_EQ(title->text(), QStringLiteral("Weekly goal"));
    EXPECT_EQ(tags->text(), QStringLiteral("typing, here"));
    EXPECT_TRUE(button(view.get(), "saveButton")->isEnabled());
    QTest::mouseClick(button(view.get(), "backButton"), Qt::LeftButton);
    EXPECT_NE(row(view.get(), QStringLiteral("Ser and estar")), nullptr);
}

TEST_F(JournalListViewTest, DeleteAsksFirstAndRemovesTheRow)
{
    auto view = open();
    deleteFromMenu(view.get(), QStringLiteral("Weekly goal"));
    QMessageBox* alert = view->deleteAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("Delete Entry"));
    EXPECT_EQ(alert->informativeText(),
              QStringLiteral("Are you sure you want to delete \"Weekly goal\"? This cannot be undone."));
    QStringList buttons;
    for (QAbstractButton* b : alert->buttons())
        buttons.append(b->text());
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"Cancel", "Delete"}));

    pressAlert(view.get(), QStringLiteral("Cancel"));
    QTest::qWait(100);
    EXPECT_TRUE(requestsWith("DELETE", "/api/journal/").isEmpty());
    EXPECT_EQ(rows(view.get()).size(), 4);

    deleteFromMenu(view.get(), QStringLiteral("Weekly goal"));
    pressAlert(view.get(), QStringLiteral("Delete"));
    ASSERT_TRUE(waitUntil([&] { return rows(view.get()).size() == 3; }));
    EXPECT_EQ(requestsWith("DELETE", "/api/journal/").size(), 1);
    EXPECT_FALSE(rowTitles(view.get()).contains(QStringLiteral("Weekly goal")));
    EXPECT_EQ(rowTitles(view.get()).size(), 3);
}

TEST_F(JournalListViewTest, DeleteFailureReplacesTheList)
{
    auto view = open();
    svc().fault({{"mode", "status"}, {"status", 404}, {"path", "/api/journal/"}});
    deleteFromMenu(view.get(), QStringLiteral("Weekly goal"));
    pressAlert(view.get(), QStringLiteral("Delete"));
    ASSERT_TRUE(waitUntil([&] { return shownText(view.get()).startsWith("Delete failed: "); }));
    EXPECT_TRUE(shownText(view.get()).contains(QStringLiteral("404"))) << shownText(view.get()).toStdString();
    EXPECT_TRUE(rows(view.get()).isEmpty());
    EXPECT_EQ(view->entries().size(), 4);
}

// Each confirmed delete removes the entry that was confirmed, even when a
// second confirmation is raised while the first request is still out.
TEST_F(JournalListViewTest, ASecondConfirmationSurvivesTheFirstDeleteFinishing)
{
    auto view = open();
    svc().fault({{"mode", "delay"}, {"delayMs", 500}, {"path", "/api/journal/"}});
    deleteFromMenu(view.get(), QStringLiteral("Weekly goal"));
    pressAlert(view.get(), QStringLiteral("Delete"));
    deleteFromMenu(view.get(), QStringLiteral("Kanji for places"));
    ASSERT_TRUE(waitUntil([&] { return !rowTitles(view.get()).contains(QStringLiteral("Weekly goal")); }));
    pressAlert(view.get(), QStringLiteral("Delete"));
    ASSERT_TRUE(waitUntil([&] { return rows(view.get()).size() == 2; }));
    EXPECT_FALSE(rowTitles(view.get()).contains(QStringLiteral("Kanji for places")));
    EXPECT_EQ(requestsWith("DELETE", "/api/journal/").size(), 2);
}

TEST_F(JournalListViewTest, DeletingTheOnlyEntryShowsTheEmptyJournal)
{
    auto view = open();
    for (const QString& t : rowTitles(view.get()).mid(1)) {
        deleteFromMenu(view.get(), t);
        pressAlert(view.get(), QStringLiteral("Delete"));
        const qsizetype before = rows(view.get()).size();
        ASSERT_TRUE(waitUntil([&] { return rows(view.get()).size() == before - 1; }));
    }
    ASSERT_EQ(rows(view.get()).size(), 1);
    deleteFromMenu(view.get(), rowTitles(view.get()).first());
    pressAlert(view.get(), QStringLiteral("Delete"));
    ASSERT_TRUE(waitUntil([&] { return rows(view.get()).isEmpty(); }));
    EXPECT_EQ(shownText(view.get()), QStringLiteral("No journal entries yet"));
}

// Rows are built a page at a time; scrolling to the end builds the next.
TEST_F(JournalListViewTest, LongListsBuildMoreRowsAsTheLearnerScrolls)
{
    auto view = open();
    QList<JournalEntryData> many;
    for (int i = 0; i < 100; ++i) {
        JournalEntryData e;
        e.id = 1000 + i;
        e.title = QStringLiteral("Entry %1").arg(i);
        e.tags = QStringList{QStringLiteral("t")};
        many.append(e);
    }
    view->setEntriesForTesting(many);
    const qsizetype first = rows(view.get()).size();
    EXPECT_GT(first, 5);
    EXPECT_LT(first, 100);
    auto* bar = child<QScrollArea>(view.get(), "rowsArea")->verticalScrollBar();
    for (int i = 0; i < 40 && rows(view.get()).size() < 100; ++i) {
        QCoreApplication::processEvents();
        bar->setValue(bar->maximum());
    }
    EXPECT_EQ(rows(view.get()).size(), 100);
    EXPECT_EQ(rowTitles(view.get()).last(), QStringLiteral("Entry 99"));
    search(view.get(), QStringLiteral("Entry 9"));
    EXPECT_EQ(rows(view.get()).size(), 11);
}

TEST_F(JournalListViewTest, CloseButtonDismisses)
{
    auto view = open();
    QTest::mouseClick(child<QWidget>(view.get(), "closeButton"), Qt::LeftButton);
    EXPECT_EQ(dismissals, 1);
}

} // namespace
