// The viewer as a process: started in a folder with a list file, ended by a signal, it writes
// the list back (CR LF after every item) like Quit does.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "lib/QarBuilder.h"
#include "support/TempDir.h"

using namespace vorlr;

TEST(ViewerProcess, TerminationSignalClosesTheWindowAndWritesTheList) {
    vorlr::testing::TempDir dir;
    samples::writeFile(dir.file("VORLR.LST"), samples::bytesOf("/x/a.qar\n/x/b.qar\r/x/c.qar"));
    for (int sig : {SIGTERM, SIGINT}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::chdir(dir.path().c_str()) != 0) ::_exit(99);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(VORLR_VIEWER_PATH, "vorlr", static_cast<char*>(nullptr));
            ::_exit(98);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(samples::readFile(dir.file("VORLR.LST")),
                  samples::bytesOf("/x/a.qar\r\n/x/b.qar\r\n/x/c.qar\r\n"));
    }
}
