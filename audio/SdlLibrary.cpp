#include "audio/SdlLibrary.h"

#include "files/LateLibrary.h"

const SdlLibrary *SdlLibrary::Get(QString *problem)
{
    return LoadOnce<SdlLibrary>(problem, [](SdlLibrary &sdl, QString &failure) {
        static QLibrary library(QStringLiteral("SDL2-2.0"), 0);
        if (!library.load()) {
            failure =
                QStringLiteral("the SDL library could not be loaded (%1)").arg(library.errorString());
            return false;
        }
        const bool complete = ResolveInto(library, "SDL_GetVersion", sdl.getVersion) &&
                              ResolveInto(library, "SDL_SetHint", sdl.setHint) &&
                              ResolveInto(library, "SDL_InitSubSystem", sdl.initSubSystem) &&
                              ResolveInto(library, "SDL_QuitSubSystem", sdl.quitSubSystem) &&
                              ResolveInto(library, "SDL_AudioInit", sdl.audioInit) &&
                              ResolveInto(library, "SDL_GetCurrentAudioDriver",
                                          sdl.currentAudioDriver) &&
                              ResolveInto(library, "SDL_GetNumAudioDevices", sdl.numAudioDevices) &&
                              ResolveInto(library, "SDL_OpenAudioDevice", sdl.openAudioDevice) &&
                              ResolveInto(library, "SDL_PauseAudioDevice", sdl.pauseAudioDevice) &&
                              ResolveInto(library, "SDL_CloseAudioDevice", sdl.closeAudioDevice) &&
                              ResolveInto(library, "SDL_GetAudioDeviceStatus",
                                          sdl.audioDeviceStatus) &&
                              ResolveInto(library, "SDL_TLSCleanup", sdl.tlsCleanup) &&
                              ResolveInto(library, "SDL_free", sdl.free);
        if (!complete) {
            failure = QStringLiteral("the SDL library %1 lacks a function (%2)")
                          .arg(library.fileName(), library.errorString());
            return false;
        }
        ResolveInto(library, "SDL_GetDefaultAudioInfo", sdl.defaultAudioInfo);
        return true;
    });
}
