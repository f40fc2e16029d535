#include "edit/Comparison.h"

#include <algorithm>
#include <cstring>
#include <future>

#include "archive/ArchiveDiff.h"
#include "archive/Container.h"
#include "platform/Errors.h"

namespace vorlr {

std::unique_ptr<Comparison> Comparison::Compare(const Archive& loaded, const std::string& otherPath,
                                                Watch* watch) {
    Watch local;
    Watch& w = watch ? *watch : local;
    w.total = loaded.entryCount();
    auto result = std::unique_ptr<Comparison>(new Comparison);
    result->other_ = std::make_unique<Archive>();
    Archive& other = *result->other_;

    // The loaded archive's directory is read already; the other's is read meanwhile.
    auto later = std::async(std::launch::async, [&] {
        return FingerprintArchive(loaded, {&w.loadedDone, &w.stop});
    });
    ArchiveFingerprint otherPrint, loadedPrint;
    try {
        other.open(otherPath);
        ArchiveReader reader(other);
        if (!ReadArchiveFigures(reader).valid) throw Error("Not a valid vorlund packed-file!");
        ReadDirectory(other);
        w.total += other.entryCount();
        otherPrint = FingerprintArchive(other, {&w.otherDone, &w.stop});
    } catch (...) {
        w.stop = true;
        later.wait();
        throw;
    }
    loadedPrint = later.get();

    // The other archive is the old side: qar diff OTHER LOADED.
    const DiffPairs pairs = PairFingerprints(otherPrint, loadedPrint);
    Comparison& c = *result;
    c.headerDiffers_ = pairs.headerDiffers;
    c.marks_.assign(loadedPrint.entries.size(), 0);
    c.partner_.assign(loadedPrint.entries.size(), -1);
    for (size_t i = 0; i < pairs.old.size(); ++i) {
        const DiffPairs::Old& fate = pairs.old[i];
        const auto at = static_cast<int32_t>(i);
        if (fate.partner == DiffPairs::kNone) {
            c.removed_.push_back(at);
            continue;
        }
        c.partner_[fate.partner] = at;
        uint8_t& mark = c.marks_[fate.partner];
        if (fate.renamed) {
            mark |= kRenamed;
            c.renamedFrom_[static_cast<int32_t>(fate.partner)] = at;
        }
        if (fate.contentDiffers) mark |= kModified;
        if (fate.unreadDiffers) mark |= kUnread;
    }
    for (size_t j = 0; j < pairs.added.size(); ++j)
        if (pairs.added[j]) c.marks_[j] |= kAdded;
    return result;
}

uint8_t Comparison::mark(int32_t entry) const {
    return entry >= 0 && static_cast<size_t>(entry) < marks_.size()
               ? marks_[static_cast<size_t>(entry)]
               : 0;
}

std::string Comparison::oldName(int32_t entry) const {
    const auto it = renamedFrom_.find(entry);
    return it == renamedFrom_.end()
               ? std::string()
               : std::string(other_->entry(static_cast<size_t>(it->second)).name);
}

int32_t Comparison::otherVersion(int32_t entry) const {
    return entry >= 0 && static_cast<size_t>(entry) < partner_.size()
               ? partner_[static_cast<size_t>(entry)]
               : -1;
}

size_t Comparison::count(Mark mark) const {
    if (mark == kRemoved) return removed_.size();
    return static_cast<size_t>(
        std::count_if(marks_.begin(), marks_.end(), [mark](uint8_t m) { return (m & mark) != 0; }));
}

namespace {

// A folder by its parent and text, as one string key.
std::string folderKey(NodeId parent, std::string_view text) {
    std::string key(sizeof parent, '\0');
    std::memcpy(key.data(), &parent, sizeof parent);
    key += text;
    return key;
}

}  // namespace

ComparisonTree::ComparisonTree(const FolderTree& tree, const Comparison& comparison)
    : tree_(tree), comparison_(comparison), base_(tree.size()) {
    holdsChange_.assign(static_cast<size_t>(base_), 0);
    const auto markUp = [this](NodeId n) {
        for (; n != kNoNode && !holdsChange_[static_cast<size_t>(n)]; n = tree_.parent(n))
            holdsChange_[static_cast<size_t>(n)] = 1;
    };
    tree_.forEachInPreOrder([&](NodeId node, int32_t entry, bool) {
        if (entry >= 0 && comparison_.mark(entry) != 0) markUp(node);
    });
    if (comparison_.removed().empty()) return;

    // The loaded tree's folders by parent and text (the first of equal ones in tree order).
    std::unordered_map<std::string, NodeId> folders;
    tree_.forEachInPreOrder([&](NodeId node, int32_t, bool hasChildren) {
        if (hasChildren) folders.try_emplace(folderKey(tree_.parent(node), tree_.text(node)), node);
    });
    for (const int32_t entry : comparison_.removed())
        place(entry, std::string(comparison_.other().entry(static_cast<size_t>(entry)).name),
              folders);
    for (const Extra& extra : extras_) {
        Item up = extra.parent;
        while (up >= base_) up = extras_[static_cast<size_t>(up - base_)].parent;
        markUp(up);
    }
}

void ComparisonTree::place(int32_t otherEntry, const std::string& name,
                           const std::unordered_map<std::string, NodeId>& folders) {
    const auto addExtra = [this](Item parent, std::string text, int32_t entry) {
        const Item item = base_ + static_cast<Item>(extras_.size());
        extras_.push_back({parent, std::move(text), entry, 0, {}});  // may move the other extras
        std::vector<Item>& siblings = parent >= base_
                                          ? extras_[static_cast<size_t>(parent - base_)].children
                                          : extrasBelow_[parent];
        extras_.back().rowAfterNodes = static_cast<int32_t>(siblings.size());
        siblings.push_back(item);
        return item;
    };
    Item at = kTop;
    size_t from = 0;
    for (size_t slash; (slash = name.find('\\', from)) != std::string::npos; from = slash + 1) {
        const std::string_view segment(name.data() + from, slash - from);
        Item found = kNoNode;
        if (at < base_) {
            const auto it = folders.find(folderKey(at, segment));
            if (it != folders.end()) found = it->second;
        }
        if (found == kNoNode)
            for (const Item e : extrasOf(at)) {
                const Extra& x = extras_[static_cast<size_t>(e - base_)];
                if (x.otherEntry < 0 && x.text == segment) {
                    found = e;
                    break;
                }
            }
        at = found != kNoNode ? found : addExtra(at, std::string(segment), -1);
    }
    addExtra(at, name.substr(from), otherEntry);
}

const std::vector<ComparisonTree::Item>& ComparisonTree::extrasOf(Item parent) const {
    static const std::vector<Item> none;
    if (parent >= base_) return extras_[static_cast<size_t>(parent - base_)].children;
    const auto it = extrasBelow_.find(parent);
    return it == extrasBelow_.end() ? none : it->second;
}

const std::vector<NodeId>& ComparisonTree::shownNodes(NodeId parent) const {
    auto [it, made] = shown_.try_emplace(parent);
    if (made)
        for (int32_t r = 0, n = tree_.childCount(parent); r < n; ++r)
            if (const NodeId c = tree_.child(parent, r); holdsChange_[static_cast<size_t>(c)])
                it->second.push_back(c);
    return it->second;
}

void ComparisonTree::setChangesOnly(bool on) { changesOnly_ = on; }

int32_t ComparisonTree::childCount(Item parent) const {
    if (parent >= base_) return static_cast<int32_t>(extrasOf(parent).size());
    const int32_t nodes =
        changesOnly_ ? static_cast<int32_t>(shownNodes(parent).size()) : tree_.childCount(parent);
    return nodes + static_cast<int32_t>(extrasOf(parent).size());
}

ComparisonTree::Item ComparisonTree::child(Item parent, int32_t row) const {
    if (row < 0) return kNoNode;
    if (parent < base_) {
        const int32_t nodes = changesOnly_ ? static_cast<int32_t>(shownNodes(parent).size())
                                           : tree_.childCount(parent);
        if (row < nodes)
            return changesOnly_ ? shownNodes(parent)[static_cast<size_t>(row)]
                                : tree_.child(parent, row);
        row -= nodes;
    }
    const std::vector<Item>& extras = extrasOf(parent);
    return row < static_cast<int32_t>(extras.size()) ? extras[static_cast<size_t>(row)] : kNoNode;
}

ComparisonTree::Item ComparisonTree::parent(Item item) const {
    if (item >= base_) return extras_[static_cast<size_t>(item - base_)].parent;
    return tree_.parent(item);
}

int32_t ComparisonTree::row(Item item) const {
    if (item >= base_) {
        const Extra& x = extras_[static_cast<size_t>(item - base_)];
        if (x.parent >= base_) return x.rowAfterNodes;
        const int32_t nodes = changesOnly_ ? static_cast<int32_t>(shownNodes(x.parent).size())
                                           : tree_.childCount(x.parent);
        return nodes + x.rowAfterNodes;
    }
    if (!changesOnly_) return tree_.row(item);
    const std::vector<NodeId>& shown = shownNodes(tree_.parent(item));
    const auto it = std::lower_bound(shown.begin(), shown.end(), tree_.row(item),
                                     [this](NodeId n, int32_t r) { return tree_.row(n) < r; });
    return it != shown.end() && *it == item ? static_cast<int32_t>(it - shown.begin()) : -1;
}

bool ComparisonTree::shown(Item item) const {
    if (item >= base_) return true;
    return item >= 0 && (!changesOnly_ || holdsChange_[static_cast<size_t>(item)]);
}

const std::string& ComparisonTree::text(Item item) const {
    return item >= base_ ? extras_[static_cast<size_t>(item - base_)].text : tree_.text(item);
}

int32_t ComparisonTree::removedEntry(Item item) const {
    return item >= base_ ? extras_[static_cast<size_t>(item - base_)].otherEntry : -1;
}

uint8_t ComparisonTree::mark(Item item) const {
    if (item >= base_)
        return extras_[static_cast<size_t>(item - base_)].otherEntry >= 0 ? Comparison::kRemoved
                                                                          : 0;
    return item >= 0 ? comparison_.mark(tree_.entryIndex(item)) : 0;
}

std::string ComparisonTree::oldName(Item item) const {
    return node(item) == kNoNode ? std::string() : comparison_.oldName(tree_.entryIndex(item));
}

}  // namespace vorlr
