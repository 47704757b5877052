#include "review/ReviewWidgets.h"

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

} // namespace
