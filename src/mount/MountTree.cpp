#include "mount/MountTree.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>

#include "archive/MergedView.h"
#include "platform/Errors.h"
#include "platform/Text.h"
#include "viewers/PictureExport.h"

namespace vorlr {

// ---------------------------------------------------------------------------------------------
// MountTree

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Ordering with A-Z folded to a-z; names equal but for case compare equal.
bool lessFolded(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(lowerAZ(a[i]));
        const auto y = static_cast<unsigned char>(lowerAZ(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool equalFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAZ(a[i]) != lowerAZ(b[i])) return false;
    return true;
}

std::string_view leafOf(std::string_view name) {
    size_t i = name.size();
    while (i > 0 && !isSeparator(name[i - 1])) --i;
    return name.substr(i);
}

}  // namespace

MountTree::MountTree(std::vector<std::unique_ptr<Archive>> archives, const MountOptions& options,
                     const std::function<void(const std::string&)>& warn)
    : archives_(std::move(archives)), options_(options) {
    uint64_t total = 0;
    for (const auto& a : archives_) {
        firstEntry_.push_back(static_cast<uint32_t>(total));
        total += a->entryCount();
        if (total > UINT32_MAX - 4) throw Error("Out of memory");
        struct stat st{};
        mtimes_.push_back(::fstat(a->fd(), &st) == 0 ? st.st_mtime : 0);
        sizes_.push_back(a->size());
        newest_ = std::max(newest_, mtimes_.back());
    }
    total_ = static_cast<uint32_t>(total);
    root_.mtime = newest_;
    root_.pending.reserve(total_);
    std::vector<const Archive*> layers;
    for (const auto& a : archives_) layers.push_back(a.get());
    ForEachViewEntry(layers, warn, [&](uint32_t layer, uint32_t index) {
        root_.pending.push_back({firstEntry_[layer] + index, 0});
    });
    if (options_.convertPng) {
        const int workers = options_.workers > 0 ? options_.workers : std::min(UsableCores(), 64);
        pictures_ = PictureConversion(PictureFormat::Png, workers);
        pool_ = std::make_unique<WorkerPool>(workers - 1);
    }
}

MountTree::~MountTree() = default;

size_t MountTree::archiveAt(uint32_t entry) const {
    return static_cast<size_t>(
        std::upper_bound(firstEntry_.begin(), firstEntry_.end(), entry) - firstEntry_.begin() - 1);
}

const Archive& MountTree::archiveOf(uint32_t entry, size_t& index) const {
    const size_t a = archiveAt(entry);
    index = entry - firstEntry_[a];
    return *archives_[a];
}

std::string_view MountTree::entryName(uint32_t entry) const {
    size_t index = 0;
    return archiveOf(entry, index).entry(index).name;
}

bool MountTree::isPicture(uint32_t entry) const {
    size_t index = 0;
    return IsPictureEntry(archiveOf(entry, index).entry(index));
}

int64_t MountTree::rawSize(uint32_t entry) const {
    // As extraction copies it: the recorded size, cut where the archive ends.
    size_t index = 0;
    const ArchiveEntry e = archiveOf(entry, index).entry(index);
    if (e.size <= 0 || e.offset < 0) return 0;
    return std::clamp<int64_t>(sizes_[archiveAt(entry)] - e.offset, 0, e.size);
}

MountTree::Node* MountTree::folderNode(uint64_t id) {
    if (id == kRootId) return &root_;
    if (id < 2 + uint64_t{total_}) return nullptr;
    const uint64_t k = id - 2 - total_;
    if (k >= nodes_.size() || !nodes_[k]->folder) return nullptr;
    return nodes_[k].get();
}

std::string_view MountTree::nameOf(uint64_t id) const {
    if (id < 2 + uint64_t{total_}) return leafOf(entryName(static_cast<uint32_t>(id - 2)));
    return nodes_[id - 2 - total_]->name;
}

MountTree::Attributes MountTree::attributesOf(uint64_t id) const {
    Attributes out;
    if (id == kRootId) {
        out.folder = true;
        out.mtime = newest_;
    } else if (id < 2 + uint64_t{total_}) {
        const auto entry = static_cast<uint32_t>(id - 2);
        out.size = rawSize(entry);
        out.mtime = mtimes_[archiveAt(entry)];
    } else {
        const Node& n = *nodes_[id - 2 - total_];
        out.folder = n.folder;
        out.size = n.size;
        out.mtime = n.mtime;
    }
    return out;
}

uint64_t MountTree::addNode(Node node) {
    nodes_.push_back(std::make_unique<Node>(std::move(node)));
    return 2 + uint64_t{total_} + nodes_.size() - 1;
}

void MountTree::resolve(uint64_t id, std::unique_lock<std::mutex>& lock) {
    Node* folder = folderNode(id);
    while (!folder->resolved) {
        if (folder->resolving) {
            resolved_.wait(lock);
            continue;
        }
        folder->resolving = true;
        std::vector<Pending> pending = std::move(folder->pending);
        folder->pending = {};
        // Whatever fails on the way (memory) leaves the folder to be worked out again, never
        // half done or marked busy for good.
        struct Retry {
            Node* folder;
            std::vector<Pending>& pending;
            std::condition_variable& resolved;
            ~Retry() {
                if (folder->resolved) return;
                folder->resolving = false;
                folder->children.clear();
                folder->folded.clear();
                folder->pending = std::move(pending);
                resolved.notify_all();
            }
        } retry{folder, pending, resolved_};
        const auto restOf = [&](const Pending& p) { return entryName(p.entry).substr(p.offset); };
        const auto isLeaf = [&](std::string_view rest) {
            return std::find_if(rest.begin(), rest.end(), isSeparator) == rest.end();
        };
        if (options_.convertPng) {
            // Which names the pictures get is known only once they are decoded: all of this
            // folder's at once, on every worker, without holding up the rest of the tree.
            std::vector<uint32_t> pictures;
            for (const Pending& p : pending)
                if (isLeaf(restOf(p)) && isPicture(p.entry)) pictures.push_back(p.entry);
            // Largest first, so that no worker is left with a big picture at the end.
            std::stable_sort(pictures.begin(), pictures.end(), [&](uint32_t a, uint32_t b) {
                return rawSize(a) > rawSize(b);
            });
            lock.unlock();
            pool_->run(pictures.size(), [&](size_t i) {
                try {
                    convert(pictures[i]);
                } catch (const std::exception&) {
                    // Out of memory: left unconverted, the picture shows as stored.
                }
            });
            lock.lock();
        }

        // Replays extraction in entry order, by the merged view's rule.
        FolderNames named(options_.ignoreCase);
        std::vector<std::pair<uint64_t, std::vector<Pending>>> subfolders;
        const auto place = [&](std::string_view name, uint64_t file) {
            uint64_t hidden = 0;
            (void)named.file(name, file, hidden);
        };
        for (const Pending& p : pending) {
            const std::string_view rest = restOf(p);
            const auto sep = static_cast<size_t>(std::find_if(rest.begin(), rest.end(), isSeparator) - rest.begin());
            if (sep == rest.size()) {
                if (options_.convertPng && isPicture(p.entry)) {
                    std::lock_guard convertLock(convertMutex_);
                    const auto c = conversions_.find(p.entry);
                    if (c != conversions_.end() && !c->second.failed) {
                        const std::string stem(rest.substr(0, rest.find('.')));
                        for (size_t f = 0; f < c->second.files.size(); ++f) {
                            Node file;
                            file.folder = false;
                            file.name = stem + c->second.files[f].first;
                            file.entry = p.entry;
                            file.file = static_cast<uint32_t>(f);
                            file.size = c->second.files[f].second;
                            file.mtime = mtimes_[archiveAt(p.entry)];
                            const uint64_t fileId = addNode(std::move(file));
                            place(nodes_.back()->name, fileId);
                        }
                        continue;
                    }
                }
                place(rest, 2 + uint64_t{p.entry});
                continue;
            }
            const std::string_view segment = rest.substr(0, sep);
            const auto sub = named.folder(segment, [&] {
                Node folderNode;
                folderNode.name = std::string(segment);
                folderNode.mtime = newest_;
                subfolders.push_back({addNode(std::move(folderNode)), {}});
                return subfolders.size() - 1;
            });
            if (!sub) continue;  // a file stands where the folder would go
            subfolders[*sub].second.push_back({p.entry, p.offset + static_cast<uint32_t>(sep) + 1});
        }
        for (auto& [subId, reaching] : subfolders) {
            reaching.shrink_to_fit();
            nodes_[subId - 2 - total_]->pending = std::move(reaching);
        }
        // Sorted with the names at hand: a walk works out every folder, a hundred thousand of them.
        std::vector<std::pair<std::string_view, uint64_t>> sorted;
        sorted.reserve(named.children().size());
        for (const auto& c : named.children())
            sorted.emplace_back(c.name, c.folder ? subfolders[c.id].first : c.id);
        std::sort(sorted.begin(), sorted.end());
        folder->children.reserve(sorted.size());
        for (const auto& [name, child] : sorted) folder->children.push_back(child);
        if (options_.ignoreCase) {
            std::stable_sort(sorted.begin(), sorted.end(),
                             [](const auto& a, const auto& b) { return lessFolded(a.first, b.first); });
            folder->folded.reserve(sorted.size());
            for (const auto& [name, child] : sorted) folder->folded.push_back(child);
        }
        folder->resolved = true;
        folder->resolving = false;
        resolved_.notify_all();
    }
}

uint64_t MountTree::lookup(uint64_t parent, std::string_view name) {
    std::unique_lock lock(treeMutex_);
    Node* folder = folderNode(parent);
    if (!folder) return 0;
    resolve(parent, lock);
    const auto& c = folder->children;
    const auto it = std::lower_bound(c.begin(), c.end(), name,
                                     [&](uint64_t id, std::string_view n) { return nameOf(id) < n; });
    if (it != c.end() && nameOf(*it) == name) return *it;
    if (!options_.ignoreCase) return 0;
    const auto& f = folder->folded;
    const auto at = std::lower_bound(f.begin(), f.end(), name, [&](uint64_t id, std::string_view n) {
        return lessFolded(nameOf(id), n);
    });
    return at != f.end() && equalFolded(nameOf(*at), name) ? *at : 0;
}

std::optional<MountTree::Attributes> MountTree::attributes(uint64_t id) {
    std::lock_guard lock(treeMutex_);
    if (id == 0 || id >= 2 + uint64_t{total_} + nodes_.size()) return std::nullopt;
    return attributesOf(id);
}

bool MountTree::listChildren(uint64_t id, size_t from, const ChildSink& add) {
    std::unique_lock lock(treeMutex_);
    Node* folder = folderNode(id);
    if (!folder) return false;
    resolve(id, lock);
    for (size_t i = from; i < folder->children.size(); ++i) {
        const uint64_t child = folder->children[i];
        if (!add(child, nameOf(child), attributesOf(child))) break;
    }
    return true;
}

bool MountTree::children(uint64_t id, std::vector<Child>& out) {
    out.clear();
    return listChildren(id, 0, [&](uint64_t child, std::string_view name, const Attributes&) {
        out.push_back({child, std::string(name)});
        return true;
    });
}

bool MountTree::content(uint64_t id, Content& out) {
    uint32_t entry = 0, file = 0;
    {
        std::lock_guard lock(treeMutex_);
        if (id < 2 || id >= 2 + uint64_t{total_} + nodes_.size()) return false;
        if (id < 2 + uint64_t{total_}) {
            entry = static_cast<uint32_t>(id - 2);
            size_t index = 0;
            const Archive& archive = archiveOf(entry, index);
            out.fd = archive.fd();
            out.offset = archive.entry(index).offset;
            out.size = rawSize(entry);
            return true;
        }
        const Node& n = *nodes_[id - 2 - total_];
        if (n.folder) return false;
        entry = n.entry;
        file = n.file;
    }
    const auto bytes = convertedBytes(entry);
    if (!bytes || file >= bytes->size()) return false;
    out.bytes = std::shared_ptr<const std::vector<uint8_t>>(bytes, &(*bytes)[file]);
    out.size = static_cast<int64_t>(out.bytes->size());
    return true;
}

bool MountTree::mayConvert(uint64_t id) {
    if (!options_.convertPng) return false;
    uint32_t entry = 0;
    {
        std::lock_guard lock(treeMutex_);
        if (id == kRootId) return !root_.resolved;
        if (id < 2 + uint64_t{total_} || id >= 2 + uint64_t{total_} + nodes_.size()) return false;
        const Node& n = *nodes_[id - 2 - total_];
        if (n.folder) return !n.resolved;
        entry = n.entry;
    }
    std::lock_guard lock(convertMutex_);
    return cached_.count(entry) == 0;
}

void MountTree::cacheInsert(uint32_t entry, std::shared_ptr<const Bytes> bytes, size_t size) {
    if (cached_.count(entry) || size > options_.cacheBytes) return;
    while (!lru_.empty() && cachedBytes_ + size > options_.cacheBytes) {
        size_t dropped = 0;
        for (const auto& f : *lru_.back().second) dropped += f.size();
        cachedBytes_ -= dropped;
        cached_.erase(lru_.back().first);
        lru_.pop_back();
    }
    lru_.emplace_front(entry, std::move(bytes));
    cached_[entry] = lru_.begin();
    cachedBytes_ += size;
}

void MountTree::convert(uint32_t entry) {
    {
        std::lock_guard lock(convertMutex_);
        if (conversions_.count(entry)) return;
    }
    size_t index = 0;
    const Archive& archive = archiveOf(entry, index);
    Conversion result;
    auto bytes = std::make_shared<Bytes>();
    size_t total = 0;
    try {
        for (ConvertedFile& f : pictures_->convert(archive, index)) {
            result.files.emplace_back(f.suffix, static_cast<int64_t>(f.bytes.size()));
            total += f.bytes.size();
            bytes->push_back(std::move(f.bytes));
        }
    } catch (const std::exception&) {
        // Shown as stored, as extraction writes it.
        result = Conversion{true, {}};
    }
    std::lock_guard lock(convertMutex_);
    if (!result.failed) cacheInsert(entry, std::move(bytes), total);
    conversions_.emplace(entry, std::move(result));
}

std::shared_ptr<const MountTree::Bytes> MountTree::convertedBytes(uint32_t entry) {
    {
        std::lock_guard lock(convertMutex_);
        if (const auto it = cached_.find(entry); it != cached_.end()) {
            lru_.splice(lru_.begin(), lru_, it->second);
            return it->second->second;
        }
    }
    size_t index = 0;
    const Archive& archive = archiveOf(entry, index);
    auto bytes = std::make_shared<Bytes>();
    size_t total = 0;
    try {
        for (ConvertedFile& f : pictures_->convert(archive, index)) {
            total += f.bytes.size();
            bytes->push_back(std::move(f.bytes));
        }
    } catch (const std::exception&) {
        return nullptr;
    }
    std::lock_guard lock(convertMutex_);
    cacheInsert(entry, bytes, total);
    return bytes;
}

size_t MountTree::cachedBytes() {
    std::lock_guard lock(convertMutex_);
    return cachedBytes_;
}

}  // namespace vorlr
