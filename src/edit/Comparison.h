#pragma once
// The loaded archive compared with another by qar diff's rules, the other archive taken as the
// old side: what the loaded archive changes against it. Each loaded entry gets its mark (added,
// content changed, record changed, renamed from an old name) and, when the other archive holds
// it too, its version there; the other's entries the loaded one lacks are the removed ones.
//
// ComparisonTree is the tree a view shows meanwhile: the loaded archive's folder tree, node for
// node, with each removed entry placed after the nodes of the folder it stood in (folders the
// loaded archive lacks are made for it), and with "changes only" the nodes that are neither
// changed nor above a change left out. The loaded tree itself is never changed.
// No widgets: the window, tests and benchmarks drive both alike.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/Archive.h"
#include "archive/FolderTree.h"

namespace vorlr {

class Comparison {
public:
    enum Mark : uint8_t { kAdded = 1, kModified = 2, kUnread = 4, kRenamed = 8, kRemoved = 16 };

    // Progress of a comparison running on another thread: entries digested of total, and a
    // request to stop (the comparison then raises FingerprintCancelled).
    struct Watch {
        std::atomic<size_t> loadedDone{0}, otherDone{0};
        std::atomic<size_t> total{0};
        std::atomic<bool> stop{false};
        size_t done() const { return loadedDone + otherDone; }
    };

    // loaded: open with its whole directory read, unchanged while the comparison lives. The
    // other archive is opened and must pass the validation rule ("Not a valid vorlund
    // packed-file!"); both are read at once, each on a thread of its own, as qar diff reads.
    static std::unique_ptr<Comparison> Compare(const Archive& loaded, const std::string& otherPath,
                                               Watch* watch = nullptr);

    const Archive& other() const { return *other_; }
    bool headerDiffers() const { return headerDiffers_; }
    // A loaded entry's marks (Mark bits, 0: unchanged).
    uint8_t mark(int32_t entry) const;
    // The stored name a renamed entry had in the other archive ("" when not renamed).
    std::string oldName(int32_t entry) const;
    // The other archive's entry that holds a loaded entry's other version, or -1.
    int32_t otherVersion(int32_t entry) const;
    // The other archive's entries the loaded one no longer holds, in its directory order.
    const std::vector<int32_t>& removed() const { return removed_; }
    size_t count(Mark mark) const;

private:
    std::unique_ptr<Archive> other_;
    bool headerDiffers_ = false;
    std::vector<uint8_t> marks_;
    std::vector<int32_t> partner_;
    std::vector<int32_t> removed_;
    std::unordered_map<int32_t, int32_t> renamedFrom_;  // loaded entry -> other entry
};

class ComparisonTree {
public:
    // An item: below tree.size() the loaded tree's node of that id; from there on a row of a
    // removed entry or of a folder only the other archive has.
    using Item = int32_t;
    static constexpr Item kTop = -1;  // the parent of the top-level items

    // tree: the loaded archive's tree as the loader built it (file nodes' entry indexes are
    // directory indexes); both must outlive this and stay unchanged.
    ComparisonTree(const FolderTree& tree, const Comparison& comparison);

    void setChangesOnly(bool on);
    bool changesOnly() const { return changesOnly_; }

    int32_t childCount(Item parent) const;
    Item child(Item parent, int32_t row) const;
    Item parent(Item item) const;
    int32_t row(Item item) const;
    bool hasChildren(Item item) const { return childCount(item) > 0; }
    // Whether the item is shown (with changes only: changed, above a change, or removed).
    bool shown(Item item) const;

    const std::string& text(Item item) const;
    // The loaded tree's node, or kNoNode for the other archive's rows.
    NodeId node(Item item) const { return item >= 0 && item < base_ ? item : kNoNode; }
    // The other archive's entry a removed row stands for, or -1 (a folder, a loaded node).
    int32_t removedEntry(Item item) const;
    // Mark bits: a loaded entry's, kRemoved for a removed row, 0 for folders.
    uint8_t mark(Item item) const;
    // A renamed entry's stored name in the other archive ("" for any other item).
    std::string oldName(Item item) const;

private:
    struct Extra {
        Item parent;
        std::string text;
        int32_t otherEntry;     // -1: a folder
        int32_t rowAfterNodes;  // its place among the extra rows of its parent
        std::vector<Item> children;
    };
    const std::vector<Item>& extrasOf(Item parent) const;
    const std::vector<NodeId>& shownNodes(NodeId parent) const;
    void place(int32_t otherEntry, const std::string& name,
               const std::unordered_map<std::string, NodeId>& folders);

    const FolderTree& tree_;
    const Comparison& comparison_;
    Item base_;
    bool changesOnly_ = false;
    std::vector<uint8_t> holdsChange_;  // per loaded node: it or a node below it is a change
    std::vector<Extra> extras_;         // item base_ + k
    std::unordered_map<Item, std::vector<Item>> extrasBelow_;  // extra rows of loaded nodes
    // With changes only: the shown loaded children of a loaded node, made when first asked.
    mutable std::unordered_map<NodeId, std::vector<NodeId>> shown_;
};

}  // namespace vorlr
