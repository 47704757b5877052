#pragma once
// Every wait of the agent, in one place: how long each one is as shipped, and
// what it lasts in this process. Tests make all of them shorter at once with
// a ScopedScale; nothing else in the agent knows that tests exist. The waits
// themselves are ordinary QTimers, so a shortened wait still runs through the
// event loop like the real one.
#include <chrono>

namespace Timing {

// As shipped, in seconds.
inline constexpr double popupInterval = 300;      // start value of both popup bounds
inline constexpr double autoDismiss = 60;         // an unanswered card closes itself
inline constexpr double afterAnswer = 2;          // the result stays up after the review
inline constexpr double requestTimeout = 15;      // one request to the study service
inline constexpr double slowRequestTimeout = 30;  // quick notes and standardize
inline constexpr double keyringCall = 3;          // one keyring call before it is given up
inline constexpr double keyringBackOff = 10;      // the keyring is left alone after a time-out
inline constexpr double keyringUnlock = 120;      // an unlock prompt on screen waits for the learner
inline constexpr double keyringPromptPause = 300; // no new unlock prompt for reads after one was dismissed
inline constexpr double trayRetry = 5;            // between two looks for a system tray
inline constexpr double draftSaveDelay = 0.5;     // typing pause before a draft is stored
inline constexpr double noteSavedClose = 2;       // "Saved to Journal" stays up
inline constexpr double outboxRetryFirst = 30;    // first wait before waiting answers are sent again
inline constexpr double outboxRetryLongest = 900; // the wait doubles up to this

// What a wait of `seconds` lasts in this process.
double scaled(double seconds);
// The same as a timer interval: rounded up, at least one millisecond.
std::chrono::milliseconds interval(double seconds);

// Multiplies every wait by `factor` (> 0) for its lifetime; nests.
class ScopedScale {
public:
    explicit ScopedScale(double factor);
    ~ScopedScale();
    ScopedScale(const ScopedScale&) = delete;
    ScopedScale& operator=(const ScopedScale&) = delete;

private:
    double previous_;
};

} // namespace Timing
