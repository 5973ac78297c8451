// vornik: the instrument. Opens the window with its strip, loads the file named on the command
// line, and runs until the window is closed.

#include <cstdio>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/CommandLine.h"

int main(int argc, char** argv) {
    using namespace vornik;
    const CommandLine commandLine =
        parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    switch (commandLine.action) {
        case CommandLine::Action::Help:
            std::fputs(usageText().c_str(), stdout);
            return 0;
        case CommandLine::Action::Version:
            std::printf("vornik %s\n", VORNIK_VERSION);
            return 0;
        case CommandLine::Action::Error:
            std::fprintf(stderr, "vornik: %s\n%s", commandLine.error.c_str(),
                         "usage: vornik [FILE] [--zoom N] [--fresh] [--midi none|all|NAME] "
                         "[--midi-channel N] [--audio auto|jack|sdl] [--help] [--version]\n");
            return kExitUsage;
        case CommandLine::Action::Run:
            break;
    }
    Application application(commandLine.options);
    return application.run();
}
