#include "app/ExternalFiles.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "archive/EntryNames.h"
#include "platform/desktop/DesktopApplications.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"

namespace vorlr::external {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kCopyBlock = int64_t{1} << 20;

// $XDG_CACHE_HOME/vorlr (or ~/.cache/vorlr), readable by its owner only.
std::string cacheRoot() {
    const std::string root = XdgDirs::fromEnvironment().cacheHome.toLocal8Bit().toStdString() + "/vorlr";
    std::error_code ec;
    fs::create_directories(root, ec);
    ::chmod(root.c_str(), 0700);
    return root;
}

}  // namespace

std::string makePrivateFolder(const std::string& prefix) {
    std::string name = cacheRoot() + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(name.data())) return name;
    name = "/tmp/vorlr-" + prefix + "-XXXXXX";
    if (::mkdtemp(name.data())) return name;
    throwFromErrno(errno);
}

std::string plainName(std::string_view stored) {
    std::string name(NodeNameOf(stored));
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "entry";
    return name;
}

void copyTo(ByteSource& source, int64_t size, const std::string& path,
            const std::function<bool()>& between) {
    RuntimeFile out;
    out.create(path);
    std::vector<uint8_t> block(static_cast<size_t>(std::min(std::max<int64_t>(size, 0), kCopyBlock)));
    for (int64_t done = 0; done < size;) {
        const int64_t n = source.readCounted(block.data(), std::min(size - done, kCopyBlock));
        if (n <= 0) break;  // data recorded past the end of the archive
        out.write(block.data(), n);
        done += n;
        if (between && !between()) break;
    }
    out.close();
}

std::string configFile() {
    return XdgDirs::fromEnvironment().configHome.toLocal8Bit().toStdString() + "/vorlr/open-with.conf";
}


}  // namespace vorlr::external
