#pragma once
// The folder tree that `qar mount` serves: the entries of one or more archives laid out as
// `qar extract` of each archive in turn would leave them on disk. Folders are worked out when
// first looked into, so that a mount of a million entries answers at once. Thread-safe.
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/Archive.h"
#include "archive/SafeExtract.h"
#include "platform/WorkerPool.h"

namespace vorlr {

struct MountOptions {
    bool ignoreCase = false;    // lookups match A-Z in either case
    bool convertPng = false;    // pictures appear as the PNG files extract --convert png writes
    size_t cacheBytes = size_t{256} << 20;  // converted pictures held, least recently used out
    int workers = 0;            // conversions at once; 0: one per core
};

class MountTree {
public:
    static constexpr uint64_t kRootId = 1;

    struct Attributes {
        bool folder = false;
        int64_t size = 0;
        time_t mtime = 0;
    };

    // The archives are loaded (directory read); the tree keeps them open. Unsafe names are
    // reported through warn, once each, before the constructor returns.
    MountTree(std::vector<std::unique_ptr<Archive>> archives, const MountOptions& options,
              const std::function<void(const std::string&)>& warn);
    ~MountTree();
    MountTree(const MountTree&) = delete;
    MountTree& operator=(const MountTree&) = delete;

    // The child of folder parent named name (0 when there is none or parent is no folder).
    uint64_t lookup(uint64_t parent, std::string_view name);
    std::optional<Attributes> attributes(uint64_t id);
    // The children of a folder, sorted by name; false when id is no folder.
    struct Child {
        uint64_t id;
        std::string name;
    };
    bool children(uint64_t id, std::vector<Child>& out);
    // Hands the children of folder id from position from on to add, with their attributes, until
    // add returns false. Returns false when id is no folder. add runs under the tree's lock.
    using ChildSink = std::function<bool(uint64_t id, std::string_view name, const Attributes& attributes)>;
    bool listChildren(uint64_t id, size_t from, const ChildSink& add);

    // What an open file reads from: a range of an archive, or bytes made by a conversion.
    struct Content {
        int fd = -1;
        int64_t offset = 0;
        int64_t size = 0;
        std::shared_ptr<const std::vector<uint8_t>> bytes;  // set for converted files
    };
    // false when id is no file. A converted file is made again when it left the cache.
    bool content(uint64_t id, Content& out);
    // Whether looking into folder id, or opening file id, may have to convert pictures first (a
    // folder not worked out yet, a converted file no longer cached): seconds rather than
    // microseconds. Always false without picture conversion.
    bool mayConvert(uint64_t id);

    size_t entryTotal() const { return total_; }
    // Bytes of converted pictures held in the cache now.
    size_t cachedBytes();

private:
    struct Pending {
        uint32_t entry;   // global entry number
        uint32_t offset;  // where the rest of its name starts
    };
    struct Node {
        std::string name;
        bool folder = true;
        uint32_t entry = 0;  // converted file: its entry and which of its files
        uint32_t file = 0;
        int64_t size = 0;
        time_t mtime = 0;
        bool resolved = false;
        bool resolving = false;
        std::vector<uint64_t> children;  // sorted by name (folders, once resolved)
        std::vector<uint64_t> folded;    // the same, sorted by name without case (ignoreCase)
        std::vector<Pending> pending;    // entries that reach this folder, in order
    };
    struct Conversion {
        bool failed = false;
        std::vector<std::pair<std::string, int64_t>> files;  // suffix, size
    };
    using Bytes = std::vector<std::vector<uint8_t>>;

    size_t archiveAt(uint32_t entry) const;
    const Archive& archiveOf(uint32_t entry, size_t& index) const;
    std::string_view entryName(uint32_t entry) const;
    bool isPicture(uint32_t entry) const;
    int64_t rawSize(uint32_t entry) const;
    std::string_view nameOf(uint64_t id) const;
    Attributes attributesOf(uint64_t id) const;
    Node* folderNode(uint64_t id);
    // Works out folder id's children, converting its pictures first; lock held (released
    // while converting).
    void resolve(uint64_t id, std::unique_lock<std::mutex>& lock);
    uint64_t addNode(Node node);
    // Converts entry (if not known yet): files and sizes remembered, bytes cached.
    void convert(uint32_t entry);
    std::shared_ptr<const Bytes> convertedBytes(uint32_t entry);
    void cacheInsert(uint32_t entry, std::shared_ptr<const Bytes> bytes, size_t size);

    std::vector<std::unique_ptr<Archive>> archives_;
    std::vector<uint32_t> firstEntry_;  // global number of each archive's entry 0
    std::vector<time_t> mtimes_;
    std::vector<int64_t> sizes_;
    time_t newest_ = 0;
    Node root_;
    MountOptions options_;
    uint32_t total_ = 0;

    std::mutex treeMutex_;
    std::condition_variable resolved_;
    std::vector<std::unique_ptr<Node>> nodes_;  // id - 2 - total_

    std::mutex convertMutex_;
    std::unordered_map<uint32_t, Conversion> conversions_;
    std::list<std::pair<uint32_t, std::shared_ptr<const Bytes>>> lru_;  // most recent first
    std::unordered_map<uint32_t, decltype(lru_)::iterator> cached_;
    size_t cachedBytes_ = 0;
    std::unique_ptr<WorkerPool> pool_;
    std::optional<EntryConversion> pictures_;
};

}  // namespace vorlr
