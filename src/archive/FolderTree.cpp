#include "archive/FolderTree.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

namespace vorlr {

// How the search stays fast:
//
// * Children are only ever appended, so a node's row among its siblings never changes, and the
//   pre-order of two nodes follows from their rows where their paths from the roots part (an
//   ancestor comes before its descendants). Comparing two nodes climbs their ancestors by jump
//   pointers, O(log depth), and no insertion ever changes another node's position.
// * Texts are interned. Every text keeps the list of its nodes, and, from the first search for
//   it on, an ordered set of them in pre-order, kept up to date by later insertions and edited
//   labels. Texts that are never searched (most file names) never pay for an ordered set.
// * findFrom(start, text) looks at the start and its first childless children (where the
//   loader usually finds its folder), else does one hash look-up and one lower_bound by
//   pre-order position: O(log k) comparisons for k nodes with that text.

namespace {

// Where a node stands: all that pre-order comparisons read, kept apart and small so that the
// comparisons of a search touch little memory. `jump` is an ancestor chosen so that climbing to
// any depth takes O(log depth) steps (skew-binary jump pointers); nodes of equal depth have
// jumps of equal depth, so two nodes can climb side by side.
struct Place {
    NodeId parent;
    NodeId jump;  // a root: itself
    int32_t row;
    int32_t depth;
};

struct NodeData {
    int32_t textId;
    int32_t entryIndex;
    NodeId prevSameText;  // the text's node list, in insertion order
    NodeId nextSameText;
    std::vector<NodeId> children;
};

// How many of a node's first children findFrom looks at before it searches the index.
constexpr size_t kNearbyChildren = 8;

// A growing array in fixed chunks: elements never move and no growth step copies the array.
template <typename T>
class Chunked {
public:
    static constexpr int kShift = 15;
    static constexpr size_t kChunk = size_t{1} << kShift;

    T& operator[](NodeId i) {
        return chunks_[static_cast<size_t>(i) >> kShift][static_cast<size_t>(i) & (kChunk - 1)];
    }
    const T& operator[](NodeId i) const {
        return chunks_[static_cast<size_t>(i) >> kShift][static_cast<size_t>(i) & (kChunk - 1)];
    }
    size_t size() const { return size_; }
    void push_back(T value) {
        if (size_ == chunks_.size() * kChunk) {
            chunks_.emplace_back();
            chunks_.back().reserve(kChunk);
        }
        chunks_.back().push_back(std::move(value));
        ++size_;
    }
    void pop_back() {
        chunks_.back().pop_back();
        --size_;
        // push_back fills the last chunk: an empty one may only stand last when it is the first.
        if (chunks_.back().empty() && chunks_.size() > 1) chunks_.pop_back();
    }
    // Keeps the first chunk: a tree cleared and loaded again does not hand its memory back
    // only to take it again.
    void clear() {
        if (chunks_.size() > 1) chunks_.resize(1);
        if (!chunks_.empty()) chunks_[0].clear();
        size_ = 0;
    }

private:
    std::vector<std::vector<T>> chunks_;
    size_t size_ = 0;
};

// Texts by content: open addressing over text ids, with a fast hash of 8 bytes at a time.
class TextTable {
public:
    static uint64_t hash(std::string_view s) {
        uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
        size_t i = 0;
        for (; i + 8 <= s.size(); i += 8) {
            uint64_t w;
            std::memcpy(&w, s.data() + i, 8);
            h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
            h ^= h >> 31;
        }
        if (i < s.size()) {
            uint64_t w = 0;
            std::memcpy(&w, s.data() + i, s.size() - i);
            h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
        }
        h ^= h >> 29;
        h *= 0x94D049BB133111EBull;
        return h ^ (h >> 32);
    }

    // The id of the text equal to s, or -1. textOf(id) gives a stored text.
    template <typename TextOf>
    int32_t find(std::string_view s, uint64_t h, const TextOf& textOf) const {
        if (slots_.empty()) return -1;
        const size_t mask = slots_.size() - 1;
        const auto tag = static_cast<uint32_t>(h);
        for (size_t i = (h >> 32) & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.id < 0) return -1;
            if (slot.tag == tag && textOf(slot.id) == s) return slot.id;
        }
    }

    void prefetch(uint64_t h) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[(h >> 32) & (slots_.size() - 1)]);
    }

    // Adds an id whose text is not in the table yet.
    void insert(uint64_t h, int32_t id) {
        if ((used_ + 1) * 2 > slots_.size()) grow();
        place(h, id);
        ++used_;
    }

    void clear() {
        slots_.clear();
        hashes_.clear();
        used_ = 0;
    }

private:
    struct Slot {
        uint32_t tag;
        int32_t id;  // -1: empty
    };
    void place(uint64_t h, int32_t id) {
        const size_t mask = slots_.size() - 1;
        size_t i = (h >> 32) & mask;
        while (slots_[i].id >= 0) i = (i + 1) & mask;
        slots_[i] = Slot{static_cast<uint32_t>(h), id};
        if (hashes_.size() <= static_cast<size_t>(id)) hashes_.resize(static_cast<size_t>(id) + 1);
        hashes_[static_cast<size_t>(id)] = h;
    }
    void grow() {
        std::vector<Slot> old(std::max<size_t>(64, slots_.size() * 2), Slot{0, -1});
        old.swap(slots_);
        for (const Slot& slot : old)
            if (slot.id >= 0) place(hashes_[static_cast<size_t>(slot.id)], slot.id);
    }
    std::vector<Slot> slots_;
    std::vector<uint64_t> hashes_;  // per id, for growing
    size_t used_ = 0;
};

// Nodes of one text in pre-order: a sorted vector (cache-friendly, and nodes mostly arrive at
// its end), turned into a balanced tree once it is large and a node arrives in its middle.
template <typename Less>
class OrderedNodes {
public:
    OrderedNodes(Less less, std::vector<NodeId> sorted) : less_(less), sorted_(std::move(sorted)) {}

    void insert(NodeId node) {
        if (set_) {
            if (set_->empty() || less_(*set_->rbegin(), node))
                set_->insert(set_->end(), node);
            else
                set_->insert(node);
            return;
        }
        if (sorted_.empty() || less_(sorted_.back(), node)) {
            sorted_.push_back(node);
            return;
        }
        if (sorted_.size() < kVectorLimit) {
            sorted_.insert(std::lower_bound(sorted_.begin(), sorted_.end(), node, less_), node);
            return;
        }
        set_ = std::make_unique<std::set<NodeId, Less>>(less_);
        for (NodeId n : sorted_) set_->insert(set_->end(), n);
        sorted_ = {};
        set_->insert(node);
    }

    void erase(NodeId node) {
        if (set_) {
            set_->erase(node);
            return;
        }
        auto it = std::lower_bound(sorted_.begin(), sorted_.end(), node, less_);
        if (it != sorted_.end() && *it == node) sorted_.erase(it);
    }

    NodeId front() const {
        if (set_) return set_->empty() ? kNoNode : *set_->begin();
        return sorted_.empty() ? kNoNode : sorted_.front();
    }

    // The first node at or after start.
    NodeId lowerBound(NodeId start) const {
        if (set_) {
            auto it = set_->lower_bound(start);
            return it == set_->end() ? kNoNode : *it;
        }
        auto it = std::lower_bound(sorted_.begin(), sorted_.end(), start, less_);
        return it == sorted_.end() ? kNoNode : *it;
    }

private:
    static constexpr size_t kVectorLimit = 4096;
    Less less_;
    std::vector<NodeId> sorted_;  // while there is no set
    std::unique_ptr<std::set<NodeId, Less>> set_;
};

}  // namespace

struct FolderTree::Impl {
    Chunked<Place> places;
    Chunked<NodeData> nodes;
    std::vector<NodeId> roots;

    struct PreOrderLess {
        const Impl* tree;
        bool operator()(NodeId a, NodeId b) const { return tree->before(a, b); }
    };
    struct TextInfo {
        NodeId head = kNoNode;  // node list in insertion order
        NodeId tail = kNoNode;
        std::unique_ptr<OrderedNodes<PreOrderLess>> index;  // built by the first search
    };
    // Interned texts; references stay valid because a deque never moves its elements.
    std::deque<std::string> texts;
    std::vector<TextInfo> textInfo;
    TextTable textIds;

    void clear() {
        places.clear();
        nodes.clear();
        roots.clear();
        textIds.clear();
        textInfo.clear();
        texts.clear();
    }

    void checkNode(NodeId node) const {
        if (node < 0 || node >= static_cast<NodeId>(nodes.size()))
            throw std::out_of_range("FolderTree: no such node");
    }

    const std::vector<NodeId>& siblingsOf(NodeId node) const {
        const NodeId p = places[node].parent;
        return p == kNoNode ? roots : nodes[p].children;
    }

    NodeId ancestorAt(NodeId node, int32_t depth) const {
        while (places[node].depth > depth) {
            const NodeId j = places[node].jump;
            node = places[j].depth >= depth ? j : places[node].parent;
        }
        return node;
    }

    NodeId jumpFor(NodeId parent) const {
        if (parent == kNoNode) return kNoNode;  // set to the node itself by the caller
        const NodeId j = places[parent].jump;
        const NodeId jj = places[j].jump;
        if (places[parent].depth - places[j].depth == places[j].depth - places[jj].depth) return jj;
        return parent;
    }

    // Pre-order comparison: a strictly before b.
    bool before(NodeId a, NodeId b) const {
        if (a == b) return false;
        NodeId x = a, y = b;
        const int32_t dx = places[x].depth, dy = places[y].depth;
        if (dx > dy) {
            x = ancestorAt(x, dy);
            if (x == y) return false;  // a lies under b
        } else if (dy > dx) {
            y = ancestorAt(y, dx);
            if (y == x) return true;  // b lies under a
        }
        // Climb side by side to the children of the nearest common ancestor.
        while (places[x].parent != places[y].parent) {
            const NodeId jx = places[x].jump, jy = places[y].jump;
            if (jx != jy) {
                x = jx;
                y = jy;
            } else {
                x = places[x].parent;
                y = places[y].parent;
            }
        }
        return places[x].row < places[y].row;
    }

    int32_t findText(std::string_view text, uint64_t h) const {
        return textIds.find(text, h, [this](int32_t id) -> std::string_view {
            return texts[static_cast<size_t>(id)];
        });
    }

    int32_t intern(std::string&& text) {
        const uint64_t h = TextTable::hash(text);
        if (const int32_t found = findText(text, h); found >= 0) return found;
        const auto id = static_cast<int32_t>(texts.size());
        texts.push_back(std::move(text));
        textIds.insert(h, id);
        textInfo.emplace_back();
        return id;
    }

    void link(NodeId node) {
        NodeData& n = nodes[node];
        TextInfo& info = textInfo[n.textId];
        n.prevSameText = info.tail;
        n.nextSameText = kNoNode;
        if (info.tail != kNoNode)
            nodes[info.tail].nextSameText = node;
        else
            info.head = node;
        info.tail = node;
        if (info.index) info.index->insert(node);
    }

    void unlink(NodeId node) {
        NodeData& n = nodes[node];
        TextInfo& info = textInfo[n.textId];
        if (n.prevSameText != kNoNode)
            nodes[n.prevSameText].nextSameText = n.nextSameText;
        else
            info.head = n.nextSameText;
        if (n.nextSameText != kNoNode)
            nodes[n.nextSameText].prevSameText = n.prevSameText;
        else
            info.tail = n.prevSameText;
        if (info.index) info.index->erase(node);
    }

    const OrderedNodes<PreOrderLess>& indexOf(int32_t textId) {
        TextInfo& info = textInfo[textId];
        if (!info.index) {
            std::vector<NodeId> all;
            for (NodeId n = info.head; n != kNoNode; n = nodes[n].nextSameText) all.push_back(n);
            std::sort(all.begin(), all.end(), PreOrderLess{this});
            info.index =
                std::make_unique<OrderedNodes<PreOrderLess>>(PreOrderLess{this}, std::move(all));
        }
        return *info.index;
    }
};

FolderTree::FolderTree() : impl_(new Impl) {}
FolderTree::~FolderTree() { delete impl_; }

void FolderTree::clear() { impl_->clear(); }

NodeId FolderTree::addChild(NodeId parent, std::string text, int32_t entryIndex) {
    Impl& d = *impl_;
    if (parent != kNoNode) d.checkNode(parent);
    if (d.nodes.size() >= static_cast<size_t>(std::numeric_limits<NodeId>::max()))
        throw std::length_error("FolderTree: too many nodes");
    const auto node = static_cast<NodeId>(d.nodes.size());
    const int32_t textId = d.intern(std::move(text));
    std::vector<NodeId>& siblings = parent == kNoNode ? d.roots : d.nodes[parent].children;
    const int32_t depth = parent == kNoNode ? 0 : d.places[parent].depth + 1;
    const NodeId jump = parent == kNoNode ? node : d.jumpFor(parent);
    d.places.push_back(Place{parent, jump, static_cast<int32_t>(siblings.size()), depth});
    d.nodes.push_back(NodeData{textId, entryIndex, kNoNode, kNoNode, {}});  // elements never move
    siblings.push_back(node);
    d.link(node);
    return node;
}

int32_t FolderTree::size() const { return static_cast<int32_t>(impl_->nodes.size()); }

void FolderTree::truncate(int32_t size) {
    Impl& d = *impl_;
    if (size < 0 || size > this->size()) throw std::out_of_range("FolderTree: no such size");
    // The node added last is the last child of its parent, and its children went before it.
    for (auto node = static_cast<NodeId>(d.nodes.size()) - 1; node >= size; --node) {
        d.unlink(node);
        const NodeId p = d.places[node].parent;
        (p == kNoNode ? d.roots : d.nodes[p].children).pop_back();
        d.places.pop_back();
        d.nodes.pop_back();
    }
}

const std::string& FolderTree::text(NodeId node) const {
    impl_->checkNode(node);
    return impl_->texts[impl_->nodes[node].textId];
}

void FolderTree::setText(NodeId node, std::string text) {
    Impl& d = *impl_;
    d.checkNode(node);
    if (d.texts[d.nodes[node].textId] == text) return;
    d.unlink(node);
    d.nodes[node].textId = d.intern(std::move(text));
    d.link(node);
}

int32_t FolderTree::entryIndex(NodeId node) const {
    impl_->checkNode(node);
    return impl_->nodes[node].entryIndex;
}

NodeId FolderTree::parent(NodeId node) const {
    impl_->checkNode(node);
    return impl_->places[node].parent;
}

bool FolderTree::hasChildren(NodeId node) const {
    impl_->checkNode(node);
    return !impl_->nodes[node].children.empty();
}

int32_t FolderTree::childCount(NodeId node) const {
    if (node == kNoNode) return static_cast<int32_t>(impl_->roots.size());
    impl_->checkNode(node);
    return static_cast<int32_t>(impl_->nodes[node].children.size());
}

NodeId FolderTree::child(NodeId node, int32_t row) const {
    const std::vector<NodeId>* list = &impl_->roots;
    if (node != kNoNode) {
        impl_->checkNode(node);
        list = &impl_->nodes[node].children;
    }
    if (row < 0 || row >= static_cast<int32_t>(list->size())) return kNoNode;
    return (*list)[row];
}

int32_t FolderTree::depth(NodeId node) const {
    impl_->checkNode(node);
    return impl_->places[node].depth;
}

int32_t FolderTree::row(NodeId node) const {
    impl_->checkNode(node);
    return impl_->places[node].row;
}

NodeId FolderTree::first() const { return impl_->roots.empty() ? kNoNode : impl_->roots.front(); }

NodeId FolderTree::next(NodeId node) const {
    const Impl& d = *impl_;
    d.checkNode(node);
    if (!d.nodes[node].children.empty()) return d.nodes[node].children.front();
    for (NodeId n = node; n != kNoNode; n = d.places[n].parent) {
        const auto& siblings = d.siblingsOf(n);
        const auto row = static_cast<size_t>(d.places[n].row) + 1;
        if (row < siblings.size()) return siblings[row];
    }
    return kNoNode;
}

std::vector<int32_t> FolderTree::entriesInSubtree(NodeId node) const {
    impl_->checkNode(node);
    std::vector<int32_t> entries;
    std::vector<NodeId> pending{node};
    while (!pending.empty()) {
        const NodeId n = pending.back();
        pending.pop_back();
        if (const int32_t entry = impl_->nodes[n].entryIndex; entry >= 0) entries.push_back(entry);
        const std::vector<NodeId>& children = impl_->nodes[n].children;
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return entries;
}

void FolderTree::forEachInPreOrder(const std::function<void(NodeId, int32_t, bool)>& visit) const {
    const Impl& d = *impl_;
    // Siblings are visited in a row, so the node data of a few siblings ahead is fetched while
    // the current one is handled (nodes added out of order lie far apart in memory).
    constexpr size_t kAhead = 8;
    struct Level {
        const std::vector<NodeId>* children;
        size_t next;
    };
    std::vector<Level> stack{{&d.roots, 0}};
    while (!stack.empty()) {
        Level& level = stack.back();
        const std::vector<NodeId>& children = *level.children;
        if (level.next == children.size()) {
            stack.pop_back();
            continue;
        }
        if (level.next == 0)
            for (size_t k = 1; k < kAhead && k < children.size(); ++k)
                __builtin_prefetch(&d.nodes[children[k]]);
        if (level.next + kAhead < children.size())
            __builtin_prefetch(&d.nodes[children[level.next + kAhead]]);
        const NodeId n = children[level.next++];
        const NodeData& data = d.nodes[n];
        visit(n, data.entryIndex, !data.children.empty());
        if (!data.children.empty()) stack.push_back({&data.children, 0});  // `level` moves
    }
}

void FolderTree::prefetchText(std::string_view text) const {
    impl_->textIds.prefetch(TextTable::hash(text));
}

NodeId FolderTree::findFrom(NodeId start, std::string_view text) const {
    Impl& d = *impl_;
    if (start == kNoNode) return kNoNode;
    d.checkNode(start);
    const int32_t textId = d.findText(text, TextTable::hash(text));
    if (textId < 0) return kNoNode;
    // The start itself and the nodes right after it in pre-order, as long as they are its
    // childless first children: the loader's usual finds, without a search.
    const NodeData& s = d.nodes[start];
    if (s.textId == textId) return start;
    for (size_t row = 0; row < s.children.size() && row < kNearbyChildren; ++row) {
        const NodeId c = s.children[row];
        const NodeData& child = d.nodes[c];
        if (child.textId == textId) return c;
        if (!child.children.empty()) break;  // its subtree comes next
    }
    const auto& index = d.indexOf(textId);
    // Every node comes at or after the first root node.
    if (start == d.roots.front()) return index.front();
    return index.lowerBound(start);
}

}  // namespace vorlr
