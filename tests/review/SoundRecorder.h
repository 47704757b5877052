#pragma once

#include "SoundEffects.h"

#include <vector>

// Records the feedback sounds instead of playing them, for one test.
class SoundRecorder {
public:
    SoundRecorder()
    {
        SoundEffects::setObserverForTesting([this](SoundEffects::Sound sound) { played.push_back(sound); });
    }
    ~SoundRecorder() { SoundEffects::setObserverForTesting(nullptr); }
    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

    std::vector<SoundEffects::Sound> played;
};

inline constexpr auto correctSound = SoundEffects::Sound::correct;
inline constexpr auto incorrectSound = SoundEffects::Sound::incorrect;
