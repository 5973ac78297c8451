#pragma once
// What the instrument needs of a sound output, whichever system provides it (SDL audio or a JACK
// server): open it on the graph, close it, know what it runs at. The graph is always rendered at
// 48 kHz; a device that runs at another rate converts. Thread: main, for every call here.

namespace vornik {

class OutputDevice {
public:
    virtual ~OutputDevice() = default;

    // Starts pulling the graph (prepared before). True on success; otherwise a log line and
    // false, and the instrument plays on without sound.
    virtual bool open() = 0;
    // Stops the callback (waits for a running one to end) and closes.
    virtual void close() = 0;
    // Closes and opens again, same graph and settings.
    virtual bool reopen() {
        close();
        return open();
    }

    virtual bool isOpen() const = 0;
    // Frames per callback and the rate the output runs at; 0 when closed.
    virtual int bufferFrames() const = 0;
    virtual double sampleRate() const = 0;
};

}  // namespace vornik
