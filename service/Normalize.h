// Text rules the service shares between its parts: the journal's standardize
// step and the form in which two cards count as the same.
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

} // namespace study
