#include "sample/AudioFileReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

// What split() had to mend.
struct Mended {
    std::size_t nonFinite = 0, clamped = 0;
};

// A NaN or infinite sample would poison every filter and the reverb it reaches; it becomes
// silence. A huge finite one (a float file holding 3e38) overflows the mix into the same state,
// so it is clamped. x - x is 0 exactly for finite x, and the form has no branch, so it vectorises.
inline float toSample(float x, Mended& m) {
    const bool finite = (x - x == 0.0f);
    m.nonFinite += !finite;
    const float v = finite ? x : 0.0f;
    m.clamped += (v > kLoudestSample) | (v < -kLoudestSample);
    return std::clamp(v, -kLoudestSample, kLoudestSample);
}

// 16-bit PCM as libsndfile normalises it: times 2^-15, exact, so the same floats its float read
// gives.
inline float toSample(short x, Mended&) { return static_cast<float>(x) * (1.0f / 32768.0f); }

inline sf_count_t readFrames(SNDFILE* f, float* to, sf_count_t n) {
    return sf_readf_float(f, to, n);
}
inline sf_count_t readFrames(SNDFILE* f, short* to, sf_count_t n) {
    return sf_readf_short(f, to, n);
}

// Splits `frames` interleaved frames into the planes at `offset`; counts what it mended.
template <typename Sample>
Mended split(const Sample* in, float* planes, std::size_t planeFrames, std::size_t offset,
             std::size_t frames, int channels) {
    Mended mended;
    if (channels == 1) {
        float* out = planes + offset;
        for (std::size_t f = 0; f < frames; ++f) out[f] = toSample(in[f], mended);
    } else if (channels == 2) {
        float* left = planes + offset;
        float* right = planes + planeFrames + offset;
        for (std::size_t f = 0; f < frames; ++f) {
            left[f] = toSample(in[2 * f], mended);
            right[f] = toSample(in[2 * f + 1], mended);
        }
    } else {
        for (int c = 0; c < channels; ++c) {
            float* out = planes + c * planeFrames + offset;
            const Sample* src = in + c;
            for (std::size_t f = 0; f < frames; ++f) out[f] = toSample(src[f * channels], mended);
        }
    }
    return mended;
}

struct Unmap {
    void* base;
    std::size_t length;
    void operator()(float*) const { munmap(base, length); }
};

// One allocation for all planes, laid one after the other. Large ones come straight from the
// kernel: aligned for huge pages, populated a window at a time just ahead of the decoder (faulting
// in 4 KiB pages one by one costs more than the whole decode), and never touched beyond what the
// file delivers, so a header that claims far more frames than the file holds costs address space,
// not memory: fresh pages read as zeros.
class Planes {
public:
    // False if there is no memory for them.
    bool allocate(std::uint32_t frames, std::size_t channels) {
        frames_ = frames;
        channels_ = channels;
        const std::size_t samples = std::size_t{frames} * channels;
        const std::size_t bytes = samples * sizeof(float);
        if (bytes < kMappedPlanesBytes) {
            float* p = new (std::nothrow) float[samples];
            if (p == nullptr) return false;
            storage_.reset(p);
            return true;
        }
        const std::size_t length = bytes + kHugePageBytes;
        void* base =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return false;
        const auto address = reinterpret_cast<std::uintptr_t>(base);
        auto* p = reinterpret_cast<float*>((address + kHugePageBytes - 1) & ~(kHugePageBytes - 1));
        madvise(p, bytes, MADV_HUGEPAGE);  // a hint: ignored where huge pages are off
        storage_ = std::shared_ptr<float[]>(p, Unmap{base, length});
        mapped_ = true;
        return true;
    }

    float* data() const { return storage_.get(); }

    // Makes frames [from, from + count) of every plane ready to be written. False when the
    // memory is not there after all.
    bool prepare(std::size_t from, std::size_t count) {
        if (!mapped_ || from + count <= prepared_) return true;
        const std::size_t end = std::min<std::size_t>(from + kPopulateFrames, frames_);
        for (std::size_t c = 0; c < channels_; ++c) {
            // Whole pages only; the kernel rounds the length up.
            const auto first = reinterpret_cast<std::uintptr_t>(data() + c * frames_ + prepared_);
            const std::uintptr_t start = first & ~(kSmallPageBytes - 1);
            const auto last = reinterpret_cast<std::uintptr_t>(data() + c * frames_ + end);
            // Kernels before 5.14 do not know it (EINVAL): the pages then fault in as written.
            if (madvise(reinterpret_cast<void*>(start), last - start, MADV_POPULATE_WRITE) != 0 &&
                errno == ENOMEM) {
                return false;
            }
        }
        prepared_ = end;
        return true;
    }

    // Silence from frame `from` on: the decoder delivered nothing there. Fresh mapped pages
    // are zeros already; only what a read may have scribbled on is cleared.
    void silenceFrom(std::size_t from, std::size_t scribbled) {
        const std::size_t end =
            mapped_ ? std::min<std::size_t>(from + scribbled, frames_) : frames_;
        for (std::size_t c = 0; c < channels_; ++c) {
            std::fill(data() + c * frames_ + from, data() + c * frames_ + end, 0.0f);
        }
    }

    std::shared_ptr<float[]> release() { return std::move(storage_); }

private:
    static constexpr std::size_t kPopulateFrames = std::size_t{1} << 19;  // 2 MiB of a plane
    static constexpr std::uintptr_t kSmallPageBytes = 4096;

    std::shared_ptr<float[]> storage_;
    std::uint32_t frames_ = 0;
    std::size_t channels_ = 0;
    std::size_t prepared_ = 0;
    bool mapped_ = false;
};

// Reads the whole file through an interleaved scratch of `Sample`s (none for mono float, which
// is read straight into its plane and cleaned there); the frames it does not deliver are
// silence. Returns the frames delivered, or -1 if memory ran out.
template <typename Sample>
std::int64_t readAll(SNDFILE* file, Planes& planes, std::uint32_t frames, int channels,
                     DecodedAudio& d) {
    const bool direct = std::is_same_v<Sample, float> && channels == 1;
    const std::size_t chunkFrames =
        direct ? kMonoChunkFrames : std::max<std::size_t>(1, kScratchSamples / channels);
    std::unique_ptr<Sample[]> scratch;
    if (!direct) {
        scratch.reset(new (std::nothrow) Sample[chunkFrames * channels]);
        if (!scratch) return -1;
    }
    float* out = planes.data();
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t want = std::min<std::size_t>(chunkFrames, frames - done);
        if (!planes.prepare(done, want)) return -1;
        Sample* dest = direct ? reinterpret_cast<Sample*>(out + done) : scratch.get();
        const sf_count_t got = readFrames(file, dest, static_cast<sf_count_t>(want));
        const std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
        const Mended m = split(dest, out, frames, done, n, channels);
        d.nonFinite += m.nonFinite;
        d.clamped += m.clamped;
        done += n;
        if (n < want) {
            d.readError = sf_error(file);
            planes.silenceFrom(done, direct ? want - n : 0);
            break;
        }
    }
    return static_cast<std::int64_t>(done);
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

// The frames the file's cue points mark, ascending, each once, inside its `frames`.
std::vector<std::uint32_t> readCues(SNDFILE* file, std::uint32_t frames) {
    std::vector<std::uint32_t> cues;
    std::uint32_t count = 0;
    if (sf_command(file, SFC_GET_CUE_COUNT, &count, sizeof count) != SF_TRUE || count == 0 ||
        count > kMaxCuePoints) {
        return cues;
    }
    // SF_CUES with room for every point: the count, then the points.
    std::vector<std::uint32_t> words(1 + count * sizeof(SF_CUE_POINT) / sizeof(std::uint32_t));
    if (sf_command(file, SFC_GET_CUE, words.data(),
                   static_cast<int>(words.size() * sizeof(std::uint32_t))) != SF_TRUE) {
        return cues;
    }
    const auto* points = reinterpret_cast<const SF_CUE_POINT*>(words.data() + 1);
    for (std::uint32_t k = 0; k < std::min(words[0], count); ++k) {
        if (points[k].sample_offset < frames) cues.push_back(points[k].sample_offset);
    }
    std::sort(cues.begin(), cues.end());
    cues.erase(std::unique(cues.begin(), cues.end()), cues.end());
    return cues;
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

    Planes planes;
    if (!planes.allocate(frames, channels)) {
        return refuse("its buffer of " + megabytes(bytes) + " cannot be allocated");
    }

    DecodedAudio d;
    // 16-bit PCM, the most common kind, is read as it is stored and scaled here: libsndfile's
    // float read of it goes through a small buffer and costs several times more.
    const bool pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    const std::int64_t done = pcm16 ? readAll<short>(file, planes, frames, info.channels, d)
                                    : readAll<float>(file, planes, frames, info.channels, d);
    if (done < 0) return refuse("memory ran out while decoding it");

    d.status = DecodedAudio::Status::Decoded;
    d.framesRead = static_cast<std::uint32_t>(done);
    d.snapshot = makeLoadedSnapshot(planes.release(), frames, info.channels,
                                    static_cast<double>(info.samplerate));
    d.snapshot->filledFrames = d.framesRead;
    d.snapshot->cues = readCues(file, frames);
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

// libsndfile's refusal in words a user can act on; its own texts name chunks and codes.
std::string openErrorText(int code) {
    switch (code) {
        case SF_ERR_UNRECOGNISED_FORMAT:
            return "not an audio file this program can read";
        case SF_ERR_UNSUPPORTED_ENCODING:
            return "its audio encoding is not supported";
        case SF_ERR_SYSTEM:
            return "the system could not read it";
        default:
            return "the file is damaged or not audio";
    }
}

std::string lowerFirst(std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(text[0]));
    return text;
}

}  // namespace

std::string unreadableFileReason(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
        return ec && ec != std::errc::no_such_file_or_directory ? lowerFirst(ec.message())
                                                                 : "no such file";
    }
    // Only regular files: a FIFO or a device would block the main thread or never end.
    if (!std::filesystem::is_regular_file(status)) return "not a regular file";
    if (::access(path.c_str(), R_OK) != 0) {
        return errno == EACCES ? "no permission to read it" : lowerFirst(std::strerror(errno));
    }
    if (std::filesystem::file_size(path, ec) == 0 && !ec) return "the file is empty";
    return {};
}

DecodedAudio decodeAudioFile(const std::string& path) {
    if (std::string reason = unreadableFileReason(path); !reason.empty()) {
        return openFailed(std::move(reason));
    }
    SF_INFO info{};
    FilePtr file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) return openFailed(openErrorText(sf_error(nullptr)));
    return decodeOpenFile(file.get(), info);
}

DecodedAudio decodeAudioVirtual(SF_VIRTUAL_IO& io, void* user) {
    SF_INFO info{};
    FilePtr file(sf_open_virtual(&io, SFM_READ, &info, user));
    if (!file) return openFailed(openErrorText(sf_error(nullptr)));
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
