#include "app/FileInput.h"

#include <SDL_stdinc.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/Desktop.h"
#include "base/Log.h"
#include "base/Status.h"

extern char** environ;

namespace vornik {
namespace {

std::string fileNameOf(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

FileInput::FileInput(FileInputTarget& target, AudioTest isAudio)
    : target_(target), isAudio_(std::move(isAudio)) {}

void FileInput::dropBegin() {
    dropping_ = true;
    files_.clear();
    texts_ = 0;
}

void FileInput::dropFile(std::string path) {
    files_.push_back(std::move(path));
    // A desktop that sends files without a begin and a complete drops them one at a time.
    if (!dropping_) perform();
}

void FileInput::dropText(std::string_view text) {
    ++texts_;
    if (!dropping_) perform();
    (void)text;
}

void FileInput::dropComplete() {
    if (!dropping_) return;
    perform();
}

bool FileInput::wouldAccept() const {
    return files_.size() == 1 && texts_ == 0 && isAudio_ && isAudio_(files_.front());
}

void FileInput::perform() {
    dropping_ = false;
    std::vector<std::string> files;
    files.swap(files_);
    const int texts = texts_;
    texts_ = 0;
    if (files.empty() && texts == 0) return;  // an empty drop: nothing was offered
    if (files.size() + texts >= 2) {
        logf("drop refused: %zu items dropped at once; drop one audio file",
             files.size() + static_cast<std::size_t>(texts));
        showStatus("Drop one audio file at a time");
        return;
    }
    if (files.empty()) {
        logLine("drop refused: only a file can be dropped, not text");
        showStatus("Only a file can be dropped, not text");
        return;
    }
    const std::string& path = files.front();
    if (!isAudio_ || !isAudio_(path)) {
        logf("drop refused: \"%s\" is not an audio file (its name extension decides)",
             fileNameOf(path).c_str());
        showStatus("Not an audio file: " + fileNameOf(path));
        return;
    }
    loadDropped(path);
}

void FileInput::loadDropped(const std::string& path) {
    target_.loadFile(path);
    target_.raiseWindow();
    target_.resetTransposition();
}

bool FileInput::handleEvent(const SDL_Event& event) {
    switch (event.type) {
        case SDL_DROPBEGIN:
            dropBegin();
            return true;
        case SDL_DROPFILE:
            if (event.drop.file != nullptr) {
                std::string path = event.drop.file;
                SDL_free(event.drop.file);
                dropFile(std::move(path));
            }
            return true;
        case SDL_DROPTEXT:
            if (event.drop.file != nullptr) {
                std::string text = event.drop.file;
                SDL_free(event.drop.file);
                dropText(text);
            }
            return true;
        case SDL_DROPCOMPLETE:
            dropComplete();
            return true;
        default:
            return false;
    }
}

void FileInput::fileChosen(const std::string& path) {
    if (path.empty()) return;  // cancelled: nothing changes
    target_.loadFile(path);
}

// --- The desktop's file chooser -------------------------------------------------------------

std::vector<std::string> FileChooser::findCommand(const std::vector<std::string>& extensions) {
    // Patterns in both cases: some choosers match them case-sensitively.
    std::string patterns;
    for (const std::string& e : extensions) {
        std::string upper = e;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        patterns += (patterns.empty() ? "*." : " *.") + e;
        if (upper != e) patterns += " *." + upper;
    }
    const char* title = "Open a sample";
    if (commandExists("zenity")) {
        std::vector<std::string> command{"zenity", "--file-selection",
                                         std::string("--title=") + title};
        if (!patterns.empty()) command.push_back("--file-filter=Audio files | " + patterns);
        return command;
    }
    if (commandExists("kdialog")) {
        const char* home = std::getenv("HOME");
        return {"kdialog",
                "--title",
                title,
                "--getopenfilename",
                home ? home : ".",
                patterns.empty() ? std::string("*") : patterns + "|Audio files"};
    }
    return {};
}

FileChooser::FileChooser(RunLoop& runLoop) : runLoop_(runLoop) {}

FileChooser::~FileChooser() {
    done_.reset();  // an answer still on its way finds nobody to tell
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(shared_->mutex);
        // Only a child not yet reaped is still ours to signal (its pid cannot have been reused).
        // The whole group: the chooser may have started helpers that hold its output open.
        if (!shared_->reaped && shared_->pid > 0) {
            shared_->ended = true;
            ::kill(-shared_->pid, SIGKILL);  // a dialog holds nothing worth saving
        }
        const char stop = 1;
        [[maybe_unused]] const auto n = ::write(shared_->wakeFd, &stop, 1);
    }
    thread_.join();
    ::close(shared_->wakeFd);
    ::close(shared_->wakeReadFd);
}

bool FileChooser::open(const std::vector<std::string>& command, Done done) {
    if (open_) {
        logLine("the file chooser is already open");
        return false;
    }
    if (command.empty()) return false;
    if (thread_.joinable()) thread_.join();  // the last one has answered: its thread is done

    int fds[2];
    int wake[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        logf("cannot open the file chooser: pipe failed (%s)", std::strerror(errno));
        return false;
    }
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        logf("cannot open the file chooser: pipe failed (%s)", std::strerror(errno));
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);  // a group of its own, to end it whole
    pid_t pid = -1;
    const int err = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (err != 0) {
        ::close(fds[0]);
        ::close(wake[0]);
        ::close(wake[1]);
        logf("cannot start the file chooser \"%s\": %s", command[0].c_str(), std::strerror(err));
        showStatus("Cannot start the file chooser " + command[0]);
        return false;
    }

    if (shared_) {
        ::close(shared_->wakeFd);
        ::close(shared_->wakeReadFd);
    }
    shared_ = std::make_shared<Shared>();
    shared_->pid = pid;
    shared_->wakeFd = wake[1];
    shared_->wakeReadFd = wake[0];
    done_ = std::make_shared<Done>(std::move(done));
    open_ = true;
    std::weak_ptr<Done> answer = done_;
    thread_ = std::thread([this, &runLoop = runLoop_, fd = fds[0], wakeFd = wake[0],
                           shared = shared_, answer, name = command[0]] {
        std::string out;
        char buffer[4096];
        while (true) {
            pollfd watched[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (watched[1].revents != 0) break;  // told to stop: the child is being ended
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                out.append(buffer, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                break;
            }
        }
        ::close(fd);
        // Wait for the end without reaping, so that the pid stays ours while the destructor
        // may still signal it; then reap under the lock.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(shared->pid), &info, WEXITED | WNOWAIT) != 0 &&
               errno == EINTR) {
        }
        int status = 0;
        bool ended = false;
        {
            std::lock_guard lock(shared->mutex);
            while (::waitpid(shared->pid, &status, 0) < 0 && errno == EINTR) {
            }
            shared->reaped = true;
            ended = shared->ended;
        }
        std::string path;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            path = out.substr(0, out.find('\n'));
        } else if (!ended && !(WIFEXITED(status) && WEXITSTATUS(status) == 1)) {
            // 1 is a cancel for both choosers; anything else is a failure worth a line.
            logf("the file chooser \"%s\" failed (status %d)", name.c_str(), status);
        }
        runLoop.post([this, answer, path = std::move(path)] {
            auto done = answer.lock();
            if (!done) return;
            open_ = false;
            (*done)(path);
        });
    });
    return true;
}

}  // namespace vornik
