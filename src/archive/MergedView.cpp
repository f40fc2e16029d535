#include "archive/MergedView.h"

#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <exception>
#include <memory>
#include <cstring>

#include "archive/ArchiveChanges.h"
#include "archive/ContainerLayout.h"
#include "archive/EntryNames.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "platform/WorkerPool.h"

namespace vorlr {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

char foldAZ(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// text.starts_with(prefix) without a call to memcmp for a folder's short name.
bool startsWith(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    size_t i = 0;
    for (; i + 8 <= prefix.size(); i += 8) {
        uint64_t a, b;
        std::memcpy(&a, text.data() + i, 8);
        std::memcpy(&b, prefix.data() + i, 8);
        if (a != b) return false;
    }
    for (; i < prefix.size(); ++i)
        if (text[i] != prefix[i]) return false;
    return true;
}

// A safe name whose data extraction can start reading.
bool hasPlace(const ArchiveEntry& entry) {
    return entry.offset >= 0 && CheckSafeName(entry.name) == NameVerdict::Safe;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// FolderNames

size_t FolderNames::hashOf(std::string_view name) const {
    const std::hash<std::string_view> hash;
    if (!fold_) return hash(name);
    char folded[256];
    if (name.size() <= sizeof folded) {
        std::transform(name.begin(), name.end(), folded, foldAZ);
        return hash(std::string_view(folded, name.size()));
    }
    std::string copy(name);
    std::transform(copy.begin(), copy.end(), copy.begin(), foldAZ);
    return hash(copy);
}

bool FolderNames::same(std::string_view a, std::string_view b) const {
    if (!fold_) return a.size() == b.size() && startsWith(a, b);
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldAZ(x) == foldAZ(y); });
}

FolderNames::FolderNames(bool ignoreCase) : fold_(ignoreCase) {}

void FolderNames::clear() {
    children_.clear();
    hashes_.clear();
    slots_.clear();
}

size_t FolderNames::findIndexed(std::string_view name, size_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        const uint32_t slot = slots_[at];
        if (slot == 0) return kNew;
        if (hashes_[slot - 1] == hash && same(children_[slot - 1].name, name)) return slot - 1;
    }
}

void FolderNames::index(uint32_t child, size_t hash) {
    const size_t mask = slots_.size() - 1;
    size_t at = hash & mask;
    while (slots_[at] != 0) at = (at + 1) & mask;
    slots_[at] = child + 1;
}

void FolderNames::add(std::string_view name, uint64_t id, bool folder, size_t hash) {
    if (children_.size() >= UINT32_MAX - 1) throw Error("Out of memory");
    children_.push_back({name, id, folder});
    if (children_.size() < kIndexFrom) return;
    if (children_.size() == kIndexFrom) {
        hashes_.reserve(kIndexFrom * 2);
        for (const Child& c : children_) hashes_.push_back(hashOf(c.name));
    } else {
        hashes_.push_back(hash);
    }
    // At most half full: a new table twice the size once that would be passed.
    if (children_.size() * 2 > slots_.size()) {
        slots_.assign(std::max<size_t>(32, slots_.size() * 2), 0);
        for (size_t i = 0; i < children_.size(); ++i) index(static_cast<uint32_t>(i), hashes_[i]);
    } else {
        index(static_cast<uint32_t>(children_.size() - 1), hashes_.back());
    }
}

FolderNames::Placed FolderNames::file(std::string_view name, uint64_t id, uint64_t& hidden) {
    size_t hash = 0;
    const size_t at = find(name, hash);
    if (at == kNew) {
        add(name, id, false, hash);
        return Placed::Added;
    }
    Child& c = children_[at];
    if (c.folder) return Placed::Refused;
    hidden = c.id;
    c.id = id;
    c.name = name;
    return Placed::Replaced;
}

// ---------------------------------------------------------------------------------------------
// The entries with a place

bool HasViewPlace(const std::vector<const Archive*>& layers, uint32_t layer, uint32_t index,
                  const std::function<void(const std::string&)>& warn) {
    const Archive& archive = *layers[layer];
    const ArchiveEntry entry = archive.entry(index);
    if (hasPlace(entry)) return true;
    const NameVerdict verdict = CheckSafeName(entry.name);
    const std::string label = (layers.size() > 1 ? archive.path() + ": " : std::string()) + "#" +
                              std::to_string(index) + " " + std::string(entry.name);
    if (verdict != NameVerdict::Safe)
        warn(label + ": skipped, " + DescribeVerdict(verdict));
    else  // extraction cannot even start reading such an entry, so it writes no file
        warn(label + ": " + runtimeErrorText(kNegativeSeek));
    return false;
}

// ---------------------------------------------------------------------------------------------
// MergedView

std::string_view MergedView::name(LayerEntry e) const {
    if (edited(e)) return topChanges_->name(static_cast<EntryId>(e.index));
    return layers_[e.layer]->name(e.index);
}

MergedView::MergedView(std::vector<const Archive*> layers, bool ignoreCase,
                       const std::function<void(const std::string&)>& warn,
                       const ArchiveChanges* topChanges)
    : layers_(std::move(layers)), topChanges_(layers_.empty() ? nullptr : topChanges),
      ignoreCase_(ignoreCase) {
    // Entries by one number across the layers, in stack order.
    std::vector<uint32_t> firstEntry;
    uint64_t total = 0;
    for (size_t l = 0; l < layers_.size(); ++l) {
        firstEntry.push_back(static_cast<uint32_t>(total));
        total += topChanges_ && l + 1 == layers_.size() ? static_cast<uint64_t>(topChanges_->endId())
                                                        : layers_[l]->entryCount();
        if (total >= kNone) throw Error("Out of memory");
    }
    // Most entries are the base's: the layers are looked through from it.
    const auto layerEntry = [&](uint32_t entry) {
        uint32_t layer = 0;
        while (layer + 1 < firstEntry.size() && entry >= firstEntry[layer + 1]) ++layer;
        return LayerEntry{layer, entry - firstEntry[layer]};
    };
    // name(), inline: the walk asks it of every entry at every level.
    const auto nameOf = [&](uint32_t entry) -> std::string_view {
        const LayerEntry e = layerEntry(entry);
        if (edited(e)) return topChanges_->name(static_cast<EntryId>(e.index));
        return layers_[e.layer]->name(e.index);
    };

    struct Pending {
        uint32_t entry;
        uint32_t offset;  // where the rest of its name starts
    };
    std::vector<Pending> root;
    root.reserve(static_cast<size_t>(total));
    const auto keep = [&](uint32_t layer, uint32_t index) {
        root.push_back({firstEntry[layer] + index, 0});
    };
    // A million names are looked through on two threads, where there are two cores.
    constexpr uint64_t kTwoThreadsFrom = 100'000;
    std::unique_ptr<WorkerPool> pool;
    if (total >= kTwoThreadsFrom && UsableCores() >= 2) pool = std::make_unique<WorkerPool>(1);
    const auto read = topChanges_ ? std::vector<const Archive*>(layers_.begin(), layers_.end() - 1)
                                  : layers_;
    if (!pool) {
        ForEachViewEntry(read, warn, keep);
    } else {
        // Whether each has a place, for half the entries each; then kept or warned of in order.
        const uint32_t count =
            read.empty() ? 0 : firstEntry[read.size() - 1] + static_cast<uint32_t>(read.back()->entryCount());
        std::vector<uint8_t> placed(count);
        pool->run(2, [&](size_t half) {
            const uint32_t from = half ? count / 2 : 0, to = half ? count : count / 2;
            for (uint32_t e = from; e < to; ++e) {
                const LayerEntry at = layerEntry(e);
                placed[e] = hasPlace(read[at.layer]->entry(at.index));
            }
        });
        for (uint32_t e = 0; e < count; ++e) {
            const LayerEntry at = layerEntry(e);
            if (placed[e] || HasViewPlace(read, at.layer, at.index, warn)) keep(at.layer, at.index);
        }
    }
    if (topChanges_) {
        // The edited top layer's entries as they stand: a step refuses a name the view would
        // skip, but a loaded entry may have one already.
        const auto top = static_cast<uint32_t>(layers_.size() - 1);
        for (EntryId id = 0; id < topChanges_->endId(); ++id) {
            if (!topChanges_->present(id)) continue;
            const std::string_view name = topChanges_->name(id);
            const NameVerdict verdict = CheckSafeName(name);
            const bool loaded = !topChanges_->added(id) && !topChanges_->data(id);
            if (verdict != NameVerdict::Safe ||
                (loaded && layers_[top]->entry(static_cast<size_t>(id)).offset < 0)) {
                warn(layers_[top]->path() + ": #" + std::to_string(id) + " " + std::string(name) +
                     ": skipped");
                continue;
            }
            keep(top, static_cast<uint32_t>(id));
        }
    }

    // Folder by folder, as the mount works them out, a level of the tree at a time; each file
    // that replaces another links to it, so that a winner's chain holds every version it hides.
    // A level's folders lie in one list, each subfolder's entries in the next list within its
    // parent's room: two lists for the whole walk, and the folders of a level apart from each
    // other, for two threads.
    std::vector<uint32_t> previous(static_cast<size_t>(total), kNone);
    struct Span {
        uint32_t begin, end;
    };
    std::vector<Pending> level = std::move(root), next(level.size());
    std::vector<Span> folders{{0, static_cast<uint32_t>(level.size())}};
    // Where each entry of a folder goes (a subfolder's number, or none; the entry's offset then
    // moved past the folder's name).
    constexpr uint32_t kStays = kNone;
    std::vector<uint32_t> goesTo(level.size());
    // What a thread keeps while it works folders out: one FolderNames whose room is kept, each
    // subfolder's count and then its place in the next list, the files placed, the next level's
    // folders.
    struct Worker {
        explicit Worker(bool fold) : names(fold) {}
        FolderNames names;
        std::vector<uint32_t> counts, winners;
        std::vector<Span> folders;
        std::exception_ptr failed;
    };
    std::deque<Worker> workers;
    workers.emplace_back(ignoreCase_);
    const auto place = [&](const Span folder, Worker& w) {
        w.names.clear();
        w.counts.clear();
        // Entries of one subfolder mostly come one after another: its name is looked up once.
        bool looked = false;
        std::string_view lastFolder;
        std::optional<uint64_t> lastSub;
        for (uint32_t k = folder.begin; k < folder.end; ++k) {
            Pending& p = level[k];
            goesTo[k] = kStays;
            const std::string_view rest = nameOf(p.entry).substr(p.offset);
            size_t sep = lastFolder.size();
            if (!looked || rest.size() <= sep || !isSeparator(rest[sep]) || !startsWith(rest, lastFolder)) {
                sep = FindSeparator(rest);
                if (sep == rest.size()) {
                    uint64_t hidden = 0;
                    if (w.names.file(rest, p.entry, hidden) == FolderNames::Placed::Replaced)
                        previous[p.entry] = static_cast<uint32_t>(hidden);
                    continue;
                }
                looked = true;
                lastFolder = rest.substr(0, sep);
                lastSub = w.names.folder(lastFolder, [&] {
                    w.counts.push_back(0);
                    return w.counts.size() - 1;
                });
            }
            if (!lastSub) continue;  // a file stands where the folder would go
            goesTo[k] = static_cast<uint32_t>(*lastSub);
            p.offset += static_cast<uint32_t>(sep) + 1;
            ++w.counts[*lastSub];
        }
        for (const auto& c : w.names.children())
            if (!c.folder) w.winners.push_back(static_cast<uint32_t>(c.id));
        uint32_t filled = folder.begin;
        for (uint32_t& count : w.counts) {
            w.folders.push_back({filled, filled + count});
            count = filled;  // now where the subfolder's next entry goes
            filled = w.folders.back().end;
        }
        for (uint32_t k = folder.begin; k < folder.end; ++k)
            if (goesTo[k] != kStays) next[w.counts[goesTo[k]]++] = level[k];
    };
    if (pool) workers.emplace_back(ignoreCase_);
    // Room for everything a worker may keep, taken here: grown on a worker thread, it would come
    // from that thread's arena, a page at a time, and be copied at each growth.
    for (Worker& w : workers) {
        w.winners.reserve(static_cast<size_t>(total));
        w.folders.reserve(static_cast<size_t>(total));
    }
    while (!folders.empty()) {
        for (Worker& w : workers) w.folders.clear();
        if (pool && folders.size() >= 2) {
            // The level's folders cut where half its entries are behind.
            uint64_t all = 0, behind = 0;
            for (const Span f : folders) all += f.end - f.begin;
            size_t cut = 0;
            for (; cut + 1 < folders.size() && behind * 2 < all; ++cut)
                behind += folders[cut].end - folders[cut].begin;
            pool->run(2, [&](size_t half) {
                Worker& w = workers[half];
                try {
                    for (size_t f = half ? cut : 0; f < (half ? folders.size() : cut); ++f) place(folders[f], w);
                } catch (...) {
                    w.failed = std::current_exception();
                }
            });
            for (const Worker& w : workers)
                if (w.failed) std::rethrow_exception(w.failed);
        } else {
            for (const Span f : folders) place(f, workers.front());
        }
        folders.clear();
        for (const Worker& w : workers) folders.insert(folders.end(), w.folders.begin(), w.folders.end());
        std::swap(level, next);
    }
    pool.reset();
    std::vector<uint32_t> winners = std::move(workers.front().winners);
    for (size_t w = 1; w < workers.size(); ++w)
        winners.insert(winners.end(), workers[w].winners.begin(), workers[w].winners.end());

    // Each name goes where its first version is (in the room of the walk's last list).
    level = {};
    next = {};
    std::vector<uint32_t>& winnerAt = goesTo;
    winnerAt.assign(static_cast<size_t>(total), kNone);
    for (const uint32_t w : winners) {
        uint32_t first = w;
        while (previous[first] != kNone) first = previous[first];
        winnerAt[first] = w;
    }
    names_.reserve(winners.size());
    for (uint32_t at = 0; at < total; ++at) {
        const uint32_t w = winnerAt[at];
        if (w == kNone) continue;
        Name name;
        name.winner = layerEntry(w);
        name.hiddenAt = static_cast<uint32_t>(hidden_.size());
        for (uint32_t h = previous[w]; h != kNone; h = previous[h]) hidden_.push_back(layerEntry(h));
        std::reverse(hidden_.begin() + name.hiddenAt, hidden_.end());
        name.hiddenCount = static_cast<uint32_t>(hidden_.size()) - name.hiddenAt;
        names_.push_back(name);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing the view

namespace {

NewData dataOf(const MergedView& view, LayerEntry e) {
    const Archive& archive = *view.layers()[e.layer];
    const ArchiveEntry entry = archive.entry(e.index);
    NewData data;
    data.from = &archive;
    data.fromOffset = entry.offset;
    // As extraction copies it: the recorded size, cut where the archive ends.
    if (entry.size > 0 && entry.offset >= 0)
        data.fromSize = std::clamp<int64_t>(archive.size() - entry.offset, 0, entry.size);
    data.record.resize(kRecordSize);
    const int64_t at = archive.size() - static_cast<int64_t>(archive.entryCount()) * kRecordSize +
                       static_cast<int64_t>(e.index) * kRecordSize;
    if (archive.readAt(at, data.record.data(), kRecordSize) != kRecordSize ||
        leI32(data.record.data() + kOffsetField) != entry.offset ||
        leI32(data.record.data() + kSizeField) != entry.size)
        throw Error(archive.path() + " changed while the new archive was made; nothing written");
    return data;
}

}  // namespace

ArchiveEdit MergedEdit(const MergedView& view) {
    if (view.layers().empty()) throw Error("no archive to merge");
    if (view.topChanges() && view.topChanges()->changeCount() > 0)
        throw Error(view.layers().back()->path() +
                    " has unsaved changes: save them before the layers are merged; nothing written");
    const Archive& base = *view.layers().front();
    ArchiveEdit edit;
    std::vector<bool> kept(base.entryCount(), false);
    for (const MergedView::Name& name : view.names()) {
        const auto hidden = view.hidden(name);
        const LayerEntry first = hidden.empty() ? name.winner : hidden.front();
        if (first.layer == 0) {
            kept[first.index] = true;
            if (!(name.winner == first)) edit.replace[first.index] = dataOf(view, name.winner);
        } else {
            edit.add.emplace_back(std::string(view.name(name.winner)), dataOf(view, name.winner));
        }
    }
    for (size_t i = 0; i < kept.size(); ++i)
        if (!kept[i]) edit.remove.insert(edit.remove.end(), i);
    return edit;
}

void WriteMergedArchive(const MergedView& view, const WriteTarget& target) {
    struct stat out{};
    if (::stat(target.path.c_str(), &out) == 0) {
        for (const Archive* layer : view.layers()) {
            struct stat st{};
            if (::fstat(layer->fd(), &st) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino)
                throw Error(target.path + " is one of the archives merged; nothing written");
        }
    }
    const ArchiveEdit edit = MergedEdit(view);
    WriteEditedArchive(*view.layers().front(), edit, target);
}

}  // namespace vorlr
