// qar mount, run as the real tool over a real FUSE mount: the mounted tree against what qar
// extract writes (raw and --convert png), several archives, --ignore-case, writes refused,
// background start and failures, a killed server, and damaged archives.
//
// These need /dev/fuse and the right to mount. Without them they skip, unless
// VORLR_REQUIRE_FUSE=1 (set by scripts/test.sh where FUSE is there), which makes them fail.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "lib/DemoArchive.h"
#include "lib/ImageSamples.h"
#include "lib/QarBuilder.h"
#include "support/Damage.h"
#include "support/Entries.h"
#include "support/QarRun.h"
#include "support/TempDir.h"

using vorlr::samples::QarEntry;
using vorlr::samples::readFile;
using vorlr::testing::byteEntry;
using vorlr::testing::entry;
using vorlr::testing::runQar;
using vorlr::testing::TempDir;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int shell(const std::string& command) {
    return vorlr::testing::runProgram({"/bin/sh", "-c", command}).status;
}

bool isMounted(const std::string& path) {
    // Only the parent is resolved: a stat of a mount whose server died fails (ENOTCONN).
    std::error_code ec;
    const fs::path p(path);
    const std::string real = (fs::weakly_canonical(p.parent_path(), ec) / p.filename()).string();
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, dev, root, point;
        fields >> id >> parent >> dev >> root >> point;
        if (point == real) return true;
    }
    return false;
}

void unmount(const std::string& path) {
    for (int attempt = 0; attempt < 3 && isMounted(path); ++attempt) {
        const std::string cmd = "fusermount3 -u -z '" + path + "' >/dev/null 2>&1 || umount -l '" + path + "' >/dev/null 2>&1";
        (void)std::system(cmd.c_str());
    }
}

// `qar mount ... --foreground` as a child process, its standard error kept; always unmounted
// and reaped when it goes out of scope.
class MountProcess {
public:
    MountProcess(std::vector<std::string> args, const std::string& mountpoint,
                 const std::string& errFile, const std::string& cacheBytes = {})
        : mountpoint_(mountpoint), errFile_(errFile) {
        args.insert(args.begin(), VORLR_QAR_PATH);
        args.push_back("--foreground");
        pid_ = ::fork();
        if (pid_ == 0) {
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(err, 2);
            if (!cacheBytes.empty()) ::setenv("QAR_MOUNT_CACHE_BYTES", cacheBytes.c_str(), 1);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        // Mounted, or the process gave up.
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (isMounted(mountpoint_)) {
                mounted_ = true;
                return;
            }
            if (reap(false)) return;
            std::this_thread::sleep_for(5ms);
        }
    }
    ~MountProcess() { stop(); }
    MountProcess(const MountProcess&) = delete;
    MountProcess& operator=(const MountProcess&) = delete;

    bool mounted() const { return mounted_; }
    // Sends sig and waits (up to 20 s) for the process to end on its own: its exit status, or -1.
    int signal(int sig) {
        ::kill(pid_, sig);
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!reap(false) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
        return exited_ ? status_ : -1;
    }
    // Ends the process the hard way, leaving its mount behind.
    void kill() {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    // Unmounts and waits for the process: its exit status (128 + signal when killed).
    int stop() {
        if (pid_ > 0 && !exited_) {
            unmount(mountpoint_);
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (!reap(false) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
            if (!exited_) {
                ::kill(pid_, SIGKILL);
                reap(true);
                ADD_FAILURE() << "qar mount did not end after the unmount";
            }
        }
        unmount(mountpoint_);
        return status_;
    }
    std::string errors() const {
        const auto bytes = readFile(errFile_);
        return {bytes.begin(), bytes.end()};
    }

private:
    bool reap(bool wait) {
        if (exited_) return true;
        int status = 0;
        if (::waitpid(pid_, &status, wait ? 0 : WNOHANG) != pid_) return false;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        exited_ = true;
        return true;
    }
    std::string mountpoint_, errFile_;
    pid_t pid_ = -1;
    bool mounted_ = false, exited_ = false;
    int status_ = -1;
};

// Why FUSE cannot be used here, or empty when it can: a trial mount of a one-entry archive.
std::string fuseUnavailable() {
    static const std::string reason = [] {
        if (::access("/dev/fuse", R_OK | W_OK) != 0) return std::string("/dev/fuse is missing or not usable");
        if (std::system("command -v fusermount3 >/dev/null 2>&1") != 0) return std::string("fusermount3 is not installed");
        const TempDir dir;
        vorlr::samples::writeQar(dir.file("probe.qar"), {entry("A", "a")});
        fs::create_directory(dir.file("mnt"));
        MountProcess probe({"mount", dir.file("probe.qar"), dir.file("mnt")}, dir.file("mnt"), dir.file("err"));
        const bool ok = probe.mounted() && fs::exists(dir.file("mnt/A"));
        const std::string err = probe.errors();
        probe.stop();
        return ok ? std::string() : "cannot mount a FUSE file system here: " + err;
    }();
    return reason;
}

#define REQUIRE_FUSE()                                                                   \
    do {                                                                                 \
        const std::string why = fuseUnavailable();                                       \
        if (!why.empty()) {                                                              \
            const char* required = std::getenv("VORLR_REQUIRE_FUSE");                    \
            if (required && std::string(required) == "1") FAIL() << why;                 \
            GTEST_SKIP() << "FUSE tests skipped: " << why;                               \
        }                                                                                \
    } while (0)

// Every path under root, relative: "<folder>" for folders, the bytes for files.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (it->is_directory()) {
            out[rel] = "<folder>";
        } else {
            const auto bytes = readFile(it->path().string());
            out[rel] = std::string(bytes.begin(), bytes.end());
            // The size stat reports (what ls -l shows) must be the size read.
            EXPECT_EQ(fs::file_size(it->path()), bytes.size()) << rel;
        }
    }
    return out;
}

void expectSameTree(const std::map<std::string, std::string>& mounted,
                    const std::map<std::string, std::string>& extracted) {
    for (const auto& [path, bytes] : extracted) {
        const auto it = mounted.find(path);
        if (it == mounted.end()) {
            ADD_FAILURE() << "missing under the mount: " << path;
        } else if (it->second != bytes) {
            ADD_FAILURE() << "differs: " << path << " (" << it->second.size() << " bytes mounted, "
                          << bytes.size() << " extracted)";
        }
    }
    for (const auto& [path, bytes] : mounted)
        if (!extracted.count(path)) ADD_FAILURE() << "only under the mount: " << path;
}

std::vector<uint8_t> withDepth(std::vector<uint8_t> tga, uint8_t bits) {
    tga.at(16) = bits;
    return tga;
}

// Nested folders, duplicates, unsafe names, damaged entries, clashes of files and folders, and
// pictures whose converted names clash with other entries.
std::vector<QarEntry> mixedEntries() {
    using namespace vorlr::samples;
    std::vector<QarEntry> e = {
        entry("ROOT.TXT", "at the top"),
        entry("DATA\\TEXT\\README.TXT", "nested"),
        entry("DATA\\A.BIN", "first A"),
        entry("data/slash.txt", "a stored slash"),
        entry("DATA\\A.BIN", "second A wins"),
        entry("..\\EVIL.TXT", "never"),
        entry("\\ABSOLUTE.TXT", "never"),
        entry("C:\\DRIVE.TXT", "never"),
        entry("DATA\\\\EMPTY.TXT", "never"),
        entry("", "never"),
        entry("CLASH", "a file first"),
        entry("CLASH\\INNER.TXT", "blocked by the file"),
        entry("NEST\\X.TXT", "a folder first"),
        entry("NEST", "blocked by the folder"),
        entry("Case.txt", "upper"),
        entry("case.txt", "lower"),
        byteEntry("GFX\\LOGO.TGA", sampleTga(2, 24, 9, 7)),
        byteEntry("GFX\\ALPHA.TGA", sampleTga(2, 32, 5, 6)),
        byteEntry("GFX\\ICONS.KMG", sampleKmgPalette(3)),
        byteEntry("GFX\\ONE.KMG", sampleKmgPalette(1)),
        byteEntry("GFX\\SHADE.KMG", sampleKmg16(12, 10)),
        byteEntry("GFX\\BAD.TGA", withDepth(sampleTga(2, 24, 4, 4), 13)),
        entry("GFX\\SHORT.KMG", "xx"),
        entry("GFX\\ONE.png", "raw entry replaced by the later conversion"),
        byteEntry("GFX\\ONE.KMG", sampleKmgPalette(2)),
        entry("GFX\\PIC.png\\INNER.TXT", "a folder where a picture would go"),
        byteEntry("GFX\\PIC.TGA", sampleTga(2, 24, 3, 3)),
        entry("GFX\\LOGO.png", "raw entry after the conversion: wins"),
    };
    QarEntry past = entry("PAST.TXT", "x");
    past.offsetOverride = 1 << 30;  // data far past the end: an empty file
    e.push_back(past);
    QarEntry negative = entry("NEGATIVE.TXT", "x");
    negative.offsetOverride = -5;  // no file at all
    e.push_back(negative);
    QarEntry negativeSize = entry("NEGSIZE.TXT", "x");
    negativeSize.sizeOverride = -1;
    e.push_back(negativeSize);
    QarEntry tail = entry("TAIL.TXT", "runs past the end");
    tail.sizeOverride = 1 << 20;  // read as far as the file goes: its data and the directory
    e.push_back(tail);
    return e;
}

class QarMount : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(mnt_);
    }
    // Writes an archive; its bytes and time are checked again at the end.
    std::string makeArchive(const std::string& name, const std::vector<QarEntry>& entries) {
        const std::string path = dir_.file(name);
        const auto bytes = vorlr::samples::buildQar(entries);
        vorlr::samples::writeFile(path, bytes);
        struct stat st{};
        ::stat(path.c_str(), &st);
        archives_.push_back({path, bytes, st.st_mtim});
        return path;
    }
    void TearDown() override {
        for (const auto& a : archives_) {
            EXPECT_EQ(readFile(a.path), a.bytes) << a.path << " was written";
            struct stat st{};
            ::stat(a.path.c_str(), &st);
            EXPECT_EQ(st.st_mtim.tv_sec, a.mtime.tv_sec);
            EXPECT_EQ(st.st_mtim.tv_nsec, a.mtime.tv_nsec);
        }
        EXPECT_FALSE(isMounted(mnt_)) << "left mounted";
        unmount(mnt_);
    }
    // What qar extract writes for the archives, one after another into one folder.
    std::map<std::string, std::string> extracted(const std::vector<std::string>& archives,
                                                 bool convert) {
        const std::string out = dir_.file("extract-" + std::to_string(extractRuns_++));
        for (const std::string& a : archives) {
            std::vector<std::string> args = {"extract", a, "-o", out};
            if (convert) args.insert(args.end(), {"--convert", "png"});
            const auto r = runQar(args);
            EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
        }
        return snapshot(out);
    }

    struct Written {
        std::string path;
        std::vector<uint8_t> bytes;
        timespec mtime;
    };
    TempDir dir_;
    std::string mnt_ = dir_.file("mnt");
    std::vector<Written> archives_;
    int extractRuns_ = 0;
};

TEST_F(QarMount, ShowsWhatExtractWrites) {
    REQUIRE_FUSE();
    const std::string a = makeArchive("a.qar", mixedEntries());
    struct Case {
        const char* what;
        bool convert;
        const char* cacheBytes;  // "0": no picture stays converted; each open makes it again
    };
    const Case cases[] = {{"raw", false, ""}, {"png", true, ""}, {"png, no cache", true, "0"},
                          {"png, room for a few pictures", true, "1500"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"mount", a, mnt_};
        if (c.convert) args.insert(args.end(), {"--convert", "png"});
        MountProcess m(args, mnt_, dir_.file("err"), c.cacheBytes);
        ASSERT_TRUE(m.mounted()) << m.errors();
        const auto mounted = snapshot(mnt_);
        expectSameTree(mounted, extracted({a}, c.convert));
        // The tests of the tree itself, beyond agreeing with extract.
        EXPECT_EQ(mounted.at("DATA/A.BIN"), "second A wins");
        EXPECT_EQ(mounted.at("CLASH"), "a file first");
        EXPECT_EQ(mounted.at("NEST"), "<folder>");
        EXPECT_EQ(mounted.count("NEGATIVE.TXT"), 0u);
        EXPECT_EQ(mounted.at("PAST.TXT"), "");
        const std::string& tail = mounted.at("TAIL.TXT");
        EXPECT_EQ(tail.rfind("runs past the end", 0), 0u);
        EXPECT_EQ(tail.size(), fs::file_size(a) - (fs::file_size(a) - mixedEntries().size() * 280 - 17));
        if (c.convert) {
            EXPECT_EQ(mounted.count("GFX/ICONS_2.png"), 1u);
            EXPECT_EQ(mounted.at("GFX/PIC.png"), "<folder>");
            EXPECT_EQ(mounted.at("GFX/LOGO.png"), "raw entry after the conversion: wins");
            EXPECT_EQ(mounted.count("GFX/BAD.TGA"), 1u);
        }
        EXPECT_EQ(m.stop(), 0) << m.errors();
        const std::string err = m.errors();
        EXPECT_NE(err.find("qar: #5 ..\\EVIL.TXT: skipped, name with a \".\" or \"..\" segment"), std::string::npos) << err;
        EXPECT_NE(err.find("#9 : skipped, empty name"), std::string::npos) << err;
    }
}

// What a listing gave for a name: its inode number and type.
struct Listed {
    ino_t ino;
    unsigned char type;
};

// Lists folder and everything below it as find does: names and types from the listing, no stat.
// With statFiles, stats each file of a folder right after listing it, as du does.
void walkFolder(const std::string& folder, const std::string& rel, bool statFiles,
                std::map<std::string, Listed>& out) {
    DIR* d = ::opendir(folder.c_str());
    ASSERT_NE(d, nullptr) << folder;
    std::vector<std::pair<std::string, unsigned char>> names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const auto [it, added] = out.try_emplace(rel + name, Listed{e->d_ino, e->d_type});
        if (!added) {  // listed again: from the kernel's cache of the listing
            EXPECT_EQ(it->second.ino, e->d_ino) << rel + name;
            EXPECT_EQ(it->second.type, e->d_type) << rel + name;
        }
        names.emplace_back(name, e->d_type);
    }
    ::closedir(d);
    for (const auto& [name, type] : names) {
        struct stat st{};
        if (type == DT_DIR) {
            walkFolder(folder + "/" + name, rel + name + "/", statFiles, out);
        } else if (statFiles) {
            EXPECT_EQ(::lstat((folder + "/" + name).c_str(), &st), 0) << rel + name;
        }
    }
}

TEST_F(QarMount, EveryFileStatsAndReadsAsExtractedAfterWalksOfNamesOrOfStats) {
    REQUIRE_FUSE();
    // Three parts of 300 folders each, walked in turn by names, by stats, by names again: more
    // folders than the mount lists between two of its checks of which walk runs. A folder of 600
    // files takes several listings. Sizes differ from file to file.
    std::vector<QarEntry> entries;
    for (const char* part : {"NAMES", "STATS", "AGAIN"})
        for (int f = 0; f < 300; ++f)
            for (int i = 0; i < 3; ++i)
                entries.push_back(entry(std::string(part) + "\\F" + std::to_string(f) + "\\FILE" + std::to_string(i) + ".TXT",
                                        std::string(static_cast<size_t>(f * 3 + i) % 97, static_cast<char>('a' + i))));
    for (int i = 0; i < 600; ++i) entries.push_back(entry("WIDE\\FILE" + std::to_string(i) + ".BIN", std::string(i % 13, 'w')));
    entries.push_back(byteEntry("STATS\\F7\\LOGO.TGA", vorlr::samples::sampleTga(2, 24, 9, 7)));
    entries.push_back(byteEntry("NAMES\\F3\\ICONS.KMG", vorlr::samples::sampleKmgPalette(3)));
    entries.push_back(entry("TOP.TXT", "at the top"));
    const std::string a = makeArchive("walks.qar", entries);
    for (const bool convert : {false, true}) {
        SCOPED_TRACE(convert ? "png" : "raw");
        std::vector<std::string> args = {"mount", a, mnt_};
        if (convert) args.insert(args.end(), {"--convert", "png"});
        MountProcess m(args, mnt_, dir_.file("err"));
        ASSERT_TRUE(m.mounted()) << m.errors();
        std::map<std::string, Listed> listed;
        walkFolder(mnt_ + "/NAMES", "NAMES/", false, listed);
        walkFolder(mnt_ + "/STATS", "STATS/", true, listed);
        walkFolder(mnt_ + "/AGAIN", "AGAIN/", false, listed);
        walkFolder(mnt_, "", false, listed);  // the rest, and the parts again from the kernel's cache
        const auto onDisk = extracted({a}, convert);
        std::map<std::string, std::string> seen;
        for (const auto& [path, what] : listed) {
            SCOPED_TRACE(path);
            const std::string full = mnt_ + "/" + path;
            struct stat st{};
            ASSERT_EQ(::lstat(full.c_str(), &st), 0);
            EXPECT_NE(what.ino, 0u);
            EXPECT_EQ(st.st_ino, what.ino);
            if (what.type == DT_DIR) {
                EXPECT_TRUE(S_ISDIR(st.st_mode));
                EXPECT_EQ(st.st_mode & 07777, 0555u);
                seen[path] = "<folder>";
                continue;
            }
            EXPECT_EQ(what.type, DT_REG);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_mode & 07777, 0444u);
            const auto bytes = readFile(full);
            EXPECT_EQ(static_cast<size_t>(st.st_size), bytes.size());
            EXPECT_EQ(st.st_blocks, (st.st_size + 511) / 512);
            seen[path] = std::string(bytes.begin(), bytes.end());
        }
        expectSameTree(seen, onDisk);
        EXPECT_EQ(seen.count(convert ? "NAMES/F3/ICONS_2.png" : "NAMES/F3/ICONS.KMG"), 1u);
    }
}

TEST_F(QarMount, LaterArchivesReplaceEntriesAndFoldersMerge) {
    REQUIRE_FUSE();
    const std::string base = makeArchive("base.qar", {entry("DATA\\A.TXT", "base A"), entry("DATA\\KEEP.TXT", "kept"),
                                                      entry("FILE", "a file in the base"),
                                                      byteEntry("GFX\\LOGO.TGA", vorlr::samples::sampleTga(2, 24, 4, 4))});
    const std::string patch = makeArchive("patch.qar", {entry("DATA\\A.TXT", "patched A"), entry("DATA\\NEW\\B.TXT", "new"),
                                                        entry("FILE\\UNDER.TXT", "cannot go under a file"),
                                                        entry("GFX\\LOGO.png", "replaces the converted logo")});
    for (const bool convert : {false, true}) {
        SCOPED_TRACE(convert ? "png" : "raw");
        std::vector<std::string> args = {"mount", base, patch, mnt_};
        if (convert) args.insert(args.end(), {"--convert", "png"});
        MountProcess m(args, mnt_, dir_.file("err"));
        ASSERT_TRUE(m.mounted()) << m.errors();
        const auto mounted = snapshot(mnt_);
        expectSameTree(mounted, extracted({base, patch}, convert));
        EXPECT_EQ(mounted.at("DATA/A.TXT"), "patched A");
        EXPECT_EQ(mounted.at("DATA/KEEP.TXT"), "kept");
        EXPECT_EQ(mounted.at("DATA/NEW/B.TXT"), "new");
    }
}

TEST_F(QarMount, IgnoreCaseFindsNamesInEitherCase) {
    REQUIRE_FUSE();
    const auto logo = vorlr::samples::sampleTga(2, 24, 4, 4);
    const std::string a = makeArchive("a.qar", {byteEntry("GFX\\LOGO.TGA", logo), entry("Mixed\\Name.Txt", "m")});
    struct Case {
        std::vector<std::string> options;
        const char* path;
        bool found;
    };
    const Case cases[] = {
        {{}, "gfx/logo.tga", false},
        {{}, "GFX/LOGO.TGA", true},
        {{"--ignore-case"}, "gfx/logo.tga", true},
        {{"--ignore-case"}, "MIXED/NAME.TXT", true},
        {{"--ignore-case"}, "gfx/logo.tgb", false},
        {{"--ignore-case", "--convert", "png"}, "gfx/logo.png", true},
        {{"--convert", "png"}, "gfx/logo.png", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<std::string> args = {"mount", a, mnt_};
        args.insert(args.end(), c.options.begin(), c.options.end());
        MountProcess m(args, mnt_, dir_.file("err"));
        ASSERT_TRUE(m.mounted()) << m.errors();
        const std::string path = mnt_ + "/" + c.path;
        EXPECT_EQ(fs::exists(path), c.found);
        if (c.found && std::string(c.path).find("logo.tga") != std::string::npos) {
            EXPECT_EQ(readFile(path), logo);
        }
        // The listing keeps the stored names.
        EXPECT_TRUE(fs::exists(mnt_ + "/GFX"));
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(mnt_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"GFX", "Mixed"}));
    }
}

TEST_F(QarMount, EveryWriteFailsReadOnly) {
    REQUIRE_FUSE();
    const std::string a = makeArchive("a.qar", {entry("DATA\\A.TXT", "a"), entry("B.TXT", "b")});
    MountProcess m({"mount", a, mnt_}, mnt_, dir_.file("err"));
    ASSERT_TRUE(m.mounted()) << m.errors();
    const std::string file = mnt_ + "/DATA/A.TXT", folder = mnt_ + "/DATA";
    const std::string other = dir_.file("outside.txt");
    vorlr::samples::writeFile(other, {1, 2, 3});
    struct Case {
        const char* what;
        std::function<int()> call;
    };
    const Case cases[] = {
        {"open for writing", [&] { return ::open(file.c_str(), O_WRONLY); }},
        {"open for reading and writing", [&] { return ::open(file.c_str(), O_RDWR); }},
        {"open with truncation", [&] { return ::open(file.c_str(), O_RDONLY | O_TRUNC); }},
        {"create", [&] { return ::open((folder + "/NEW.TXT").c_str(), O_WRONLY | O_CREAT, 0644); }},
        {"truncate", [&] { return ::truncate(file.c_str(), 0); }},
        {"chmod", [&] { return ::chmod(file.c_str(), 0666); }},
        {"rename", [&] { return ::rename(file.c_str(), (folder + "/C.TXT").c_str()); }},
        {"rename a folder", [&] { return ::rename(folder.c_str(), (mnt_ + "/D").c_str()); }},
        {"unlink", [&] { return ::unlink(file.c_str()); }},
        {"mkdir", [&] { return ::mkdir((folder + "/SUB").c_str(), 0755); }},
        {"rmdir", [&] { return ::rmdir(folder.c_str()); }},
        {"symlink", [&] { return ::symlink("B.TXT", (mnt_ + "/LINK").c_str()); }},
        {"link", [&] { return ::link(file.c_str(), (mnt_ + "/HARD").c_str()); }},
        {"utimes", [&] { return ::utimes(file.c_str(), nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        errno = 0;
        const int rc = c.call();
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(errno, EROFS);
        if (rc >= 0 && rc != 0) ::close(rc);
    }
    EXPECT_EQ(readFile(file), std::vector<uint8_t>{'a'});
    struct stat st{};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0555u);
    // Files carry the archive's time.
    struct stat archive{};
    ::stat(a.c_str(), &archive);
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, archive.st_mtime);
}

TEST_F(QarMount, BackgroundStartReturnsOnceMountedAndReportsFailures) {
    REQUIRE_FUSE();
    const std::string a = makeArchive("a.qar", {entry("DATA\\A.TXT", "in the background")});
    auto r = runQar({"mount", a, mnt_});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isMounted(mnt_));
    EXPECT_EQ(readFile(mnt_ + "/DATA/A.TXT"), vorlr::samples::bytesOf("in the background"));
    EXPECT_EQ(shell("fusermount3 -u '" + mnt_ + "'"), 0);
    EXPECT_FALSE(isMounted(mnt_));

    // Refused before anything is mounted.
    vorlr::samples::QarOptions differing;
    differing.secondCount = 2;
    vorlr::samples::writeQar(dir_.file("bad.qar"), {entry("A", "a")}, differing);
    r = runQar({"mount", dir_.file("bad.qar"), mnt_});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: Not a valid vorlund packed-file!\n");
    r = runQar({"mount", a, dir_.file("bad.qar"), mnt_});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: Not a valid vorlund packed-file!\n");
    r = runQar({"mount", dir_.file("missing.qar"), mnt_});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qar: File not found\n");
    r = runQar({"mount", a, dir_.file("no-such-folder")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("qar: cannot mount on ", 0), 0u) << r.err;
    EXPECT_FALSE(isMounted(mnt_));
    // Wrong usage.
    EXPECT_EQ(runQar({"mount", a}).status, 2);
    EXPECT_EQ(runQar({"mount", a, mnt_, "--convert", "bmp"}).status, 2);
    EXPECT_EQ(runQar({"mount", a, mnt_, "--bogus"}).status, 2);
}

TEST_F(QarMount, SignalsUnmountAndAKilledServerLeavesNoMountAfterUnmount) {
    REQUIRE_FUSE();
    const std::string a = makeArchive("a.qar", {entry("A.TXT", "a")});
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        MountProcess m({"mount", a, mnt_}, mnt_, dir_.file("err"));
        ASSERT_TRUE(m.mounted()) << m.errors();
        EXPECT_EQ(m.signal(sig), 0) << m.errors();
        EXPECT_FALSE(isMounted(mnt_));
    }
    MountProcess m({"mount", a, mnt_}, mnt_, dir_.file("err"));
    ASSERT_TRUE(m.mounted()) << m.errors();
    m.kill();
    EXPECT_TRUE(isMounted(mnt_));
    struct stat st{};
    EXPECT_EQ(::stat((mnt_ + "/A.TXT").c_str(), &st), -1);
    EXPECT_EQ(errno, ENOTCONN);
    EXPECT_EQ(shell("fusermount3 -u '" + mnt_ + "'"), 0);
    EXPECT_FALSE(isMounted(mnt_));
    // The folder is usable again: a new mount over it works.
    MountProcess again({"mount", a, mnt_}, mnt_, dir_.file("err2"));
    ASSERT_TRUE(again.mounted()) << again.errors();
    EXPECT_EQ(readFile(mnt_ + "/A.TXT"), vorlr::samples::bytesOf("a"));
}

TEST_F(QarMount, DamagedArchivesMountOrAreRefusedAndReadCleanly) {
    REQUIRE_FUSE();
    const std::vector<uint8_t> whole = vorlr::samples::buildQar(vorlr::samples::demoEntries());
    std::vector<std::vector<uint8_t>> damaged = vorlr::testing::truncations(whole);
    for (auto& b : vorlr::testing::flips(whole, 11)) damaged.push_back(std::move(b));
    const std::string path = dir_.file("damaged.qar");
    size_t mounts = 0;
    for (size_t i = 0; i < damaged.size(); i += 8) {
        SCOPED_TRACE(i);
        vorlr::samples::writeFile(path, damaged[i]);
        {
            const bool convert = i % 16 == 0;
            std::vector<std::string> args = {"mount", path, mnt_};
            if (convert) args.insert(args.end(), {"--convert", "png"});
            MountProcess m(args, mnt_, dir_.file("err"));
            if (m.mounted()) {
                ++mounts;
                const int found = shell("find '" + mnt_ + "' -type f -exec cat {} + >/dev/null");
                EXPECT_EQ(found, 0);
            }
            const int status = m.stop();
            const std::string err = m.errors();
            EXPECT_TRUE(m.mounted() ? status == 0 : status == 1) << "exit " << status << ": " << err;
            EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
            EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
        }
    }
    EXPECT_GT(mounts, 20u);
}

}  // namespace
