// The pieces the journal views are built from, on their own: one row of the
// browser and the note editors' Edit/Preview pane.

#include "journal/JournalRow.h"
#include "journal/JournalText.h"
#include "journal/MarkdownPreview.h"
#include "journal/NoteEditorPane.h"
#include "TestSupport.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

QStringList labelTexts(const QWidget& in, const char* name)
{
    QStringList out;
    for (QLabel* l : in.findChildren<QLabel*>(QString::fromLatin1(name)))
        out.append(l->text());
    return out;
}

TEST(JournalRow, ShowsTheFirstTitleLineTheDateAndFourTagsThenACount)
{
    const JournalEntryData entry{7, QStringLiteral("Ser vs. estar\nsecond line"), QStringLiteral("body"),
                                 QStringList{"one", "two", "three", "four", "five", "six"},
                                 QStringLiteral("2024-03-05T10:00:00Z"), {}};
    JournalRow row(entry);
    EXPECT_EQ(row.objectName(), QStringLiteral("entryRow"));
    EXPECT_EQ(labelTexts(row, "rowTitle"), QStringList{"Ser vs. estar"});
    EXPECT_EQ(row.findChild<QLabel*>(QStringLiteral("rowTitle"))->toolTip(), entry.title);
    EXPECT_EQ(labelTexts(row, "rowDate"), QStringList{JournalText::formatEntryDate(*entry.insertedAt)});
    EXPECT_EQ(labelTexts(row, "tagChip"), (QStringList{"one", "two", "three", "four"}));
    EXPECT_EQ(labelTexts(row, "moreTags"), QStringList{"+2"});

    // Four tags or fewer need no count; no tags, no chips; no date, no date label.
    JournalRow four({8, QStringLiteral("Four"), {}, QStringList{"a", "b", "c", "d"}, {}, {}});
    EXPECT_EQ(labelTexts(four, "tagChip").size(), 4);
    EXPECT_TRUE(labelTexts(four, "moreTags").isEmpty());
    EXPECT_TRUE(labelTexts(four, "rowDate").isEmpty());
    JournalRow bare({9, QStringLiteral("Bare"), {}, QStringList{}, {}, {}});
    EXPECT_TRUE(labelTexts(bare, "tagChip").isEmpty());
    EXPECT_TRUE(labelTexts(bare, "moreTags").isEmpty());
}

TEST(JournalRow, LongTitlesAndTagsAreElidedButKeptWholeInTheTooltip)
{
    const QString title = QStringLiteral("A note with many tags and a rather long title that will not fit anywhere");
    const QString tag = QStringLiteral("averyveryverylongtagthatdoesnotfit");
    JournalRow row({1, title, {}, QStringList{tag}, QStringLiteral("2024-03-05T10:00:00Z"), {}});
    const QString shown = labelTexts(row, "rowTitle").value(0);
    EXPECT_LT(shown.size(), title.size());
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_EQ(row.findChild<QLabel*>(QStringLiteral("rowTitle"))->toolTip(), title);
    EXPECT_TRUE(labelTexts(row, "tagChip").value(0).endsWith(QChar(0x2026)));
}

TEST(JournalRow, ATapOpensTheMenuEditsOrDeletes)
{
    JournalRow row({1, QStringLiteral("Entry"), {}, {}, {}, {}});
    row.resize(300, 60);
    row.show();
    QSignalSpy opened(&row, &JournalRow::openRequested);
    QSignalSpy deleted(&row, &JournalRow::deleteRequested);

    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(opened.size(), 1);
    // Pressed on the row but let go outside it: not a tap.
    QTest::mousePress(&row, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseRelease(&row, Qt::LeftButton, {}, QPoint(20, 200));
    QTest::mouseClick(&row, Qt::RightButton, {}, QPoint(20, 10));
    EXPECT_EQ(opened.size(), 1);

    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), row.mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(&row, &event);
    auto* menu = row.findChild<QMenu*>(QStringLiteral("entryMenu"));
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            texts.append(a->text());
    EXPECT_EQ(texts, (QStringList{"Edit", "Delete"}));
    menu->actions().first()->trigger();
    EXPECT_EQ(opened.size(), 2);
    EXPECT_EQ(deleted.size(), 0);
    menu->actions().last()->trigger();
    EXPECT_EQ(deleted.size(), 1);
    EXPECT_EQ(opened.size(), 2);
    menu->close();
}

TEST(NoteEditorPane, OnlyEditsOtherThanSetEditorTextAreReported)
{
    NoteEditorPane pane(QStringLiteral("someEditor"));
    pane.show();
    auto* editor = pane.findChild<QPlainTextEdit*>(QStringLiteral("someEditor"));
    ASSERT_EQ(editor, pane.editor());
    QSignalSpy edited(&pane, &NoteEditorPane::edited);

    pane.setEditorText(QStringLiteral("from the form"));
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("from the form"));
    EXPECT_EQ(edited.size(), 0);

    editor->setPlainText(QStringLiteral("ab"));
    QTest::keyClicks(editor, QStringLiteral("c"));
    ASSERT_EQ(edited.size(), 2);
    EXPECT_EQ(edited.at(0).at(0).toString(), QStringLiteral("ab"));
    EXPECT_EQ(edited.at(1).at(0).toString(), editor->toPlainText());
    EXPECT_TRUE(editor->toPlainText().contains(QLatin1Char('c')));
}

TEST(NoteEditorPane, SegmentsReportThePickAndTheFormSwitchesTheSide)
{
    NoteEditorPane pane(QStringLiteral("someEditor"));
    pane.show();
    auto* edit = pane.findChild<QPushButton*>(QStringLiteral("editSegment"));
    auto* preview = pane.findChild<QPushButton*>(QStringLiteral("previewSegment"));
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("Edit"));
    EXPECT_EQ(preview->text(), QStringLiteral("Preview"));
    QSignalSpy picked(&pane, &NoteEditorPane::previewPicked);

    QTest::mouseClick(preview, Qt::LeftButton);
    QTest::mouseClick(edit, Qt::LeftButton);
    ASSERT_EQ(picked.size(), 2);
    EXPECT_TRUE(picked.at(0).at(0).toBool());
    EXPECT_FALSE(picked.at(1).at(0).toBool());

    pane.setEditorText(QStringLiteral("in the editor"));
    pane.showPreview(QStringLiteral("# Heading\n**bold** text"));
    EXPECT_TRUE(preview->isChecked());
    EXPECT_FALSE(edit->isChecked());
    EXPECT_TRUE(pane.preview()->isVisible());
    EXPECT_FALSE(pane.editor()->isVisible());
    pane.preview()->finishRendering();
    EXPECT_EQ(pane.preview()->toPlainText(), QStringLiteral("Heading\nbold text"));
    EXPECT_EQ(pane.editor()->toPlainText(), QStringLiteral("in the editor")) << "the preview leaves the editor alone";

    pane.showEditor();
    EXPECT_TRUE(edit->isChecked());
    EXPECT_FALSE(preview->isChecked());
    EXPECT_TRUE(pane.editor()->isVisible());
    EXPECT_FALSE(pane.preview()->isVisible());
}

} // namespace
