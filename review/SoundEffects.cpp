#include "SoundEffects.h"

#include "Log.h"

#include <QLibrary>

#include <canberra.h>

namespace SoundEffects {
namespace {

// libcanberra and its decoders are opened with the first sound rather than
// at start: most of the day the agent plays nothing.
struct CanberraApi {
    decltype(&ca_context_create) contextCreate;
    decltype(&ca_context_change_props) contextChangeProps;
    decltype(&ca_context_play) contextPlay;
};

const char* libraryFileName = nullptr;

const CanberraApi* canberra()
{
    static const CanberraApi* const api = []() -> const CanberraApi* {
        QLibrary library;
        if (libraryFileName)
            library.setFileName(QString::fromLocal8Bit(libraryFileName));
        else
            library.setFileNameAndVersion(QStringLiteral("canberra"), 0);
        static CanberraApi a;
        if (library.load()) {
            a.contextCreate = reinterpret_cast<decltype(a.contextCreate)>(library.resolve("ca_context_create"));
            a.contextChangeProps
                = reinterpret_cast<decltype(a.contextChangeProps)>(library.resolve("ca_context_change_props"));
            a.contextPlay = reinterpret_cast<decltype(a.contextPlay)>(library.resolve("ca_context_play"));
            if (a.contextCreate && a.contextChangeProps && a.contextPlay)
                return &a;
        }
        log(QStringLiteral("Sounds unavailable: ") + library.errorString());
        return nullptr;
    }();
    return api;
}

std::function<void(Sound)>& observer()
{
    static std::function<void(Sound)> instance;
    return instance;
}

// One context for the whole process, made on the first sound. The driver is
// opened by the first play and again by later ones while no sound server
// answers, so a server that appears later is still used.
ca_context* context()
{
    static ca_context* const instance = []() -> ca_context* {
        const CanberraApi* api = canberra();
        ca_context* made = nullptr;
        if (!api || api->contextCreate(&made) != CA_SUCCESS)
            return nullptr;
        api->contextChangeProps(made, CA_PROP_APPLICATION_NAME, "TavloPopup", CA_PROP_APPLICATION_ID,
                                "com.tavlo.popup", nullptr);
        return made;
    }();
    return instance;
}

void play(Sound sound)
{
    if (const auto& watch = observer()) {
        watch(sound);
        return;
    }
    ca_context* ctx = context();
    if (!ctx)
        return;
    // Asynchronous: returns as soon as playback is queued; errors (no
    // device, no theme file) mean silence and are not reported.
    canberra()->contextPlay(ctx, 0, CA_PROP_EVENT_ID, themeSoundName(sound), CA_PROP_EVENT_DESCRIPTION,
                    sound == Sound::correct ? "Correct answer" : "Wrong answer", nullptr);
}

} // namespace

// "complete" is the bright chime of the freedesktop theme, the nearest to a
// glass ping; "dialog-warning" is its low, non-alarming negative tone.
const char* themeSoundName(Sound sound)
{
    return sound == Sound::correct ? "complete" : "dialog-warning";
}

void playCorrect()
{
    play(Sound::correct);
}

void playIncorrect()
{
    play(Sound::incorrect);
}

void setObserverForTesting(std::function<void(Sound)> watch)
{
    observer() = std::move(watch);
}

void setLibraryForTesting(const char* fileName)
{
    libraryFileName = fileName;
}

} // namespace SoundEffects
