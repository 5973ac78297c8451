#include "midi/RtMidiSource.h"

#include <alsa/asoundlib.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/Log.h"
#include "base/RunLoop.h"
#include "midi/MidiQueue.h"

namespace vornik {

struct RtMidiSource::Impl {
    MidiQueue& queue;
    std::string choice;
    std::string portName;
    std::unique_ptr<RtMidiIn> in;
    snd_seq_t* seq = nullptr;  // our own client, for the subscriptions
    snd_seq_addr_t port{};     // the virtual port, as the sequencer knows it
    bool portFound = false;
    struct Source {
        snd_seq_addr_t address;
        std::string name;
    };
    std::vector<Source> connected;

    Impl(MidiQueue& q, std::string c, std::string p)
        : queue(q), choice(std::move(c)), portName(std::move(p)) {}
    ~Impl() {
        in.reset();  // stops the callback thread before anything it uses goes
        if (seq != nullptr) snd_seq_close(seq);
    }

    // RtMidi's thread: stamp and queue, nothing else.
    static void onMessage(double, std::vector<unsigned char>* message, void* self) {
        auto* impl = static_cast<Impl*>(self);
        impl->queue.push(SteadyClock().now(), message->data(), message->size());
    }
    static void onError(RtMidiError::Type, const std::string& text, void*) {
        logLine("MIDI: " + text);
    }

    // Our virtual port: the port of that name on a client of this process (newest first).
    void findPort() {
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* info;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&info);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(seq, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            const int pid = snd_seq_client_info_get_pid(client);
            const bool ours =
                pid == getpid() || (pid <= 0 && portName == snd_seq_client_info_get_name(client));
            if (!ours || id == snd_seq_client_id(seq)) continue;
            snd_seq_port_info_set_client(info, id);
            snd_seq_port_info_set_port(info, -1);
            while (snd_seq_query_next_port(seq, info) >= 0) {
                if (portName == snd_seq_port_info_get_name(info) &&
                    (snd_seq_port_info_get_capability(info) & SND_SEQ_PORT_CAP_WRITE)) {
                    port = *snd_seq_port_info_get_addr(info);
                    portFound = true;
                }
            }
        }
    }
};

RtMidiSource::RtMidiSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RtMidiSource::~RtMidiSource() = default;

std::unique_ptr<RtMidiSource> RtMidiSource::open(MidiQueue& queue, const std::string& choice,
                                                 const std::string& portName) {
    // Without the sequencer device ALSA would complain on stderr in its own words first.
    if (::access(kSequencerDevice, R_OK | W_OK) != 0) {
        logf("no MIDI system (%s: %s): playing without MIDI", kSequencerDevice,
             std::strerror(errno));
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(queue, choice, portName);
    try {
        impl->in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, portName);
        impl->in->ignoreTypes(true, true, true);  // SysEx, clock, sensing: never queued
        impl->in->setCallback(&Impl::onMessage, impl.get());
        impl->in->openVirtualPort(portName);
        impl->in->setErrorCallback(&Impl::onError, nullptr);
    } catch (const RtMidiError& e) {
        logf("no MIDI system (%s): playing without MIDI", e.getMessage().c_str());
        return nullptr;
    }
    if (snd_seq_open(&impl->seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        impl->seq = nullptr;
        logf("MIDI input \"%s\" open; sources cannot be connected to it here", portName.c_str());
    } else {
        snd_seq_set_client_name(impl->seq, (portName + " connections").c_str());
        impl->findPort();
        if (!impl->portFound) {
            logf("MIDI: the port \"%s\" cannot be found to connect sources to it",
                 portName.c_str());
        }
    }
    auto source = std::unique_ptr<RtMidiSource>(new RtMidiSource(std::move(impl)));
    const auto names = source->connectNewSources();
    std::string connected;
    for (const auto& n : names) connected += (connected.empty() ? " from \"" : "\", \"") + n;
    logf("MIDI input \"%s\" open%s%s", portName.c_str(), connected.c_str(),
         connected.empty() ? "" : "\"");
    return source;
}

bool RtMidiSource::chooses(const std::string& choice, const std::string& name, bool hardware) {
    if (choice == "all") return hardware;
    if (choice.empty() || choice == "none") return false;
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    return lower(name).find(lower(choice)) != std::string::npos;
}

std::vector<std::string> RtMidiSource::connectNewSources() {
    Impl& m = *impl_;
    std::vector<std::string> added;
    if (m.seq == nullptr || !m.portFound) return added;
    std::vector<Impl::Source> present;
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* info;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&info);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(m.seq, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        if (id == m.port.client || id == snd_seq_client_id(m.seq)) continue;
        snd_seq_port_info_set_client(info, id);
        snd_seq_port_info_set_port(info, -1);
        while (snd_seq_query_next_port(m.seq, info) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(info);
            constexpr unsigned kSource = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
            if ((caps & kSource) != kSource || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            const std::string name = std::string(snd_seq_client_info_get_name(client)) + ":" +
                                     snd_seq_port_info_get_name(info);
            const bool hardware = snd_seq_port_info_get_type(info) & SND_SEQ_PORT_TYPE_HARDWARE;
            if (chooses(m.choice, name, hardware)) {
                present.push_back({*snd_seq_port_info_get_addr(info), name});
            }
        }
    }
    auto same = [](const Impl::Source& a, const Impl::Source& b) {
        return a.address.client == b.address.client && a.address.port == b.address.port &&
               a.name == b.name;
    };
    std::erase_if(m.connected, [&](const Impl::Source& c) {
        return std::none_of(present.begin(), present.end(),
                            [&](const Impl::Source& p) { return same(c, p); });
    });
    for (const Impl::Source& p : present) {
        if (std::any_of(m.connected.begin(), m.connected.end(),
                        [&](const Impl::Source& c) { return same(c, p); })) {
            continue;
        }
        snd_seq_port_subscribe_t* sub;
        snd_seq_port_subscribe_alloca(&sub);
        snd_seq_port_subscribe_set_sender(sub, &p.address);
        snd_seq_port_subscribe_set_dest(sub, &m.port);
        const int err = snd_seq_subscribe_port(m.seq, sub);
        m.connected.push_back(p);        // tried once: a refusal is logged once, not every scan
        if (err < 0 && err != -EBUSY) {  // already connected (a patchbay did it) counts as done
            logf("MIDI: cannot connect \"%s\": %s", p.name.c_str(), snd_strerror(err));
            continue;
        }
        added.push_back(p.name);
    }
    return added;
}

}  // namespace vornik
