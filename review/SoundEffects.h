#pragma once

#include <QString>

#include <functional>

// Short feedback sounds after an answer. Fire and forget: playback runs in the
// background, and without a sound server or sound theme nothing is heard.
namespace SoundEffects {

enum class Sound { correct, incorrect };

void playCorrect();
void playIncorrect();

// The freedesktop theme sound played for each feedback.
const char* themeSoundName(Sound sound);

// Tests observe the feedback instead of hearing it: while an observer is set
// it is called in place of the playback. Pass nullptr to restore playback.
void setObserverForTesting(std::function<void(Sound)> observer);
// Tests name another file for the sound library; only a call made before the
// first sound of the process counts.
void setLibraryForTesting(const QString& fileName);

} // namespace SoundEffects
