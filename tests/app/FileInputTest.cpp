// Drops (one audio file, several files, text, the extension alone deciding) and the desktop's
// file chooser, a child process whose answer comes back through the run loop.

#include <SDL_stdinc.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/FileInput.h"
#include "support/Files.h"
#include "support/LogLines.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

class FakeTarget : public FileInputTarget {
public:
    void loadFile(const std::string& path) override { loaded.push_back(path); }
    void raiseWindow() override { ++raised; }
    void resetTransposition() override { transpose = 0; }

    Paths loaded;
    int raised = 0;
    int transpose = 7;
};

bool endsWithWav(std::string_view path) { return path.ends_with(".wav") && path.size() > 4; }

SDL_Event dropEvent(Uint32 type, const char* file = nullptr) {
    SDL_Event e{};
    e.drop.type = type;
    e.drop.file = file ? SDL_strdup(file) : nullptr;  // as SDL allocates it; the handler frees
    return e;
}

TEST(FileInputTest, OneAudioFileDropLoadsRaisesAndResetsTransposition) {
    FakeTarget target;
    FileInput input(target, endsWithWav);
    EXPECT_TRUE(input.handleEvent(dropEvent(SDL_DROPBEGIN)));
    EXPECT_TRUE(input.handleEvent(dropEvent(SDL_DROPFILE, "/tmp/loop.wav")));
    EXPECT_TRUE(input.wouldAccept());
    EXPECT_TRUE(target.loaded.empty());  // nothing before the drop is complete
    EXPECT_TRUE(input.handleEvent(dropEvent(SDL_DROPCOMPLETE)));
    EXPECT_EQ(target.loaded, Paths{"/tmp/loop.wav"});
    EXPECT_EQ(target.raised, 1);
    EXPECT_EQ(target.transpose, 0);
    SDL_Event other{};
    other.type = SDL_KEYDOWN;
    EXPECT_FALSE(input.handleEvent(other));

    input.fileChosen("/c/chosen.flac");  // chosen: the chooser's filter decided, no raise
    input.fileChosen("");                // cancelled
    EXPECT_EQ(target.loaded, (Paths{"/tmp/loop.wav", "/c/chosen.flac"}));
    EXPECT_EQ(target.raised, 1);
}

TEST(FileInputTest, SeveralFilesTextAndOtherExtensionsAreRefused) {
    const struct {
        Paths files;
        const char* text;
        const char* logged;  // nullptr: refused silently
    } drops[] = {{{"/a/one.wav", "/a/two.wav"}, nullptr, "2 items"},
                 {{"/a/notes.txt"}, nullptr, "\"notes.txt\" is not an audio file"},
                 {{"/a/no-extension"}, nullptr, "\"no-extension\""},
                 {{}, "https://example.org/a.wav", "not text"},
                 {{}, nullptr, nullptr}};
    FakeTarget target;
    FileInput input(target, endsWithWav);
    for (const auto& drop : drops) {
        test::LogLines log;
        input.handleEvent(dropEvent(SDL_DROPBEGIN));
        for (const std::string& f : drop.files) input.dropFile(f);
        if (drop.text) input.handleEvent(dropEvent(SDL_DROPTEXT, drop.text));
        EXPECT_EQ(input.wouldAccept(), false);
        input.handleEvent(dropEvent(SDL_DROPCOMPLETE));
        ASSERT_EQ(log.lines.size(), drop.logged ? 1u : 0u);
        if (drop.logged) {
            EXPECT_NE(log.lines[0].find(drop.logged), std::string::npos);
        }
    }
    test::LogLines log;
    input.dropComplete();  // a complete without a begin
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(target.loaded.empty());
    EXPECT_EQ(target.raised, 0);
    EXPECT_EQ(target.transpose, 7);
}

TEST(FileInputTest, OnlyTheExtensionDecides) {
    // Named like audio: handed on whatever it holds (the loader reports a bad one). A real sound
    // under another name: refused without being opened.
    test::TempDir dir;
    std::ofstream(dir / "words.wav") << "not a sound at all";
    std::ofstream(dir / "sound.txt") << "RIFF";
    FakeTarget target;
    FileInput input(target, endsWithWav);
    test::LogLines log;
    for (const char* name : {"words.wav", "sound.txt"}) {
        input.dropBegin();
        input.dropFile((dir / name).string());
        input.dropComplete();
    }
    EXPECT_EQ(target.loaded, Paths{dir.file("words.wav")});

    input.dropFile("/b/single.wav");  // without a begin and a complete: one at a time
    EXPECT_EQ(target.loaded.size(), 2u);
}

class FileChooserThreadsTest : public ::testing::Test {
protected:
    std::vector<std::string> script(const std::string& body) {
        const fs::path p = dir / ("script" + std::to_string(++scripts));
        std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(p, fs::perms::owner_all);
        return {p.string()};
    }
    // Runs the loop until the answer came or five seconds passed.
    std::optional<std::string> wait(const std::optional<std::string>& answer) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!answer && std::chrono::steady_clock::now() < end) {
            loop.runDue();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return answer;
    }

    test::TempDir dir;
    int scripts = 0;
    SteadyClock clock;
    RunLoop loop{clock};
};

TEST_F(FileChooserThreadsTest, AnswerArrivesOnTheMainThreadThroughTheRunLoop) {
    FileChooser chooser(loop);
    std::optional<std::string> chosen;
    std::thread::id answeredOn;
    const auto done = [&](const std::string& path) {
        chosen = path;
        answeredOn = std::this_thread::get_id();
    };
    ASSERT_TRUE(chooser.open(script("sleep 0.1; echo '/music/my song.wav'"), done));
    EXPECT_TRUE(chooser.isOpen());
    test::LogLines log;
    EXPECT_FALSE(chooser.open(script("echo x"), done));  // one at a time, with a line
    EXPECT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(wait(chosen), "/music/my song.wav");
    EXPECT_EQ(answeredOn, std::this_thread::get_id());
    EXPECT_FALSE(chooser.isOpen());

    // Cancelled (exit 1): "" and no line. Failed (exit 3): "" and a line.
    for (const char* body : {"exit 1", "exit 3"}) {
        chosen.reset();
        ASSERT_TRUE(chooser.open(script(body), done));
        EXPECT_EQ(wait(chosen), "") << body;
    }
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_FALSE(chooser.open({(dir / "missing").string()}, done));  // refused at once
    EXPECT_FALSE(chooser.isOpen());
}

TEST_F(FileChooserThreadsTest, QuittingWithTheChooserOpenEndsItAndDropsTheAnswer) {
    const std::string marker = (dir / "still-running").string();
    bool answered = false;
    const auto start = std::chrono::steady_clock::now();
    {
        FileChooser chooser(loop);
        ASSERT_TRUE(chooser.open(script("sleep 30; touch '" + marker + "'"),
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
