#pragma once
// Wakes the main loop from a real-time thread (the JACK process callback, when MIDI arrives): the
// caller only posts a semaphore, which neither allocates nor locks, and a helper thread of ours
// turns the posts into `notify` (an SDL event for the main loop), as soon as it is scheduled.

#include <semaphore.h>

#include <atomic>
#include <functional>
#include <thread>

namespace vornik {

class MainLoopWaker {
public:
    // Starts the helper thread. Thread: main.
    explicit MainLoopWaker(std::function<void()> notify);
    // Stops and joins it. Thread: main.
    ~MainLoopWaker();
    MainLoopWaker(const MainLoopWaker&) = delete;
    MainLoopWaker& operator=(const MainLoopWaker&) = delete;

    // Asks for one `notify` soon; posts that come before it runs share it. Never allocates,
    // locks or waits. True once posted. Thread: any, the audio thread included.
    bool wake() noexcept;

private:
    void run();

    sem_t posted_;
    std::atomic<bool> quit_{false};
    std::function<void()> notify_;
    std::thread thread_;
};

}  // namespace vornik
