#include "sample/SampleLoader.h"

#include <filesystem>

#include "base/Log.h"
#include "base/Status.h"

namespace vornik {
namespace {

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

SampleLoader::Outcome SampleLoader::load(const std::string& path) {
    return publish(decodeAudioFile(path), path);
}

SampleLoader::Outcome SampleLoader::publish(DecodedAudio decoded, const std::string& name) {
    using Status = DecodedAudio::Status;
    switch (decoded.status) {
        case Status::OpenFailed:
            // Refused like a file that opens but cannot become a sample: the user keeps what
            // plays now, and the window says why.
            logf("Could not open audio file \"%s\": %s; the current sample stays", name.c_str(),
                 decoded.reason.c_str());
            showStatus("Cannot open \"" + fileName(name) + "\": " + decoded.reason);
            return Outcome::OpenFailed;
        case Status::Refused:
            logf("Refused audio file \"%s\": %s; the current sample stays", name.c_str(),
                 decoded.reason.c_str());
            showStatus("Cannot use \"" + fileName(name) + "\": " + decoded.reason);
            return Outcome::Refused;
        case Status::Decoded:
            break;
    }

    const bool complete = decoded.readComplete();
    if (!complete) {
        logf("Error loading audio file into buffer: %ld", static_cast<long>(decoded.readError));
        logf("Read %u of %u frames of \"%s\"; the rest is silence", decoded.framesRead,
             decoded.snapshot->capacity, name.c_str());
        showStatus("Only part of \"" + fileName(name) + "\" could be read; the rest is silence");
    }
    if (decoded.nonFinite != 0) {
        logf("Replaced %zu non-finite samples of \"%s\" with 0", decoded.nonFinite, name.c_str());
    }
    if (decoded.clamped != 0) {
        logf("Clamped %zu samples of \"%s\" to the range -%g..%g", decoded.clamped, name.c_str(),
             kLoudestSample, kLoudestSample);
    }
    store_.publish(std::move(decoded.snapshot));
    return complete ? Outcome::Loaded : Outcome::ReadFailed;
}

}  // namespace vornik
