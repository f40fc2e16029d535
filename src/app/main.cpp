#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Unit1.h"
#include "platform/HugePages.h"
#include "platform/gui/Application.h"
#include "platform/media/AudioExit.h"

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

int runWindow(const vorlr::CommandLine& commandLine, int argc, char** argv) {
    // Only the program name reaches the toolkit: every word was read above, and a FILE that
    // looks like one of the toolkit's own options stays a file name.
    int appArgc = argc > 0 ? 1 : 0;
    vorlr::Application app(appArgc, argv);
    vorlr::TForm1 Form1;

    // A terminal's Ctrl+C or a session's SIGTERM closes the window like Quit, so the archive
    // list is still written.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &Form1, [&Form1] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
            Form1.close();
        });
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
    }

    Form1.show();
    if (!commandLine.file.empty()) vorlr::OpenAtStart(Form1, commandLine.file);
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before the application object exists: no display is needed for them.
    vorlr::CommandLine commandLine;
    try {
        commandLine =
            vorlr::ParseCommandLine(std::vector<std::string>(argv + (argc > 0), argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorlr: %s\n", e.what());
        return 1;
    }
    if (commandLine.exit) {
        FILE* out = commandLine.exitStatus == 0 ? stdout : stderr;
        const bool written =
            std::fputs(commandLine.message.c_str(), out) >= 0 && std::fflush(out) == 0;
        return written || commandLine.exitStatus != 0 ? commandLine.exitStatus : 1;
    }
    vorlr::StartWithHugePages(argv);  // a window that may load a million entries

    // The window, the archive list and the application are gone when it returns.
    vorlr::ExitSkippingAudioTeardown(runWindow(commandLine, argc, argv));
}
