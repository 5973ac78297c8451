#include "sample/AudioFileReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <type_traits>

namespace vornik {
namespace {

// The interleaved scratch between libsndfile and the planes: 128 KiB, small enough to stay in
// cache while it is split into planes, large enough that each read call does real work.
constexpr std::size_t kScratchSamples = std::size_t{1} << 15;
// A mono float file is read straight into its plane, this many frames per call.
constexpr std::size_t kMonoChunkFrames = std::size_t{1} << 16;
// Planes from this size on are mapped from the kernel directly, aligned for huge pages.
constexpr std::size_t kMappedPlanesBytes = std::size_t{4} << 20;
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

struct CloseFile {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using FilePtr = std::unique_ptr<SNDFILE, CloseFile>;

// A NaN or infinite sample would poison every filter and the reverb it reaches, forever; it
// becomes silence. x - x is 0 exactly for finite x, and the form has no branch, so it vectorises.
inline float toSample(float x, std::size_t& bad) {
    const bool finite = (x - x == 0.0f);
    bad += !finite;
    return finite ? x : 0.0f;
}

// 16-bit PCM as libsndfile normalises it: times 2^-15, exact, so the same floats its float read
// gives.
inline float toSample(short x, std::size_t&) { return static_cast<float>(x) * (1.0f / 32768.0f); }

inline sf_count_t readFrames(SNDFILE* f, float* to, sf_count_t n) {
    return sf_readf_float(f, to, n);
}
inline sf_count_t readFrames(SNDFILE* f, short* to, sf_count_t n) {
    return sf_readf_short(f, to, n);
}

// Splits `frames` interleaved frames into the planes at `offset`; counts non-finite samples.
template <typename Sample>
std::size_t split(const Sample* in, float* planes, std::size_t planeFrames, std::size_t offset,
                  std::size_t frames, int channels) {
    std::size_t bad = 0;
    if (channels == 1) {
        float* out = planes + offset;
        for (std::size_t f = 0; f < frames; ++f) out[f] = toSample(in[f], bad);
    } else if (channels == 2) {
        float* left = planes + offset;
        float* right = planes + planeFrames + offset;
        for (std::size_t f = 0; f < frames; ++f) {
            left[f] = toSample(in[2 * f], bad);
            right[f] = toSample(in[2 * f + 1], bad);
        }
    } else {
        for (int c = 0; c < channels; ++c) {
            float* out = planes + c * planeFrames + offset;
            const Sample* src = in + c;
            for (std::size_t f = 0; f < frames; ++f) out[f] = toSample(src[f * channels], bad);
        }
    }
    return bad;
}

// Reads the whole file through an interleaved scratch of `Sample`s (none for mono float, which
// is read straight into its plane and cleaned there). Returns the frames delivered, or -1 if
// there was no memory for the scratch.
template <typename Sample>
std::int64_t readAll(SNDFILE* file, float* planes, std::uint32_t frames, int channels,
                     DecodedAudio& d) {
    const bool direct = std::is_same_v<Sample, float> && channels == 1;
    const std::size_t chunkFrames =
        direct ? kMonoChunkFrames : std::max<std::size_t>(1, kScratchSamples / channels);
    std::unique_ptr<Sample[]> scratch;
    if (!direct) {
        scratch.reset(new (std::nothrow) Sample[chunkFrames * channels]);
        if (!scratch) return -1;
    }
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t want = std::min<std::size_t>(chunkFrames, frames - done);
        Sample* dest = direct ? reinterpret_cast<Sample*>(planes + done) : scratch.get();
        const sf_count_t got = readFrames(file, dest, static_cast<sf_count_t>(want));
        const std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
        d.nonFinite += split(dest, planes, frames, done, n, channels);
        done += n;
        if (n < want) {
            d.readError = sf_error(file);
            break;
        }
    }
    return static_cast<std::int64_t>(done);
}

struct Unmap {
    void* base;
    std::size_t length;
    void operator()(float*) const { munmap(base, length); }
};

// One allocation for all planes, null if there is no memory for it. Large ones come straight from
// the kernel, on huge pages where it has them, and populated in one call: faulting in 4 KiB pages
// one by one costs more than the whole decode.
std::shared_ptr<float[]> allocatePlanes(std::size_t samples) {
    const std::size_t bytes = samples * sizeof(float);
    if (bytes < kMappedPlanesBytes) {
        float* p = new (std::nothrow) float[samples];
        return p ? std::shared_ptr<float[]>(p) : nullptr;
    }
    const std::size_t length = bytes + kHugePageBytes;
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    auto* planes = reinterpret_cast<float*>((address + kHugePageBytes - 1) & ~(kHugePageBytes - 1));
    madvise(planes, bytes, MADV_HUGEPAGE);  // a hint: ignored where huge pages are off
    // Kernels before 5.14 do not know it (EINVAL): then the pages fault in as they are written.
    if (madvise(planes, bytes, MADV_POPULATE_WRITE) != 0 && errno == ENOMEM) {
        munmap(base, length);
        return nullptr;
    }
    return std::shared_ptr<float[]>(planes, Unmap{base, length});
}

std::uint64_t physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::string megabytes(std::uint64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

DecodedAudio refuse(std::string reason) {
    DecodedAudio d;
    d.status = DecodedAudio::Status::Refused;
    d.reason = std::move(reason);
    return d;
}

DecodedAudio openFailed(std::string reason) {
    DecodedAudio d;
    d.status = DecodedAudio::Status::OpenFailed;
    d.reason = std::move(reason);
    return d;
}

// Reads every frame of an open file into one allocation of planes laid one after the other.
DecodedAudio decodeOpenFile(SNDFILE* file, const SF_INFO& info) {
    if (info.channels <= 0) return refuse("it claims no channels");
    if (info.samplerate <= 0) return refuse("it claims a sample rate of 0 Hz");
    if (info.frames <= 0) return refuse("it holds no frames");
    if (info.frames > std::numeric_limits<std::uint32_t>::max()) {
        return refuse("its length of " + std::to_string(info.frames) +
                      " frames is unknown or too long (at most 4294967295)");
    }

    const auto frames = static_cast<std::uint32_t>(info.frames);
    const auto channels = static_cast<std::size_t>(info.channels);
    const std::uint64_t samples = std::uint64_t{frames} * channels;
    if (samples > std::numeric_limits<std::size_t>::max() / sizeof(float)) {
        return refuse("its decoded size does not fit in memory");
    }
    const std::uint64_t bytes = samples * sizeof(float);
    // Beyond the machine's memory an allocation may still succeed on paper, and then thrash.
    if (bytes > physicalMemoryBytes()) {
        return refuse("its decoded size of " + megabytes(bytes) + " exceeds this machine's memory");
    }

    std::shared_ptr<float[]> planes = allocatePlanes(samples);
    if (!planes) return refuse("its buffer of " + megabytes(bytes) + " cannot be allocated");
    float* raw = planes.get();

    DecodedAudio d;
    // 16-bit PCM, the most common kind, is read as it is stored and scaled here: libsndfile's
    // float read of it goes through a small buffer and costs several times more.
    const bool pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    const std::int64_t read = pcm16 ? readAll<short>(file, raw, frames, info.channels, d)
                                    : readAll<float>(file, raw, frames, info.channels, d);
    if (read < 0) return refuse("its read buffer cannot be allocated");
    const auto done = static_cast<std::uint32_t>(read);
    if (done < frames) {  // what the decoder did not deliver is silence
        for (std::size_t c = 0; c < channels; ++c) {
            std::fill(raw + c * frames + done, raw + (c + 1) * frames, 0.0f);
        }
    }

    d.status = DecodedAudio::Status::Decoded;
    d.framesRead = done;
    d.snapshot = makeLoadedSnapshot(std::move(planes), frames, info.channels,
                                    static_cast<double>(info.samplerate));
    return d;
}

// A file in memory, read through libsndfile's virtual I/O.
struct MemoryFile {
    const unsigned char* data;
    sf_count_t size;
    sf_count_t pos;
};

sf_count_t memoryLength(void* user) { return static_cast<MemoryFile*>(user)->size; }

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = m->pos;
    if (whence == SEEK_END) base = m->size;
    // Out-of-range requests fail without moving, as lseek does; overflow is ruled out first.
    if (offset > 0 ? base > m->size - offset : base + offset < 0) return -1;
    m->pos = base + offset;
    return m->pos;
}

sf_count_t memoryRead(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    if (count <= 0 || m->pos >= m->size) return 0;
    const sf_count_t n = std::min(count, m->size - m->pos);
    std::memcpy(ptr, m->data + m->pos, static_cast<std::size_t>(n));
    m->pos += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t memoryTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

}  // namespace

DecodedAudio decodeAudioFile(const std::string& path) {
    // Only regular files: a FIFO or a device would block the main thread or never end.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) return openFailed(ec ? ec.message() : "no such file");
    if (!std::filesystem::is_regular_file(status)) return openFailed("not a regular file");

    SF_INFO info{};
    FilePtr file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) return openFailed(sf_strerror(nullptr));
    return decodeOpenFile(file.get(), info);
}

DecodedAudio decodeAudioVirtual(SF_VIRTUAL_IO& io, void* user) {
    SF_INFO info{};
    FilePtr file(sf_open_virtual(&io, SFM_READ, &info, user));
    if (!file) return openFailed(sf_strerror(nullptr));
    return decodeOpenFile(file.get(), info);
}

DecodedAudio decodeAudioMemory(const void* data, std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<sf_count_t>::max())) {
        return openFailed("too large");
    }
    MemoryFile m{static_cast<const unsigned char*>(data), static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    return decodeAudioVirtual(io, &m);
}

}  // namespace vornik
