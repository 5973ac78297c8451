// Decoding files into planes: the formats we write ourselves, and files that are broken.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "AudioFileHelpers.h"
#include "sample/AudioFileReader.h"
#include "sample/AudioFormats.h"

using namespace vornik;
using test::TempDir;

namespace {

constexpr std::uint32_t kFrames = 70000;  // at 44.1 kHz: must stay 70,000 (no resampling)

struct Case {
    const char* name;
    int format;
    int channels;
    int rate;
    double tolerance;  // largest difference per sample; lossy codecs are judged by RMS instead
    bool lossy = false;
};

double rmsDifference(const float* plane, const std::vector<float>& interleaved, int channel,
                     int channels, std::uint32_t frames) {
    double sum = 0.0;
    for (std::uint32_t f = 0; f < frames; ++f) {
        const double d = plane[f] - interleaved[std::size_t{f} * channels + channel];
        sum += d * d;
    }
    return std::sqrt(sum / frames);
}

}  // namespace

TEST(AudioFileReader, DecodesEveryFormatIntoPlanesAtTheFilesOwnRate) {
    const Case cases[] = {
        {"mono16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 2.0 / 32768},
        {"stereo16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 2.0 / 32768},
        {"quad16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4, 44100, 2.0 / 32768},
        {"stereo24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 44100, 2.0 / 8388608},
        {"stereofloat.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 0.0},
        {"quadfloat.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 4, 44100, 0.0},
        {"stereo16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 44100, 2.0 / 32768},
        {"stereo16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, 2.0 / 32768},
        {"mono24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, 44100, 2.0 / 8388608},
        // Lossy: the RMS error against the tone stays far below its level of about 0.37, and
        // below the 0.7 of a copy misaligned by half a period.
        {"stereo.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, 0.02, true},
        {"stereo.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 2, 48000, 0.1, true},
        {"stereo.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 2, 44100, 0.02, true},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        const auto written = test::testSignal(kFrames, c.channels, c.rate);
        if (!test::writeAudio(path, c.format, c.rate, c.channels, written)) {
            // Only codecs this libsndfile lacks may be skipped.
            EXPECT_TRUE(c.lossy) << "cannot write " << c.name;
            continue;
        }
        const DecodedAudio d = decodeAudioFile(path);
        ASSERT_EQ(d.status, DecodedAudio::Status::Decoded) << d.reason;
        EXPECT_TRUE(d.readComplete());
        EXPECT_EQ(d.readError, 0);
        const SampleSnapshot& s = *d.snapshot;
        EXPECT_TRUE(s.playable());
        EXPECT_EQ(s.capacity, kFrames);
        EXPECT_EQ(s.fileBufferLength, kFrames);
        EXPECT_EQ(s.fileLength, kFrames);
        EXPECT_EQ(s.sampleRate, c.rate);
        EXPECT_EQ(s.channels, c.channels);
        // Left is plane 0; right is plane 1, or plane 0 again for a mono file.
        EXPECT_EQ(s.left, s.storage.get());
        EXPECT_EQ(s.right, c.channels == 1 ? s.left : s.left + kFrames);

        for (int ch = 0; ch < c.channels; ++ch) {
            const float* plane = s.storage.get() + static_cast<std::size_t>(ch) * kFrames;
            if (c.lossy) {
                EXPECT_LT(rmsDifference(plane, written, ch, c.channels, kFrames), c.tolerance)
                    << "channel " << ch;
                continue;
            }
            double worst = 0.0;
            for (std::uint32_t f = 0; f < kFrames; ++f) {
                const double d = plane[f] - written[std::size_t{f} * c.channels + ch];
                worst = std::max(worst, std::fabs(d));
            }
            EXPECT_LE(worst, c.tolerance) << "channel " << ch;
        }
    }
}

TEST(AudioFileReader, SixteenBitFilesGiveExactlyLibsndfilesFloats) {
    // 16-bit PCM is read as stored and scaled by us; the floats must be libsndfile's own, in
    // either byte order, from FLAC too, and from planes large enough to be mapped directly.
    const struct {
        const char* name;
        int format;
        int channels;
        std::uint32_t frames;
    } cases[] = {
        {"le.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 5000},
        {"be.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 5000},
        {"mono.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 5000},
        {"large.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 700000},  // 5.6 MB of planes
        {"large.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 1, 1200000},  // 4.8 MB, read in place
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto signal = test::testSignal(c.frames, c.channels);
        signal[0] = 1.0f;  // full scale both ways
        signal[1] = -1.0f;
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(test::writeAudio(path, c.format, 44100, c.channels, signal));

        SF_INFO info{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr);
        std::vector<float> expected(std::size_t{c.frames} * c.channels);
        ASSERT_EQ(sf_readf_float(f, expected.data(), c.frames), c.frames);
        sf_close(f);

        const DecodedAudio d = decodeAudioFile(path);
        ASSERT_TRUE(d.readComplete());
        const float* planes = d.snapshot->storage.get();
        for (int ch = 0; ch < c.channels; ++ch) {
            for (std::uint32_t i = 0; i < c.frames; ++i) {
                ASSERT_EQ(planes[static_cast<std::size_t>(ch) * c.frames + i],
                          expected[std::size_t{i} * c.channels + ch])
                    << "channel " << ch << " frame " << i;
            }
        }
    }
}

TEST(AudioFileReader, BrokenFilesFailToOpenOrLoadWhatIsThere) {
    TempDir dir;
    const auto signal = test::testSignal(kFrames, 2);

    // Not files, or not audio: they fail to open, with a reason.
    const std::string empty = dir.file("empty.wav");
    test::writeBytes(empty, {});
    const std::string garbage = dir.file("garbage.wav");
    std::string text;
    while (text.size() < 4000) text += "This is a letter, not a recording. ";
    test::writeBytes(garbage, {text.begin(), text.end()});
    // A FIFO would block the main thread in open(), waiting for a writer that never comes.
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir.file("missing.wav"), dir.path().string(), empty, garbage,
                                    fifo, std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        const DecodedAudio d = decodeAudioFile(path);
        EXPECT_EQ(d.status, DecodedAudio::Status::OpenFailed);
        EXPECT_FALSE(d.reason.empty());
        EXPECT_EQ(d.snapshot, nullptr);
    }

    // Headers claiming 0 channels or 0 Hz: libsndfile refuses to open them.
    const std::string good = dir.file("good.wav");
    ASSERT_TRUE(test::writeAudio(good, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, signal));
    auto bytes = test::readBytes(good);
    auto noChannels = bytes;
    test::putLE(noChannels, 22, 0, 2);
    test::writeBytes(dir.file("nochannels.wav"), noChannels);
    auto noRate = bytes;
    test::putLE(noRate, 24, 0, 4);
    test::writeBytes(dir.file("norate.wav"), noRate);
    for (const char* name : {"nochannels.wav", "norate.wav"}) {
        SCOPED_TRACE(name);
        const DecodedAudio d = decodeAudioFile(dir.file(name));
        EXPECT_NE(d.status, DecodedAudio::Status::Decoded);
        EXPECT_EQ(d.snapshot, nullptr);
    }

    // A WAV cut off in its data: the frames that are there, no error.
    const std::string truncated = dir.file("truncated.wav");
    test::writeBytes(truncated, {bytes.begin(), bytes.begin() + 44 + 4 * 30000 + 3});
    {
        const DecodedAudio d = decodeAudioFile(truncated);
        ASSERT_EQ(d.status, DecodedAudio::Status::Decoded);
        EXPECT_EQ(d.snapshot->capacity, 30000u);
        EXPECT_TRUE(d.readComplete());
        EXPECT_NEAR(d.snapshot->right[29999], signal[2 * 29999 + 1], 2.0 / 32768);
    }

    // A header claiming far more data than the file holds: only what is there is allocated.
    auto huge = bytes;
    huge.resize(44 + 4 * 1000);
    test::putLE(huge, 40, 0x7FFFFFF0u, 4);
    test::writeBytes(dir.file("huge.wav"), huge);
    {
        const DecodedAudio d = decodeAudioFile(dir.file("huge.wav"));
        ASSERT_EQ(d.status, DecodedAudio::Status::Decoded);
        EXPECT_EQ(d.snapshot->capacity, 1000u);
    }

    // A FLAC stream cut off: the decoder reports an error part-way; the rest is silence, and the
    // sample keeps the length the file claims.
    const std::string flac = dir.file("cut.flac");
    ASSERT_TRUE(test::writeAudio(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, signal));
    auto flacBytes = test::readBytes(flac);
    flacBytes.resize(flacBytes.size() / 3);
    test::writeBytes(flac, flacBytes);
    {
        const DecodedAudio d = decodeAudioFile(flac);
        ASSERT_EQ(d.status, DecodedAudio::Status::Decoded);
        EXPECT_FALSE(d.readComplete());
        EXPECT_NE(d.readError, 0);
        EXPECT_GT(d.framesRead, 0u);
        EXPECT_LT(d.framesRead, kFrames);
        const SampleSnapshot& s = *d.snapshot;
        EXPECT_EQ(s.capacity, kFrames);
        EXPECT_NEAR(s.left[d.framesRead - 1], signal[2 * (d.framesRead - 1)], 2.0 / 32768);
        for (std::uint32_t f = d.framesRead; f < kFrames; ++f) {
            ASSERT_EQ(s.left[f], 0.0f) << f;
            ASSERT_EQ(s.right[f], 0.0f) << f;
        }
    }

    // A FLAC header claiming 150 million frames over 5,000 real ones: the sample has the claimed
    // length, silent after the real frames, and costs address space rather than 1.2 GB of memory.
    const std::string liar = dir.file("liar.flac");
    ASSERT_TRUE(test::writeAudio(liar, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2,
                                 test::testSignal(5000, 2)));
    auto liarBytes = test::readBytes(liar);
    ASSERT_EQ(std::string(liarBytes.begin(), liarBytes.begin() + 4), "fLaC");
    std::uint64_t info = 0;  // rate 20 bits, channels 3, bits 5, total frames 36, big-endian
    for (int i = 0; i < 8; ++i) info = info << 8 | liarBytes[18 + i];
    const std::uint64_t claimed = 150000000;
    info = (info & ~((std::uint64_t{1} << 36) - 1)) | claimed;
    for (int i = 0; i < 8; ++i)
        liarBytes[18 + i] = static_cast<unsigned char>(info >> (56 - 8 * i));
    test::writeBytes(liar, liarBytes);
    {
        const DecodedAudio d = decodeAudioFile(liar);
        ASSERT_EQ(d.status, DecodedAudio::Status::Decoded) << d.reason;
        EXPECT_EQ(d.snapshot->capacity, claimed);
        EXPECT_EQ(d.framesRead, 5000u);
        EXPECT_NE(d.snapshot->left[4999], 0.0f);
        EXPECT_EQ(d.snapshot->left[5000], 0.0f);
        EXPECT_EQ(d.snapshot->right[claimed - 1], 0.0f);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        EXPECT_LT(usage.ru_maxrss, 600 * 1024) << "KiB";
    }

    // An Ogg stream cut off has no known length: refused, nothing allocated.
    const std::string ogg = dir.file("cut.ogg");
    if (test::writeAudio(ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, signal)) {
        auto oggBytes = test::readBytes(ogg);
        oggBytes.resize(oggBytes.size() / 2);
        test::writeBytes(ogg, oggBytes);
        const DecodedAudio d = decodeAudioFile(ogg);
        EXPECT_EQ(d.status, DecodedAudio::Status::Refused);
        EXPECT_NE(d.reason.find("unknown or too long"), std::string::npos) << d.reason;
    }

    // A file with a valid header and no frames is refused.
    ASSERT_TRUE(
        test::writeAudio(dir.file("none.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, {}));
    EXPECT_EQ(decodeAudioFile(dir.file("none.wav")).status, DecodedAudio::Status::Refused);
}

TEST(AudioFileReader, NonFiniteSamplesBecomeSilence) {
    TempDir dir;
    for (int channels : {1, 2, 3}) {
        SCOPED_TRACE(channels);
        auto signal = test::testSignal(1000, channels);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        signal[0] = nan;
        signal[10 * channels + channels - 1] = inf;  // the last channel of frame 10
        signal[999 * channels] = -inf;
        const float kept = signal[1];
        const std::string path = dir.file("nan.wav");
        ASSERT_TRUE(
            test::writeAudio(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, channels, signal));
        const DecodedAudio d = decodeAudioFile(path);
        ASSERT_EQ(d.status, DecodedAudio::Status::Decoded);
        EXPECT_EQ(d.nonFinite, 3u);
        const float* planes = d.snapshot->storage.get();
        EXPECT_EQ(planes[0], 0.0f);
        EXPECT_EQ(planes[static_cast<std::size_t>(channels - 1) * 1000 + 10], 0.0f);
        EXPECT_EQ(planes[999], 0.0f);
        EXPECT_EQ(channels == 1 ? planes[1] : planes[1000], kept);
        for (std::size_t i = 0; i < std::size_t{1000} * channels; ++i) {
            ASSERT_TRUE(std::isfinite(planes[i])) << i;
        }
    }
}

namespace {

// A file of any claimed length in memory: its real bytes, then 8-bit silence to the end.
struct ForgedFile {
    std::vector<unsigned char> head;
    sf_count_t length = 0;
    sf_count_t pos = 0;

    static sf_count_t size(void* u) { return static_cast<ForgedFile*>(u)->length; }
    static sf_count_t seek(sf_count_t offset, int whence, void* u) {
        auto* f = static_cast<ForgedFile*>(u);
        const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->pos : f->length;
        if (base + offset < 0 || base + offset > f->length) return -1;
        return f->pos = base + offset;
    }
    static sf_count_t read(void* ptr, sf_count_t count, void* u) {
        auto* f = static_cast<ForgedFile*>(u);
        const sf_count_t n = std::max<sf_count_t>(0, std::min(count, f->length - f->pos));
        auto* out = static_cast<unsigned char*>(ptr);
        for (sf_count_t i = 0; i < n; ++i) {
            const sf_count_t at = f->pos + i;
            out[i] = at < static_cast<sf_count_t>(f->head.size()) ? f->head[at] : 0x80;
        }
        f->pos += n;
        return n;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* u) { return static_cast<ForgedFile*>(u)->pos; }
};

DecodedAudio decodeForged(const std::vector<unsigned char>& head, std::uint64_t length) {
    ForgedFile f{head, static_cast<sf_count_t>(length), 0};
    SF_VIRTUAL_IO io{ForgedFile::size, ForgedFile::seek, ForgedFile::read, ForgedFile::write,
                     ForgedFile::tell};
    return decodeAudioVirtual(io, &f);
}

}  // namespace

TEST(AudioFileReader, HugeClaimsAreRefusedBeforeAnythingIsAllocated) {
    TempDir dir;
    const std::string scratch = dir.file("scratch.w64");

    // A forged file of modest length decodes through the same path.
    {
        const auto head = test::wave64Header(scratch, 2, 5000);
        const DecodedAudio d = decodeForged(head, 0x68 + 2 * 5000);
        ASSERT_EQ(d.status, DecodedAudio::Status::Decoded) << d.reason;
        EXPECT_EQ(d.snapshot->capacity, 5000u);
        EXPECT_EQ(d.snapshot->channels, 2);
    }
    // More frames than 32 bits count.
    {
        const std::uint64_t frames = (std::uint64_t{1} << 32) + 7;
        const DecodedAudio d = decodeForged(test::wave64Header(scratch, 1, frames), 0x68 + frames);
        EXPECT_EQ(d.status, DecodedAudio::Status::Refused);
        EXPECT_NE(d.reason.find("4294967303"), std::string::npos) << d.reason;
    }
    // 1024 channels of 4 billion frames: about 17.6 TB of planes, more than any memory.
    {
        const std::uint64_t frames = 0xFFFFFFF0u;
        const DecodedAudio d =
            decodeForged(test::wave64Header(scratch, 1024, frames), 0x68 + frames * 1024);
        EXPECT_EQ(d.status, DecodedAudio::Status::Refused);
        EXPECT_NE(d.reason.find("memory"), std::string::npos) << d.reason;
    }
}

TEST(AudioFileReader, MemoryDecodeMatchesTheFile) {
    TempDir dir;
    const std::string path = dir.file("m.flac");
    ASSERT_TRUE(test::writeAudio(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2,
                                 test::testSignal(5000, 2)));
    const auto bytes = test::readBytes(path);
    const DecodedAudio fromFile = decodeAudioFile(path);
    const DecodedAudio fromMemory = decodeAudioMemory(bytes.data(), bytes.size());
    ASSERT_EQ(fromMemory.status, DecodedAudio::Status::Decoded);
    ASSERT_EQ(fromMemory.snapshot->capacity, 5000u);
    EXPECT_EQ(std::memcmp(fromFile.snapshot->storage.get(), fromMemory.snapshot->storage.get(),
                          2 * 5000 * sizeof(float)),
              0);
    // Every prefix of a file, none of which may crash or read out of bounds.
    for (std::size_t n = 0; n < bytes.size(); n += 97) {
        const DecodedAudio d = decodeAudioMemory(bytes.data(), n);
        if (d.snapshot) {
            EXPECT_LE(d.framesRead, d.snapshot->capacity);
        }
    }
}

TEST(AudioFormats, ExtensionsComeFromLibsndfileAndMatchInAnyCase) {
    const auto& list = audioFileExtensions();
    for (const char* ext :
         {"wav", "aif", "aiff", "flac", "ogg", "oga", "au", "caf", "w64", "rf64"}) {
        EXPECT_NE(std::find(list.begin(), list.end(), ext), list.end()) << ext;
    }
    EXPECT_EQ(std::find(list.begin(), list.end(), "raw"), list.end());
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    EXPECT_EQ(std::adjacent_find(list.begin(), list.end()), list.end());
    for (const auto& ext : list) {
        for (char c : ext) EXPECT_FALSE(c >= 'A' && c <= 'Z') << ext;
    }

    // mp3 and opus exactly when this libsndfile decodes them.
    SF_INFO mp3{0, 44100, 2, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0, 0};
    SF_INFO opus{0, 48000, 2, SF_FORMAT_OGG | SF_FORMAT_OPUS, 0, 0};
    EXPECT_EQ(isAudioFileName("a.mp3"), sf_format_check(&mp3) != 0);
    EXPECT_EQ(isAudioFileName("a.opus"), sf_format_check(&opus) != 0);

    EXPECT_TRUE(isAudioFileName("/home/me/Loops/Break.WAV"));
    EXPECT_TRUE(isAudioFileName("take.2.Flac"));
    EXPECT_TRUE(isAudioFileName("voice.aif"));
    EXPECT_FALSE(isAudioFileName("notes.txt"));
    EXPECT_FALSE(isAudioFileName("wav"));
    EXPECT_FALSE(isAudioFileName(".wav"));  // a hidden file's name, not an extension
    EXPECT_FALSE(isAudioFileName("/music.wav/readme"));
    EXPECT_FALSE(isAudioFileName("song."));
    EXPECT_FALSE(isAudioFileName(""));
}
