#include "review/ReviewWidgets.h"
#include "review/TypingView.h"

#include <QGlyphRun>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

// An empty centred field with the focus shows its placeholder in the middle
// with the cursor at the placeholder's start, not inside it; once typed into,
// the text is centred.
TEST(CentredField, CursorStartsAtThePlaceholder)
{
    CentredField field;
    field.setPlaceholderText(QStringLiteral("Type your answer..."));
    field.resize(372, 36);
    field.show();
    field.activateWindow();
    field.setFocus();
    field.repaint();
    const int placeholder = field.fontMetrics().horizontalAdvance(field.placeholderText());
    const int cursor = field.inputMethodQuery(Qt::ImCursorRectangle).toRect().left();
    EXPECT_NEAR(cursor, (field.width() - placeholder) / 2, 8) << "field " << field.width() << ", placeholder " << placeholder;
    field.setText(QStringLiteral("ab"));
    EXPECT_EQ(field.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(field.textMargins().left(), 0);
}

// A card in any of the learners' scripts shows real glyphs through Qt's font
// fallback: no character ends as the empty box of a font's .notdef glyph.
TEST(CardText, EveryScriptHasGlyphs)
{
    const char* cards[] = {"la pomme · l'été", "собака", "ΣΑΣ σας", "日本語を話します", "中文 汉字", "한국어 사전"};
    for (const char* text : cards) {
        TypingView view(QString::fromUtf8(text), QStringLiteral("x"), [](int) {});
        auto* label = view.findChild<QLabel*>(QStringLiteral("promptText"));
        ASSERT_NE(label, nullptr);
        QTextLayout layout(label->text(), label->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns())
            for (quint32 glyph : run.glyphIndexes())
                EXPECT_NE(glyph, 0u) << text << " in " << run.rawFont().familyName().toStdString();
    }
}

} // namespace
