#include "app/DemoSample.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/Log.h"

namespace vornik {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTempo = 0.25;  // seconds per eighth note, 120 beats a minute

// Noise from a fixed seed: the file is the same on every run.
class Noise {
public:
    float next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<float>(state_) / 2147483648.0f - 1.0f;
    }

private:
    std::uint32_t state_ = 0x2545f491u;
};

struct Stereo {
    std::vector<float>& frames;
    void add(std::size_t frame, double left, double right) {
        if (2 * frame + 1 >= frames.size()) return;
        frames[2 * frame] += static_cast<float>(left);
        frames[2 * frame + 1] += static_cast<float>(right);
    }
};

std::size_t frameAt(double seconds) { return static_cast<std::size_t>(seconds * kDemoSampleRate); }

// 1, falling to 0 over the last 5 ms of a hit `length` frames long: no click where it stops.
double tail(std::size_t i, std::size_t length) {
    const double fade = 0.005 * kDemoSampleRate;
    return std::min(1.0, static_cast<double>(length - i) / fade);
}

void kick(Stereo out, double start, double gain) {
    double phase = 0.0;
    const std::size_t first = frameAt(start);
    const std::size_t length = frameAt(0.8);
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kDemoSampleRate;
        const double frequency = 48.0 + 110.0 * std::exp(-t * 28.0);
        phase += 2.0 * kPi * frequency / kDemoSampleRate;
        const double click = i < 40 ? (1.0 - i / 40.0) * 0.4 : 0.0;
        const double v = gain * tail(i, length) * (std::sin(phase) * std::exp(-t * 7.0) + click);
        out.add(first + i, v, v);
    }
}

void snare(Stereo out, Noise& noise, double start, double gain) {
    double low = 0.0;
    const std::size_t first = frameAt(start);
    const std::size_t length = frameAt(0.3);
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kDemoSampleRate;
        const double n = noise.next();
        low += 0.25 * (n - low);
        const double rattle = (n - low) * std::exp(-t * 22.0);  // the noise's upper part
        const double body = std::sin(2.0 * kPi * 185.0 * t) * std::exp(-t * 30.0);
        const double v = gain * tail(i, length) * (0.8 * rattle + 0.6 * body);
        out.add(first + i, v * 1.0, v * 0.8);  // a little to the left
    }
}

void hat(Stereo out, Noise& noise, double start, double gain) {
    double previous = 0.0;
    const std::size_t first = frameAt(start);
    const std::size_t length = frameAt(0.12);
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kDemoSampleRate;
        const double n = noise.next();
        const double high = n - previous;  // a first difference: the hiss only
        previous = n;
        const double v = gain * tail(i, length) * 0.5 * high * std::exp(-t * 45.0);
        out.add(first + i, v * 0.75, v * 1.0);  // a little to the right
    }
}

// A soft, slightly detuned chord that rings out to the end.
void chord(Stereo out, double start, double end) {
    const double notes[] = {220.0, 261.63, 329.63, 392.0, 493.88};  // A minor 9
    const std::size_t first = frameAt(start);
    const std::size_t count = frameAt(end - start);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kDemoSampleRate;
        const double attack = std::min(1.0, t / 0.015);
        const double release = std::min(1.0, (end - start - t) / 0.05);  // no click at the end
        const double envelope = attack * release * std::exp(-t * 1.1);
        double left = 0.0, right = 0.0;
        for (double f : notes) {
            for (int h = 1; h <= 4; ++h) {
                const double amp = 1.0 / (h * h);
                left += amp * std::sin(2.0 * kPi * f * h * 0.998 * t);
                right += amp * std::sin(2.0 * kPi * f * h * 1.002 * t);
            }
        }
        out.add(first + i, 0.09 * envelope * left, 0.09 * envelope * right);
    }
}

}  // namespace

std::vector<float> synthesizeDemoSample() {
    std::vector<float> frames(2 * frameAt(kDemoSeconds), 0.0f);
    Stereo out{frames};
    Noise noise;
    kick(out, 0 * kTempo, 0.9);
    hat(out, noise, 1 * kTempo, 0.5);
    snare(out, noise, 2 * kTempo, 0.7);
    hat(out, noise, 3 * kTempo, 0.4);
    kick(out, 4 * kTempo, 0.9);
    kick(out, 5 * kTempo, 0.6);
    snare(out, noise, 6 * kTempo, 0.7);
    hat(out, noise, 7 * kTempo, 0.5);
    kick(out, 8 * kTempo, 0.8);
    chord(out, 8 * kTempo, kDemoSeconds);

    float peak = 0.0f;
    for (float v : frames) peak = std::max(peak, std::fabs(v));
    const float target = static_cast<float>(std::pow(10.0, -1.0 / 20.0));
    if (peak > 0.0f) {
        for (float& v : frames) v *= target / peak;
    }
    return frames;
}

bool writeDemoSample(const std::string& path) {
    const std::vector<float> frames = synthesizeDemoSample();
    SF_INFO info{};
    info.samplerate = kDemoSampleRate;
    info.channels = kDemoChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        logf("cannot write \"%s\": %s", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t count = static_cast<sf_count_t>(frames.size() / kDemoChannels);
    const bool ok = sf_writef_float(file, frames.data(), count) == count;
    if (!ok) logf("cannot write \"%s\": %s", path.c_str(), sf_strerror(file));
    sf_close(file);
    return ok;
}

}  // namespace vornik
