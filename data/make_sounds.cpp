// Build-time generator of the alarm sounds that come with Tarvo2: writes
// each sound as a 16-bit mono WAV file into the folder given as argument.
// The sounds are synthesised here, so they are the project's own.

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int Rate = 22050;
constexpr double Pi = 3.14159265358979323846;

// Short linear fades at both ends keep the start and the end free of clicks.
double envelope(double t, double length)
{
    const double fade = 0.02;
    if (t < fade)
        return t / fade;
    if (t > length - fade)
        return std::max(0.0, (length - t) / fade);
    return 1.0;
}

// The signal is given as a running phase: freq(t) is integrated sample by
// sample, so frequency sweeps stay continuous.
std::vector<short> render(double seconds, const std::function<double(double, double &)> &sample)
{
    std::vector<short> out(static_cast<size_t>(seconds * Rate));
    double phase = 0.0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = double(i) / Rate;
        const double v = sample(t, phase) * envelope(t, seconds);
        out[i] = static_cast<short>(std::lround(std::clamp(v, -1.0, 1.0) * 32000.0));
    }
    return out;
}

// A siren: the pitch sweeps up and down between 600 and 1400 Hz.
std::vector<short> siren()
{
    return render(4.0, [](double t, double &phase) {
        const double sweep = 0.5 - 0.5 * std::cos(2 * Pi * t / 2.0); // 2 s per cycle
        const double freq = 600.0 + 800.0 * sweep;
        phase += 2 * Pi * freq / Rate;
        // A little of the third harmonic gives it an edge.
        return 0.75 * std::sin(phase) + 0.15 * std::sin(3 * phase);
    });
}

// A two-tone horn: 440 Hz and 587 Hz alternate every half second.
std::vector<short> horn()
{
    return render(3.0, [](double t, double &phase) {
        const bool high = std::fmod(t, 1.0) >= 0.5;
        const double freq = high ? 587.33 : 440.0;
        phase += 2 * Pi * freq / Rate;
        double v = 0.0; // a few odd harmonics: a reedy, horn-like tone
        for (int k = 1; k <= 7; k += 2)
            v += std::sin(k * phase) / k;
        return 0.6 * v;
    });
}

// A bell: three strikes of inharmonic partials that ring out.
std::vector<short> bell()
{
    return render(3.0, [](double t, double &) {
        const double strike = std::fmod(t, 1.0);
        const double base = 880.0;
        const double partials[][2] = {{1.0, 1.0}, {2.76, 0.5}, {5.40, 0.25}, {8.93, 0.12}};
        double v = 0.0;
        for (const auto &p : partials)
            v += p[1] * std::sin(2 * Pi * base * p[0] * strike) *
                 std::exp(-strike * (2.5 + 3.0 * p[0] / 2.0));
        return 0.55 * v;
    });
}

bool writeWav(const std::string &path, const std::vector<short> &samples)
{
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "make_sounds: cannot write %s: %s\n", path.c_str(),
                     sf_strerror(nullptr));
        return false;
    }
    const sf_count_t written = sf_write_short(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
    return written == sf_count_t(samples.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sounds OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = writeWav(folder + "/Tarvo2 Siren.wav", siren()) &&
                    writeWav(folder + "/Tarvo2 Horn.wav", horn()) &&
                    writeWav(folder + "/Tarvo2 Bell.wav", bell());
    return ok ? 0 : 1;
}
