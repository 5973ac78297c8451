// Drops (one audio file, several files, text, the extension alone deciding) and the desktop's
// file chooser run as a child process whose answer comes back through the run loop.

#include <SDL_stdinc.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/FileInput.h"
#include "support/LogLines.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

class FakeTarget : public FileInputTarget {
public:
    void loadFile(const std::string& path) override { loaded.push_back(path); }
    void raiseWindow() override { ++raised; }
    void resetTransposition() override { transpose = 0; }

    std::vector<std::string> loaded;
    int raised = 0;
    int transpose = 7;
};

bool endsWithWav(std::string_view path) {
    return path.size() > 4 && path.substr(path.size() - 4) == ".wav";
}

SDL_Event dropEvent(Uint32 type, const char* file = nullptr) {
    SDL_Event e{};
    e.drop.type = type;
    e.drop.file = file ? SDL_strdup(file) : nullptr;  // what SDL allocates; the handler frees
    return e;
}

TEST(FileInputTest, OneAudioFileDropLoadsRaisesAndResetsTransposition) {
    FakeTarget target;
    FileInput input(target, endsWithWav);
    EXPECT_TRUE(input.handleEvent(dropEvent(SDL_DROPBEGIN)));
    EXPECT_TRUE(input.handleEvent(dropEvent(SDL_DROPFILE, "/tmp/loop.wav")));
    EXPECT_TRUE(input.wouldAccept());
    EXPECT_TRUE(target.loaded.empty());  // nothing happens before the drop is complete
    EXPECT_TRUE(input.handleEvent(dropEvent(SDL_DROPCOMPLETE)));
    EXPECT_EQ(target.loaded, std::vector<std::string>{"/tmp/loop.wav"});
    EXPECT_EQ(target.raised, 1);
    EXPECT_EQ(target.transpose, 0);

    SDL_Event other{};
    other.type = SDL_KEYDOWN;
    EXPECT_FALSE(input.handleEvent(other));
}

TEST(FileInputTest, SeveralFilesTextAndOtherExtensionsAreRefused) {
    FakeTarget target;
    FileInput input(target, endsWithWav);
    test::LogLines log;

    input.dropBegin();
    input.dropFile("/a/one.wav");
    input.dropFile("/a/two.wav");
    EXPECT_FALSE(input.wouldAccept());
    input.dropComplete();

    input.dropBegin();
    input.dropFile("/a/notes.txt");
    input.dropComplete();

    input.dropBegin();
    input.dropFile("/a/no-extension");
    input.dropComplete();

    input.handleEvent(dropEvent(SDL_DROPBEGIN));
    input.handleEvent(dropEvent(SDL_DROPTEXT, "https://example.org/a.wav"));
    input.handleEvent(dropEvent(SDL_DROPCOMPLETE));

    input.dropBegin();  // an empty drop: nothing to say
    input.dropComplete();
    input.dropComplete();  // a complete without a begin

    EXPECT_TRUE(target.loaded.empty());
    EXPECT_EQ(target.raised, 0);
    EXPECT_EQ(target.transpose, 7);
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_NE(log.lines[0].find("2 items"), std::string::npos);
    EXPECT_NE(log.lines[1].find("\"notes.txt\" is not an audio file"), std::string::npos);
    EXPECT_NE(log.lines[2].find("\"no-extension\""), std::string::npos);
    EXPECT_NE(log.lines[3].find("not text"), std::string::npos);
}

TEST(FileInputTest, OnlyTheExtensionDecides) {
    // A file named like audio is handed on whatever it holds (the loader reports a bad one),
    // and a real sound under another name is refused without being opened.
    const fs::path dir =
        fs::temp_directory_path() / ("vornik-fileinput-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "words.wav") << "not a sound at all";
    std::ofstream(dir / "sound.txt") << "RIFF";
    std::vector<std::string> asked;
    FakeTarget target;
    FileInput input(target, [&](std::string_view path) {
        asked.emplace_back(path);
        return endsWithWav(path);
    });
    test::LogLines log;
    for (const char* name : {"words.wav", "sound.txt"}) {
        input.dropBegin();
        input.dropFile((dir / name).string());
        input.dropComplete();
    }
    EXPECT_EQ(target.loaded, std::vector<std::string>{(dir / "words.wav").string()});
    EXPECT_EQ(asked.size(), 2u);
    fs::remove_all(dir);

    // Files sent without a begin and a complete count one at a time.
    input.dropFile("/b/single.wav");
    EXPECT_EQ(target.loaded.size(), 2u);
}

TEST(FileInputTest, ChosenFileLoadsAndKeepsTransposition) {
    FakeTarget target;
    FileInput input(target, endsWithWav);
    input.fileChosen("/c/chosen.flac");  // the chooser's own filter decided
    input.fileChosen("");                // cancelled
    EXPECT_EQ(target.loaded, std::vector<std::string>{"/c/chosen.flac"});
    EXPECT_EQ(target.transpose, 7);
    EXPECT_EQ(target.raised, 0);
}

TEST(FileInputTest, ChooserCommandOffersTheAudioExtensions) {
    const auto command = FileChooser::findCommand({"wav", "flac"});
    if (command.empty()) {
        GTEST_SKIP() << "neither zenity nor kdialog is installed";
    }
    std::string all;
    for (const auto& a : command) all += a + " ";
    EXPECT_NE(all.find("*.wav"), std::string::npos);
    EXPECT_NE(all.find("*.FLAC"), std::string::npos);
}

// --- The chooser's child process and thread ---------------------------------------------------

class FileChooserThreadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("vornik-chooser-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string script(const std::string& name, const std::string& body) {
        const fs::path p = dir / name;
        std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(p, fs::perms::owner_all);
        return p.string();
    }

    // Runs the loop until the answer came or five seconds passed.
    bool waitForAnswer(RunLoop& loop, const bool& answered) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!answered && std::chrono::steady_clock::now() < end) {
            loop.runDue();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return answered;
    }

    fs::path dir;
    SteadyClock clock;
    RunLoop loop{clock};
};

TEST_F(FileChooserThreadsTest, AnswerArrivesOnTheMainThreadThroughTheRunLoop) {
    FileChooser chooser(loop);
    bool answered = false;
    std::string chosen;
    const auto mainThread = std::this_thread::get_id();
    std::thread::id answeredOn;
    ASSERT_TRUE(chooser.open({script("choose", "sleep 0.1; echo '/music/my song.wav'")},
                             [&](const std::string& path) {
                                 chosen = path;
                                 answeredOn = std::this_thread::get_id();
                                 answered = true;
                             }));
    EXPECT_TRUE(chooser.isOpen());
    test::LogLines log;
    EXPECT_FALSE(chooser.open({script("other", "echo x")}, [](const std::string&) {}));
    EXPECT_EQ(log.lines.size(), 1u);  // one at a time
    ASSERT_TRUE(waitForAnswer(loop, answered));
    EXPECT_EQ(chosen, "/music/my song.wav");
    EXPECT_EQ(answeredOn, mainThread);
    EXPECT_FALSE(chooser.isOpen());

    // Cancelled (exit 1): an empty answer, no log line. A failure: an empty answer and a line.
    answered = false;
    chosen = "unchanged";
    ASSERT_TRUE(chooser.open({script("cancel", "exit 1")}, [&](const std::string& path) {
        chosen = path;
        answered = true;
    }));
    ASSERT_TRUE(waitForAnswer(loop, answered));
    EXPECT_EQ(chosen, "");
    answered = false;
    ASSERT_TRUE(chooser.open({script("crash", "exit 3")}, [&](const std::string& path) {
        chosen = path;
        answered = true;
    }));
    ASSERT_TRUE(waitForAnswer(loop, answered));
    EXPECT_EQ(chosen, "");
    EXPECT_EQ(log.lines.size(), 2u);

    // A command that does not exist is refused at once.
    EXPECT_FALSE(chooser.open({(dir / "missing").string()}, [](const std::string&) {}));
    EXPECT_FALSE(chooser.isOpen());
}

TEST_F(FileChooserThreadsTest, QuittingWithTheChooserOpenEndsItAndDropsTheAnswer) {
    const std::string marker = (dir / "still-running").string();
    bool answered = false;
    const auto start = std::chrono::steady_clock::now();
    {
        FileChooser chooser(loop);
        ASSERT_TRUE(chooser.open({script("slow", "sleep 30; touch '" + marker + "'")},
                                 [&](const std::string&) { answered = true; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    loop.runDue();
    EXPECT_FALSE(answered);
    EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace vornik
