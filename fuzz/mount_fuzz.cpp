// Arbitrary bytes as an archive served by qar mount: the tree built from its names (with and
// without case folding and picture conversion, taken from the first byte), every folder listed
// and looked up by each child's name, every file's content read to the end. Every failure must
// be a clean Error; a crash, a hang or a tree that contradicts itself is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "archive/Container.h"
#include "mount/MountTree.h"
#include "platform/Errors.h"

using namespace vorlr;

namespace {

int memoryFile() {
    static const int fd = ::memfd_create("mount_fuzz", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    return fd;
}

void walk(MountTree& tree, uint64_t folder, int depth) {
    if (depth > 200) std::abort();  // names have at most 200 bytes, so at most 100 levels
    std::vector<MountTree::Child> children;
    if (!tree.children(folder, children)) std::abort();
    if (tree.mayConvert(folder)) std::abort();  // worked out once listed: never converts again
    for (const auto& child : children) {
        if (tree.lookup(folder, child.name) == 0) std::abort();
        const auto a = tree.attributes(child.id);
        if (!a) std::abort();
        if (a->folder) {
            walk(tree, child.id, depth + 1);
            continue;
        }
        MountTree::Content content;
        if (!tree.content(child.id, content)) continue;  // a picture that no longer converts
        if (content.size != a->size) std::abort();
        if (!content.bytes) {
            std::vector<uint8_t> buffer(static_cast<size_t>(content.size));
            if (content.size > 0 && ::pread(content.fd, buffer.data(), buffer.size(), content.offset) < 0)
                std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memoryFile();
    if (::ftruncate(fd, 0) != 0) std::abort();
    if (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    auto archive = std::make_unique<Archive>();
    try {
        archive->open(path);
        ReadDirectory(*archive);
    } catch (const Error&) {
        return 0;
    }
    MountOptions options;
    options.ignoreCase = size > 0 && (data[0] & 1);
    options.convertPng = size > 0 && (data[0] & 2);
    options.cacheBytes = size > 0 && (data[0] & 4) ? 2048 : size_t{1} << 20;
    options.workers = 2;
    std::vector<std::unique_ptr<Archive>> archives;
    archives.push_back(std::move(archive));
    MountTree tree(std::move(archives), options, [](const std::string&) {});
    walk(tree, MountTree::kRootId, 0);
    return 0;
}
