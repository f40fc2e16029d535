// The viewer's command line as a process: --help, --version and wrong usage answer without a
// display; a FILE argument is opened at start and ends up in the list file as a full path.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "lib/QarBuilder.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using testing::runProgram;

// The X11 platform with no display to reach: a program that makes its application object
// anyway aborts instead of answering.
class NoDisplay {
public:
    NoDisplay() {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            if (const char* v = std::getenv(name)) saved_.emplace_back(name, v);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    ~NoDisplay() {
        ::unsetenv("QT_QPA_PLATFORM");
        for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
    }

private:
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST(ViewerCommandLine, AnswersWithoutADisplay) {
    const NoDisplay noDisplay;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string outStart, errStart;
    };
    const std::string usage = "usage: vorlr [FILE]\n";
    const Case cases[] = {
        {{"--version"}, 0, "vorlr 0.1.0\n", ""},
        {{"--help"}, 0, usage, ""},
        {{"a.qar", "-h"}, 0, usage, ""},
        {{"--bogus"}, 2, "", "vorlr: unknown option '--bogus'\n" + usage},
        {{"a.qar", "-platform", "offscreen"}, 2, "", "vorlr: unknown option '-platform'\n"},
        {{"a.qar", "b.qar"}, 2, "", "vorlr: only one FILE can be opened\n"},
        {{"--", "--version", "b.qar"}, 2, "", "vorlr: only one FILE can be opened\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{VORLR_VIEWER_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto r = runProgram(argv);
        SCOPED_TRACE(c.args.front());
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out.rfind(c.outStart, 0), 0u) << r.out;
        EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << r.err;
        if (c.outStart.empty()) {
            EXPECT_EQ(r.out, "");
        }
        if (c.errStart.empty()) {
            EXPECT_EQ(r.err, "");
        }
    }
}

// Whether the process holds path open (a loaded archive stays open).
bool holdsOpen(pid_t pid, const std::string& path) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        if (fs::read_symlink(fd.path(), ec) == path) return true;
    return false;
}

TEST(ViewerCommandLine, FileArgumentIsLoadedAndListedAsAFullPath) {
    vorlr::testing::TempDir dir;
    fs::create_directory(dir.file("sub"));
    // A name that reads as an option, given after "--".
    const std::string archive = dir.file("sub/-reverse");
    samples::writeQar(archive, {{"A.TXT", samples::bytesOf("a"), {}, {}, false}});
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::chdir(dir.file("sub").c_str()) != 0) ::_exit(99);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(VORLR_VIEWER_PATH, "vorlr", "--", "-reverse", static_cast<char*>(nullptr));
        ::_exit(98);
    }
    // Waits for the load (at most 20 s) rather than guessing how long it takes.
    bool loaded = false;
    for (int i = 0; i < 400 && !loaded; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        loaded = holdsOpen(pid, archive);
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(loaded);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(samples::readFile(dir.file("sub/VORLR.LST")), samples::bytesOf(archive + "\r\n"));
}

}  // namespace
}  // namespace vorlr
