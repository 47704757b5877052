#pragma once

#include "review/SoundEffects.h"

#include <vector>

// Records the feedback sounds instead of playing them, for one test.
struct SoundRecorder {
    SoundRecorder() { SoundEffects::setObserver([this](SoundEffects::Sound s) { played.push_back(s); }); }
    ~SoundRecorder() { SoundEffects::setObserver(nullptr); }
    std::vector<SoundEffects::Sound> played;
};

inline constexpr auto correctSound = SoundEffects::Sound::correct;
inline constexpr auto incorrectSound = SoundEffects::Sound::incorrect;
