#include "app/MainLoopWaker.h"

#include <cerrno>

namespace vornik {

MainLoopWaker::MainLoopWaker(std::function<void()> notify) : notify_(std::move(notify)) {
    sem_init(&posted_, 0, 0);
    thread_ = std::thread([this] { run(); });
}

MainLoopWaker::~MainLoopWaker() {
    quit_.store(true);
    sem_post(&posted_);
    thread_.join();
    sem_destroy(&posted_);
}

bool MainLoopWaker::wake() noexcept { return sem_post(&posted_) == 0; }

void MainLoopWaker::run() {
    for (;;) {
        while (sem_wait(&posted_) != 0 && errno == EINTR) {
        }
        while (sem_trywait(&posted_) == 0) {  // every post so far: one notify
        }
        if (quit_.load()) return;
        if (notify_) notify_();
    }
}

}  // namespace vornik
