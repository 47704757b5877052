#pragma once
#include <QLocale>

// The agent's texts in the learner's language: its own catalogue (built into
// the binary under :/i18n) and Qt's, for the texts of standard dialogs and
// shortcuts. English needs none: the source texts are the English ones.
namespace Translations {
// Replaces the catalogues installed by an earlier call with those for
// `locale`; true when the agent has a catalogue for it.
bool install(const QLocale& locale = QLocale());
} // namespace Translations
