// Start-up costs, each measured over whole processes:
//  - the viewer: a fresh process that creates the application and the main window, shows it
//    (offscreen) and handles the first events, then exits;
//  - `qar info` on a 1,000,000-entry archive (it reads the header, not the directory).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/Unit1.h"
#include "lib/BigArchives.h"
#include "platform/gui/Application.h"

namespace {

std::string selfPath;

int runChild(const std::vector<std::string>& args, bool quiet) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (quiet) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
        }
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ViewerColdStartToWindowShown(benchmark::State& state) {
    for (auto _ : state)
        if (runChild({selfPath, "--show-window"}, true) != 0) state.SkipWithError("child failed");
}
BENCHMARK(ViewerColdStartToWindowShown)->Unit(benchmark::kMillisecond)->UseRealTime();

void QarInfoMillionEntries(benchmark::State& state) {
    const std::string path = (std::filesystem::temp_directory_path() / "vorlr-startup-1m.qar").string();
    vorlr::samples::writeBigArchive(path, vorlr::samples::bigArchiveNames(1000000, false));
    const std::string qar = std::filesystem::path(selfPath).parent_path().parent_path() / "src" / "qar";
    for (auto _ : state)
        if (runChild({qar, "info", path}, true) != 0) state.SkipWithError("qar info failed");
    std::filesystem::remove(path);
}
BENCHMARK(QarInfoMillionEntries)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--show-window") == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const std::string dir = (std::filesystem::temp_directory_path() / "vorlr-startup").string();
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        vorlr::Application app(argc, argv);
        vorlr::TForm1 form;
        form.show();
        QCoreApplication::processEvents();
        return form.isVisible() ? 0 : 1;
    }
    selfPath = std::filesystem::canonical("/proc/self/exe").string();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
