// Text forms the study service compares by.
#pragma once

#include <QString>

namespace study {

// The form in which two card texts are the same card: NFC, every run of
// whitespace one space, trimmed, case-folded ("Haus " and "haus" match).
QString canonicalCardText(const QString& text);

} // namespace study
