#pragma once
// SDL, loaded by the thread that first opens the sound devices instead of
// with the program: linked in, it and what it pulls in (ALSA, DRM, GBM,
// Wayland's and X's extras) cost every start several milliseconds in the
// dynamic loader before the window can show.

#include <QString>
#include <SDL.h>

struct SdlLibrary
{
    decltype(&SDL_GetVersion) getVersion = nullptr;
    decltype(&SDL_SetHint) setHint = nullptr;
    decltype(&SDL_InitSubSystem) initSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) quitSubSystem = nullptr;
    decltype(&SDL_AudioInit) audioInit = nullptr;
    decltype(&SDL_GetCurrentAudioDriver) currentAudioDriver = nullptr;
    decltype(&SDL_GetNumAudioDevices) numAudioDevices = nullptr;
    decltype(&SDL_OpenAudioDevice) openAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) pauseAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) closeAudioDevice = nullptr;
    decltype(&SDL_GetAudioDeviceStatus) audioDeviceStatus = nullptr;
    decltype(&SDL_TLSCleanup) tlsCleanup = nullptr;
    decltype(&SDL_free) free = nullptr;
    // From SDL 2.24 on; null with an older one.
    using DefaultAudioInfo = int (*)(char **, SDL_AudioSpec *, int);
    DefaultAudioInfo defaultAudioInfo = nullptr;

    // Loads SDL once, from any thread; nullptr when it cannot be loaded,
    // with the reason in *problem. It stays loaded.
    static const SdlLibrary *Get(QString *problem = nullptr);
};
