#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/Container.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "mount/FuseMount.h"
#include "mount/MountTree.h"
#include "platform/Errors.h"

namespace qar {

namespace {

struct MountArgs {
    std::vector<std::string> archives;
    std::string mountpoint;
    bool convertPng = false;
    bool ignoreCase = false;
    bool foreground = false;
};

// QAR_MOUNT_CACHE_BYTES sets the size of the converted pictures' cache (tests make it small to
// see pictures leave it); anything but a plain number keeps the default.
size_t cacheBytes() {
    const char* text = std::getenv("QAR_MOUNT_CACHE_BYTES");
    if (!text || !*text || std::strspn(text, "0123456789") != std::strlen(text) || std::strlen(text) > 15)
        return size_t{256} << 20;
    return static_cast<size_t>(std::strtoull(text, nullptr, 10));
}

// Loads, mounts and serves. With ready >= 0 (the background process), one byte goes there once
// the folder is mounted, and the process then lets go of the terminal.
int serveMount(const MountArgs& opts, int ready) {
    try {
        std::vector<std::unique_ptr<vorlr::Archive>> archives;
        for (const std::string& path : opts.archives) archives.push_back(LoadValidArchive(path));
        vorlr::MountOptions options;
        options.ignoreCase = opts.ignoreCase;
        options.convertPng = opts.convertPng;
        options.cacheBytes = cacheBytes();
        vorlr::MountTree tree(std::move(archives), options, [](const std::string& m) { fail(m); });
        vorlr::FuseMount mount(tree, opts.mountpoint);
        if (ready >= 0) {
            const char byte = 1;
            (void)!::write(ready, &byte, 1);
            ::close(ready);
            ::setsid();
            if (const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC); null >= 0) {
                ::dup2(null, STDIN_FILENO);
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
                ::close(null);
            }
            (void)!::chdir("/");
        }
        return mount.serve();
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

}  // namespace

int runMount(const MountArgs& opts) {
    struct stat st{};
    if (::stat(opts.mountpoint.c_str(), &st) != 0)
        return fail("cannot mount on " + opts.mountpoint + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) return fail("cannot mount on " + opts.mountpoint + ": not a folder");
    if (opts.foreground) return serveMount(opts, -1);

    // The file system runs in a child; this process returns once the child has mounted it, or
    // with the child's status when it could not.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return fail(std::strerror(errno));
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return fail(std::strerror(errno));
    if (child == 0) {
        ::close(pipeFds[0]);
        std::fflush(nullptr);
        ::_exit(serveMount(opts, pipeFds[1]));
    }
    ::close(pipeFds[1]);
    char byte = 0;
    ssize_t got;
    while ((got = ::read(pipeFds[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    ::close(pipeFds[0]);
    if (got == 1) return 0;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) return WEXITSTATUS(status);
    return fail("the file system stopped before it was mounted");
}

void addMountCommand(CommandLine& line) {
    struct Words {
        std::vector<std::string> words;
        std::string convert;
        MountArgs args;
    };
    auto o = std::make_shared<Words>();
    CLI::App* cmd = line.add(
        {"mount", "qar mount ARCHIVE... MOUNTPOINT [--convert png] [--ignore-case] [--foreground]",
         "the archives as one read-only folder (FUSE)",
         "Folders come from the names split at \\, as extract writes them; unsafe names are\n"
         "left out (warned) and the last of duplicated names is shown. An entry of a later\n"
         "ARCHIVE replaces one of the same name in an earlier one; folders merge.\n"
         "  --convert png   .kmg and .tga entries appear as the PNG files that\n"
         "                  extract --convert png writes (made when first looked at)\n"
         "  --ignore-case   names match with letters A-Z in either case\n"
         "  --foreground    serve in this process; Ctrl+C unmounts\n"
         "Without --foreground the command returns once the folder is mounted.\n"
         "Unmount with: fusermount3 -u MOUNTPOINT"},
        [o] {
            if (o->words.size() < 2) return usage("mount", "missing MOUNTPOINT");
            if (!o->convert.empty() && o->convert != "png")
                return usage("mount", "--convert takes png");
            o->args.convertPng = !o->convert.empty();
            o->args.mountpoint = o->words.back();
            o->args.archives.assign(o->words.begin(), o->words.end() - 1);
            return runMount(o->args);
        });
    cmd->add_option("ARCHIVE", o->words)->required();
    cmd->add_option("--convert", o->convert)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    cmd->add_flag("--ignore-case", o->args.ignoreCase);
    cmd->add_flag("--foreground", o->args.foreground);
}

}  // namespace qar
