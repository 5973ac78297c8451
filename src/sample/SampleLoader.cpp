#include "sample/SampleLoader.h"

#include "base/Log.h"

namespace vornik {

SampleLoader::Outcome SampleLoader::load(const std::string& path) {
    return publish(decodeAudioFile(path), path);
}

SampleLoader::Outcome SampleLoader::publish(DecodedAudio decoded, const std::string& name) {
    using Status = DecodedAudio::Status;
    switch (decoded.status) {
        case Status::OpenFailed: {
            logf("Could not open audio file \"%s\": %s", name.c_str(), decoded.reason.c_str());
            // No file from now on, so the mixer is silent; the previous planes stay for the
            // waveform that still shows them.
            const SampleSnapshot& previous = store_.current();
            auto s = std::make_unique<SampleSnapshot>();
            s->storage = previous.storage;
            s->left = previous.left;
            s->right = previous.right;
            s->capacity = previous.capacity;
            s->fileBufferLength = previous.fileBufferLength;
            s->filledFrames = previous.filledFrames;
            store_.publish(std::move(s));
            return Outcome::OpenFailed;
        }
        case Status::Refused:
            logf("Refused audio file \"%s\": %s; the current sample stays", name.c_str(),
                 decoded.reason.c_str());
            return Outcome::Refused;
        case Status::Decoded:
            break;
    }

    const bool complete = decoded.readComplete();
    if (!complete) {
        logf("Error loading audio file into buffer: %ld", static_cast<long>(decoded.readError));
        logf("Read %u of %u frames of \"%s\"; the rest is silence", decoded.framesRead,
             decoded.snapshot->capacity, name.c_str());
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
