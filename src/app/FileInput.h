#pragma once
// Loading a sample from a file: one audio file dropped on the window, or one chosen in the
// desktop's file chooser (Ctrl+O). Thread: main, unless a call says otherwise.
//
// A drop loads, raises the window and sets the transposition back to "original". A file chosen
// in the chooser loads and keeps the transposition. Only the name's extension decides whether a
// dropped file is audio; a file that then cannot be decoded is the loader's to report.

#include <SDL_events.h>
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/RunLoop.h"

namespace vornik {

// What file input acts on: the instrument, the window and the transpose stepper.
class FileInputTarget {
public:
    virtual ~FileInputTarget() = default;
    virtual void loadFile(const std::string& path) = 0;
    virtual void raiseWindow() = 0;
    // The transpose stepper to 0 ("original"), its value read back and sent to the instrument.
    virtual void resetTransposition() = 0;
};

class FileInput {
public:
    using AudioTest = std::function<bool(std::string_view path)>;

    FileInput(FileInputTarget& target, AudioTest isAudio);

    // One drop: its files come between begin and complete. Two or more, none, or a file whose
    // name is not an audio file's are refused with a log line; one audio file is loaded.
    void dropBegin();
    void dropFile(std::string path);
    void dropText(std::string_view text);
    void dropComplete();
    // Whether the files collected so far would be accepted (the drag's copy indication).
    bool wouldAccept() const;

    // Takes SDL_DROPBEGIN, SDL_DROPFILE, SDL_DROPTEXT and SDL_DROPCOMPLETE (freeing the file or
    // text SDL allocated for it); returns false for every other event.
    bool handleEvent(const SDL_Event& event);

    // One file as if it had been dropped alone (a resampled take): loads it, raises the window
    // and sets the transposition back.
    void loadDropped(const std::string& path);

    // A file chosen in the chooser: loads it, keeps the transposition. Empty: cancelled.
    void fileChosen(const std::string& path);

private:
    void perform();

    FileInputTarget& target_;
    AudioTest isAudio_;
    bool dropping_ = false;
    std::vector<std::string> files_;
    int texts_ = 0;
};

// The desktop's file chooser (zenity or kdialog), run as a child process so that the main loop
// goes on while it is open. Its answer comes back through the run loop.
class FileChooser {
public:
    // `done` runs on the main thread from the run loop, once per open(): the chosen path, or ""
    // when the chooser was cancelled or failed.
    using Done = std::function<void(const std::string& path)>;

    explicit FileChooser(RunLoop& runLoop);
    // Ends a chooser still open (its child process) and waits for its thread.
    ~FileChooser();
    FileChooser(const FileChooser&) = delete;
    FileChooser& operator=(const FileChooser&) = delete;

    // The command line of the first chooser found on the PATH offering `extensions`, or an empty
    // list when there is none. Thread: any.
    static std::vector<std::string> findCommand(const std::vector<std::string>& extensions);

    // Starts `command` (its standard output is the chosen path). False, logged, when a chooser
    // is already open or the command cannot be started.
    bool open(const std::vector<std::string>& command, Done done);
    bool isOpen() const { return open_; }

private:
    struct Shared {
        std::mutex mutex;
        pid_t pid = -1;  // also the id of the child's own process group
        bool reaped = false;
        bool ended = false;   // ended by us: its exit is no failure
        int wakeFd = -1;      // written to stop the reader waiting for output
        int wakeReadFd = -1;  // the reader's end; both closed only once the reader is done
    };

    RunLoop& runLoop_;
    bool open_ = false;
    std::shared_ptr<Done> done_;  // the posted answer runs it only while this chooser lives
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace vornik
