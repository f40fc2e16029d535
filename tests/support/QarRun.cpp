#include "support/QarRun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "lib/QarBuilder.h"
#include "support/TempDir.h"

extern char** environ;

namespace vorlr::testing {

QarResult runProgram(std::vector<std::string> args, const std::string& workDir) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Output goes to a folder of its own so it never shows up among the files a test inspects.
    const TempDir io;
    const std::string outPath = io.file("stdout"), errPath = io.file("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    pid_t pid = -1;
    QarResult r;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return r;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const auto out = samples::readFile(outPath), err = samples::readFile(errPath);
    r.out.assign(out.begin(), out.end());
    r.err.assign(err.begin(), err.end());
    return r;
}

}  // namespace vorlr::testing
