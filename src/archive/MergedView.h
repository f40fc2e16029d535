#pragma once
// Archives stacked in order, a base and the patch archives over it, seen as one: laid out as
// extracting each in turn would leave them on disk. Names split at '\' and '/' into folders; a
// later file replaces an earlier one of the same name, its own archive's included; nothing
// replaces a folder by a file or a file by a folder; unsafe names and entries whose data cannot
// be read have no place. With ignoreCase, names equal but for A-Z case are one name.
// qar mount works the view out folder by folder (FolderNames); qar layers, qar merge and the
// window take it whole (MergedView).
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveWriter.h"

namespace vorlr {

class ArchiveChanges;

// One folder's names while entries are placed into it in stack order. Names are views that
// must outlive the object.
class FolderNames {
public:
    explicit FolderNames(bool ignoreCase);
    // Empty again, its room kept for the next folder.
    void clear();

    enum class Placed { Added, Replaced, Refused };
    // File id under name. Replaced: the name's file is id now, hidden gets the one it was.
    // Refused: a folder stands there.
    Placed file(std::string_view name, uint64_t id, uint64_t& hidden);
    // The folder under name, made by make() (its id) when the name is new; nothing when a file
    // stands there.
    template <class Make>
    std::optional<uint64_t> folder(std::string_view name, Make&& make) {
        size_t hash = 0;
        const size_t at = find(name, hash);
        if (at == kNew) {
            add(name, 0, true, hash);
            children_.back().id = make();
            return children_.back().id;
        }
        const Child& c = children_[at];
        if (!c.folder) return std::nullopt;
        return c.id;
    }

    struct Child {
        std::string_view name;  // a replaced file's is its last one's
        uint64_t id;
        bool folder;
    };
    // In the order first placed.
    const std::vector<Child>& children() const { return children_; }

private:
    static constexpr size_t kNew = SIZE_MAX;
    // Most folders hold a few names: those are compared one by one, the index made past that.
    static constexpr size_t kIndexFrom = 8;
    bool same(std::string_view a, std::string_view b) const;
    size_t hashOf(std::string_view name) const;
    // hash: the name's, once the index is made (for add()).
    size_t find(std::string_view name, size_t& hash) const {
        if (children_.size() < kIndexFrom) {
            for (size_t i = 0; i < children_.size(); ++i)
                if (same(children_[i].name, name)) return i;
            return kNew;
        }
        hash = hashOf(name);
        return findIndexed(name, hash);
    }
    size_t findIndexed(std::string_view name, size_t hash) const;
    void add(std::string_view name, uint64_t id, bool folder, size_t hash);
    void index(uint32_t child, size_t hash);
    // The index: open addressing over a power-of-two table of child numbers plus one (0: free),
    // no allocation per name; each child's hash is kept for growing it.
    bool fold_;
    std::vector<uint32_t> slots_;
    std::vector<size_t> hashes_;
    std::vector<Child> children_;
};

// Whether entry index of layers[layer] has a place in a merged view; warns when it has not
// ("#3 C:\X: skipped, name with a drive letter", with "PATH: " before it when there are
// several layers).
bool HasViewPlace(const std::vector<const Archive*>& layers, uint32_t layer, uint32_t index,
                  const std::function<void(const std::string&)>& warn);

// Calls keep(layer, index) for every entry of the layers, in stack order, that has a place in a
// merged view, and warn once for each other.
template <class Keep>
void ForEachViewEntry(const std::vector<const Archive*>& layers,
                      const std::function<void(const std::string&)>& warn, Keep&& keep) {
    for (uint32_t a = 0; a < layers.size(); ++a)
        for (uint32_t i = 0; i < layers[a]->entryCount(); ++i)
            if (HasViewPlace(layers, a, i, warn)) keep(a, i);
}

struct LayerEntry {
    uint32_t layer = 0;
    uint32_t index = 0;
    bool operator==(const LayerEntry&) const = default;
};

class MergedView {
public:
    struct Name {
        LayerEntry winner;
        uint32_t hiddenAt = 0;  // in hidden()
        uint32_t hiddenCount = 0;
    };

    MergedView() = default;
    // The layers stay the caller's and must outlive the view; their directories are read.
    // warn as ForEachViewEntry's. topChanges: the top layer's pending edits, its entries then
    // being the present ones as they stand (a LayerEntry's index an EntryId); the view is made
    // again after each step.
    MergedView(std::vector<const Archive*> layers, bool ignoreCase,
               const std::function<void(const std::string&)>& warn,
               const ArchiveChanges* topChanges = nullptr);

    // The names in merged order: where each first appears, the base's order and then each
    // later layer's new names in its order.
    const std::vector<Name>& names() const { return names_; }
    // The versions a name's winner hides, in stack order.
    std::span<const LayerEntry> hidden(const Name& name) const {
        return std::span<const LayerEntry>(hidden_).subspan(name.hiddenAt, name.hiddenCount);
    }
    const std::vector<const Archive*>& layers() const { return layers_; }
    // A loaded entry's record; not for an entry added to the top layer by a pending step.
    ArchiveEntry entry(LayerEntry e) const { return layers_[e.layer]->entry(e.index); }
    // Its stored name, as it stands.
    std::string_view name(LayerEntry e) const;
    // Whether e is an entry of the top layer's pending edits.
    bool edited(LayerEntry e) const { return topChanges_ && e.layer + 1 == layers_.size(); }
    const ArchiveChanges* topChanges() const { return topChanges_; }
    bool ignoreCase() const { return ignoreCase_; }

private:
    std::vector<const Archive*> layers_;
    const ArchiveChanges* topChanges_ = nullptr;
    bool ignoreCase_ = false;
    std::vector<Name> names_;
    std::vector<LayerEntry> hidden_;
};

// The view's winners as one archive: the base edited, its first 512 bytes kept, its entries in
// its order, each name where its first version was, then each later layer's new names in its
// order; every entry's data (as extraction copies it) and directory record (name and unread
// bytes) from its own layer. The records are read from the layers' files: a top layer with
// unsaved changes is refused.
ArchiveEdit MergedEdit(const MergedView& view);
// Writes it with WriteEditedArchive; a target that is one of the layers is refused.
void WriteMergedArchive(const MergedView& view, const WriteTarget& target);

}  // namespace vorlr
