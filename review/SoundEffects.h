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

// While an observer is set it is called in place of the playback; nullptr
// restores playback.
void setObserver(std::function<void(Sound)> observer);
// Names another file for the sound library; only a call made before the
// first sound of the process counts.
void setLibraryFile(const QString& fileName);

} // namespace SoundEffects
