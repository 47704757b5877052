// Text rules the service shares between its parts: the journal's standardize
// step, the form in which two cards count as the same, what a card holds.
#pragma once

#include <QString>
#include <QStringList>

namespace study {

// The standardised proposal for a raw note: title, markdown, tags.
struct Normalized {
    QString title;
    QString content;
    QStringList tags;
};
Normalized normalizeNote(const QString& text);

// The form two card sides are compared in: NFC, runs of white space made one
// space, trimmed, case-folded. "Der  Apfel" and "der apfel" are the same card.
QString canonicalCardText(const QString& text);

// Neither a byte order mark (a file joined from several has them inside, and
// QString::fromUtf8 would drop one only at a field's start) nor a control
// character but tab and line break is part of a card.
inline bool isJunkInCard(char32_t c)
{
    return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F || c == 0xFEFF;
}

} // namespace study
