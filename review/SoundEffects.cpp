#include "review/SoundEffects.h"

#include "core/OnDemandLibrary.h"

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

QString& libraryFileName()
{
    static QString name;
    return name;
}

const CanberraApi* canberra()
{
    static const CanberraApi* const api = []() -> const CanberraApi* {
        static CanberraApi a;
        OnDemandLibrary library(QStringLiteral("canberra"), 0, libraryFileName());
        library.resolve("ca_context_create", a.contextCreate)
            .resolve("ca_context_change_props", a.contextChangeProps)
            .resolve("ca_context_play", a.contextPlay);
        return library.usable(QStringLiteral("Sounds")) ? &a : nullptr;
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

void setObserver(std::function<void(Sound)> watch)
{
    observer() = std::move(watch);
}

void setLibraryFile(const QString& fileName)
{
    libraryFileName() = fileName;
}

} // namespace SoundEffects
