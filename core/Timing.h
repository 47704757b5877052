#pragma once
// Every wait of the agent, in one place: how long each one is as shipped, and
// what it lasts in this process. Tests make all of them shorter at once with
// a ScopedScale; nothing else in the agent knows that tests exist. The waits
// themselves are ordinary QTimers, so a shortened wait still runs through the
// event loop like the real one.
#include <chrono>
#include <functional>

class QObject;
class QTimer;

namespace Timing {

// As shipped, in seconds.
inline constexpr double popupInterval = 300;      // start value of both popup bounds
inline constexpr double autoDismiss = 60;         // an unanswered card closes itself
inline constexpr double afterAnswer = 2;          // the result stays up after the review
inline constexpr double requestTimeout = 15;      // one request to the study service
inline constexpr double slowRequestTimeout = 30;  // quick notes and standardize
inline constexpr double keyringCall = 3;          // one keyring call before it is given up
inline constexpr double keyringBackOff = 10;      // the keyring is left alone after a time-out
inline constexpr double instanceHandover = 5;     // a second launch waits for the running agent
inline constexpr double framePlaced = 0.5;        // the window manager frames and places a new panel
inline constexpr double trayWatcherAnswer = 25;   // a StatusNotifierWatcher's answer to a registration
inline constexpr double keyringUnlock = 120;      // an unlock prompt on screen waits for the learner
inline constexpr double keyringPromptPause = 300; // no new unlock prompt for reads after one was dismissed
inline constexpr double draftSaveDelay = 0.5;     // typing pause before a draft is stored
inline constexpr double noteSavedClose = 2;       // "Saved to Journal" stays up
inline constexpr double outboxRetryFirst = 30;    // first wait before waiting answers are sent again
inline constexpr double outboxRetryLongest = 900; // the wait doubles up to this
inline constexpr double formLeftAlone = 180;      // a form untouched this long no longer holds back a timed popup
inline constexpr double afterDeferral = 30;       // a held-back popup comes this long after its form was left
inline constexpr double presenceRecheck = 5;     // the desktop is asked again while a popup waits for a locked screen or do-not-disturb
inline constexpr double afterPresence = 2;        // a held-back popup comes this long after the screen is seen again
inline constexpr double awayFromDesk = 180;       // no key or pointer input this long: nobody would see a popup
inline constexpr double cardInputGuard = 0.5;     // keys and clicks a card ignores right after it appears


// What a wait of `seconds` lasts in this process.
double scaled(double seconds);
// The same for a wait on something outside the agent that may answer late: a
// request, a keyring call, a tray host, another agent process. A test may
// shorten these less than the agent's own pacing, so that a loaded machine
// does not turn every answer into a time-out.
double scaledDeadline(double seconds);
std::chrono::milliseconds deadlineInterval(double seconds);
// The longest a card session runs by itself (scaled): the fetch and the
// review, each with the token read, one refused request, the re-login
// (credentials read, request, token stored) and the repeat; the unanswered
// card; the result.
double cardSessionLimit();
// What a measured wait of `seconds` in this process counts as when shipped.
double unscaled(double seconds);
// The same as a timer interval: rounded up, at least one millisecond.
std::chrono::milliseconds interval(double seconds);

// Starts a single-shot timer, a child of `parent`, that runs `then` once no
// earlier than `seconds` (scaled) from now and then deletes itself. Qt's
// default coarse timers fire up to 5 % early, and long ones on a whole second.
QTimer* startOneShot(double seconds, QObject* parent, std::function<void()> then);

// Multiplies every wait by `factor` (> 0) for its lifetime, or the pacing
// and the deadlines each by their own; nests.
class ScopedScale {
public:
    explicit ScopedScale(double factor) : ScopedScale(factor, factor) {}
    ScopedScale(double pacing, double deadlines);
    ~ScopedScale();
    ScopedScale(const ScopedScale&) = delete;
    ScopedScale& operator=(const ScopedScale&) = delete;

private:
    double previous_;
    double previousDeadlines_;
};

} // namespace Timing
