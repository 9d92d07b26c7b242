// The baseline for the program's cost at rest: a bare SDL capture of the
// default device at the block size the microphone monitor uses (44100 Hz,
// stereo, 16-bit, 4410-frame blocks), doing nothing with the samples.
// usage: bench_audio_captureloop [seconds]   (runs until killed without one)

#include <SDL.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<long> g_blocks{0};

void onBlock(void *, Uint8 *, int)
{
    ++g_blocks;
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "SDL audio: %s\n", SDL_GetError());
        return 1;
    }
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 4410;
    want.callback = &onBlock;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
    if (device == 0) {
        std::fprintf(stderr, "capture: %s\n", SDL_GetError());
        return 1;
    }
    SDL_PauseAudioDevice(device, 0);
    std::printf("capturing %d Hz, %d frames a block\n", have.freq, int(have.samples));
    std::fflush(stdout);
    for (int i = 0; seconds == 0 || i < seconds; ++i)
        SDL_Delay(1000);
    SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    std::printf("%ld blocks\n", g_blocks.load());
    return 0;
}
