// Decoding files into planes, and the names of the files we can decode. Broken files are tried
// through the instrument's load.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "SampleTestFiles.h"
#include "sample/AudioFileReader.h"
#include "sample/AudioFormats.h"

using namespace vornik;
using namespace vornik::test;
using Status = DecodedAudio::Status;

namespace {

constexpr std::uint32_t kFrames = 70000;  // at 44.1 kHz: must stay 70,000 (no resampling)

// Plane `ch` against channel `ch` of interleaved `v`: the largest and the RMS difference.
std::pair<double, double> difference(const SampleSnapshot& s, int ch, const std::vector<float>& v) {
    double worst = 0.0, sum = 0.0;
    for (std::uint32_t f = 0; f < s.capacity; ++f) {
        const double d =
            s.storage[static_cast<std::size_t>(ch) * s.capacity + f] - v[f * s.channels + ch];
        worst = std::max(worst, std::fabs(d));
        sum += d * d;
    }
    return {worst, std::sqrt(sum / s.capacity)};
}

}  // namespace

TEST(AudioFileReader, DecodesEveryFormatIntoPlanesAtTheFilesOwnRate) {
    // Lossless: exactly libsndfile's floats, within a step of what was written. Lossy: an RMS
    // error far below the tone's level of about 0.37.
    const struct {
        const char* name;
        int format, channels, rate;
        std::uint32_t frames;
        double tolerance;  // largest difference per sample, or the RMS for lossy codecs
        bool lossy = false;
    } cases[] = {
        {"mono16.wav", kWav16, 1, 44100, kFrames, 2.0 / 32768},
        {"three16.wav", kWav16, 3, 44100, kFrames, 2.0 / 32768},
        {"stereo24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 44100, kFrames, 2.0 / 8388608},
        {"quadfloat.wav", kWavFloat, 4, 44100, kFrames, 0.0},
        {"stereo16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, kFrames, 2.0 / 32768},
        {"large.wav", kWav16, 2, 44100, 700000, 2.0 / 32768},  // 5.6 MB of planes
        {"large.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 1, 44100, 1200000, 0.0},
        {"stereo.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, kFrames, 0.02, true},
        {"stereo.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 44100, kFrames, 0.02, true},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        auto written = testSignal(c.frames, c.channels, c.rate);
        written[0] = 1.0f;  // full scale both ways
        written[1] = -1.0f;
        if (!writeAudio(path, c.format, c.rate, c.channels, written)) {
            EXPECT_TRUE(c.lossy) << "cannot write";  // only codecs this libsndfile lacks
            continue;
        }
        const DecodedAudio d = decodeAudioFile(path);
        ASSERT_EQ(d.status, Status::Decoded) << d.reason;
        EXPECT_TRUE(d.readComplete());
        const SampleSnapshot& s = *d.snapshot;
        EXPECT_EQ(s.fileLength, c.frames);
        EXPECT_EQ(s.sampleRate, c.rate);
        EXPECT_EQ(s.channels, c.channels);
        const auto reference = readAudio(path);
        for (int ch = 0; ch < c.channels; ++ch) {
            if (c.lossy) {
                EXPECT_LT(difference(s, ch, written).second, c.tolerance) << "channel " << ch;
            } else {
                EXPECT_EQ(difference(s, ch, reference).first, 0.0) << "channel " << ch;
                EXPECT_LE(difference(s, ch, written).first, c.tolerance) << "channel " << ch;
            }
        }
    }
}

TEST(AudioFileReader, ALyingLengthCostsAddressSpaceNotMemory) {
    // A FLAC header claiming 150 million frames over 5,000 real ones: silent after them.
    TempDir dir;
    const std::string liar = dir.file("liar.flac");
    ASSERT_TRUE(writeAudio(liar, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, testSignal(5000, 2)));
    auto flac = readBytes(liar);
    std::uint64_t info = 0;  // rate 20 bits, channels 3, bits 5, total frames 36, big-endian
    for (int i = 0; i < 8; ++i) info = info << 8 | flac[18 + i];
    const std::uint64_t claimed = 150000000;
    info = (info & ~((std::uint64_t{1} << 36) - 1)) | claimed;
    for (int i = 0; i < 8; ++i) flac[18 + i] = static_cast<unsigned char>(info >> (56 - 8 * i));
    writeBytes(liar, flac);
    const DecodedAudio d = decodeAudioFile(liar);
    ASSERT_EQ(d.status, Status::Decoded) << d.reason;
    EXPECT_EQ(d.framesRead, 5000u);
    EXPECT_EQ(d.snapshot->filledFrames, 5000u);  // the waveform and the slicer scan no further
    ASSERT_EQ(d.snapshot->capacity, claimed);
    EXPECT_NE(d.snapshot->left[4999], 0.0f);
    EXPECT_EQ(d.snapshot->right[claimed - 1], 0.0f);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 600 * 1024) << "KiB";
}

TEST(AudioFormats, ExtensionsComeFromLibsndfileAndMatchInAnyCase) {
    const auto& list = audioFileExtensions();
    for (const char* ext : {"wav", "aiff", "flac", "oga", "rf64"}) {
        EXPECT_NE(std::find(list.begin(), list.end(), ext), list.end()) << ext;
    }
    EXPECT_EQ(std::find(list.begin(), list.end(), "raw"), list.end());
    // mp3 and opus exactly when this libsndfile decodes them.
    SF_INFO mp3{0, 44100, 2, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0, 0};
    SF_INFO opus{0, 48000, 2, SF_FORMAT_OGG | SF_FORMAT_OPUS, 0, 0};
    EXPECT_EQ(isAudioFileName("a.mp3"), sf_format_check(&mp3) != 0);
    EXPECT_EQ(isAudioFileName("a.opus"), sf_format_check(&opus) != 0);
    EXPECT_TRUE(isAudioFileName("/home/me/Loops/take.2.WAV"));
    for (const char* name : {"notes.txt", ".wav", "/music.wav/readme", "song.", ""}) {
        EXPECT_FALSE(isAudioFileName(name)) << name;  // ".wav" is a hidden file's name
    }
}
