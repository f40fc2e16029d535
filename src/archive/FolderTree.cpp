#include "archive/FolderTree.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace vorlr {

// How the search stays fast:
//
// * Every node carries a 64-bit order label; labels increase along the pre-order of the whole
//   tree. The labels live in a linked list in pre-order ("order maintenance"): a new node is
//   linked in right after the last descendant of its parent (or at the very end for a root
//   node), with a label between its neighbours. When two neighbours have no free label between
//   them, a window of labels around them is spread out evenly again; the window grows until it
//   is sparse enough, which keeps the work per insertion at about O(log n) amortised.
// * Texts are interned; for each text the nodes carrying it are kept ordered by label: a sorted
//   vector while nodes arrive in pre-order (the usual case for a directory sorted by path), an
//   ordered set once one arrives out of order. Since relabelling never changes the relative
//   order of nodes, the ordered containers stay valid when labels move.
// * findFrom(start, text) is then one hash look-up and one lower_bound by the label of start.

namespace {

using Label = uint64_t;

constexpr Label kAppendStep = Label{1} << 32;

struct NodeData {
    int32_t textId;
    NodeId parent;
    int32_t entryIndex;
    int32_t row;
    NodeId prev;  // neighbours in pre-order
    NodeId next;
};

}  // namespace

struct FolderTree::Impl {
    std::vector<NodeData> nodes;
    std::vector<Label> labels;
    std::vector<std::vector<NodeId>> children;  // per node
    std::vector<NodeId> roots;
    NodeId head = kNoNode;  // first node in pre-order
    NodeId tail = kNoNode;  // last node in pre-order

    // Interned texts; references stay valid because a deque never moves its elements.
    std::deque<std::string> texts;
    std::unordered_map<std::string_view, int32_t> textIds;

    struct LabelLess {
        const std::vector<Label>* labels;
        bool operator()(NodeId a, NodeId b) const { return (*labels)[a] < (*labels)[b]; }
    };
    struct Occurrences {
        std::vector<NodeId> sorted;                         // in pre-order, while no set exists
        std::unique_ptr<std::set<NodeId, LabelLess>> tree;  // once nodes arrived out of order
    };
    std::vector<Occurrences> occurrences;  // per text id

    // Density limits of the relabelling windows: a window of 2^k labels may hold at most
    // (2/1.4)^k nodes after spreading.
    std::vector<double> windowLimit;

    Impl() {
        windowLimit.resize(65);
        for (int k = 0; k <= 64; ++k) windowLimit[k] = std::pow(2.0 / 1.4, k);
    }

    void clear() {
        nodes.clear();
        labels.clear();
        children.clear();
        roots.clear();
        head = tail = kNoNode;
        textIds.clear();
        texts.clear();
        occurrences.clear();
    }

    int32_t intern(std::string text) {
        if (auto it = textIds.find(text); it != textIds.end()) return it->second;
        const auto id = static_cast<int32_t>(texts.size());
        texts.push_back(std::move(text));
        textIds.emplace(texts.back(), id);
        occurrences.emplace_back();
        return id;
    }

    void checkNode(NodeId node) const {
        if (node < 0 || node >= static_cast<NodeId>(nodes.size()))
            throw std::out_of_range("FolderTree: no such node");
    }

    NodeId lastDescendant(NodeId node) const {
        while (!children[node].empty()) node = children[node].back();
        return node;
    }

    // --- order maintenance -------------------------------------------------------------------

    void linkAfter(NodeId before, NodeId node) {
        NodeData& n = nodes[node];
        n.prev = before;
        n.next = before == kNoNode ? head : nodes[before].next;
        if (n.prev != kNoNode) nodes[n.prev].next = node; else head = node;
        if (n.next != kNoNode) nodes[n.next].prev = node; else tail = node;
    }

    // Gives the freshly linked `node` a label between its neighbours, relabelling a window of
    // neighbours when there is no room.
    void assignLabel(NodeId node) {
        const NodeId p = nodes[node].prev;
        const NodeId s = nodes[node].next;
        if (p == kNoNode && s == kNoNode) {
            labels[node] = kAppendStep;
            return;
        }
        if (s == kNoNode) {
            const Label lp = labels[p];
            if (lp <= std::numeric_limits<Label>::max() - 2 * kAppendStep) {
                labels[node] = lp + kAppendStep;
                return;
            }
            if (std::numeric_limits<Label>::max() - lp >= 2) {
                labels[node] = lp + (std::numeric_limits<Label>::max() - lp) / 2;
                return;
            }
        } else {
            const Label lp = p == kNoNode ? 0 : labels[p];
            const Label ls = labels[s];
            if (ls - lp >= 2) {
                labels[node] = lp + (ls - lp) / 2;
                return;
            }
        }
        relabelAround(node);
    }

    // Spreads the labels of the smallest aligned window around `node` that is sparse enough.
    // `node` itself has no valid label yet; it takes its place between its neighbours.
    void relabelAround(NodeId node) {
        const NodeId anchor = nodes[node].prev != kNoNode ? nodes[node].prev : nodes[node].next;
        const Label base = labels[anchor];
        NodeId left = node, right = node;  // window in pre-order, inclusive
        int64_t count = 1;
        for (int k = 1; k <= 63; ++k) {
            const Label mask = (Label{1} << k) - 1;
            const Label lo = base & ~mask;
            const Label hi = base | mask;
            for (NodeId l = nodes[left].prev; l != kNoNode && labels[l] >= lo && labels[l] <= hi;
                 l = nodes[l].prev) {
                left = l;
                ++count;
            }
            for (NodeId r = nodes[right].next; r != kNoNode && labels[r] >= lo && labels[r] <= hi;
                 r = nodes[r].next) {
                right = r;
                ++count;
            }
            if (static_cast<double>(count) <= windowLimit[k] && count <= static_cast<int64_t>(mask)) {
                spread(left, count, lo, mask + 1);
                return;
            }
        }
        // The whole list: spread it over the full label range.
        int64_t total = 0;
        for (NodeId n = head; n != kNoNode; n = nodes[n].next) ++total;
        spread(head, total, 0, 0);
    }

    // Gives `count` nodes from `first` on evenly spaced labels in [lo, lo + width) (width 0: the
    // whole 64-bit range). The callers make sure that count < width, so the step is at least 1.
    void spread(NodeId first, int64_t count, Label lo, Label width) {
        const Label room = width == 0 ? std::numeric_limits<Label>::max() : width;
        const Label step = room / static_cast<Label>(count + 1);
        NodeId n = first;
        for (int64_t i = 1; i <= count; ++i, n = nodes[n].next)
            labels[n] = lo + step * static_cast<Label>(i);
    }

    // --- occurrences by text -----------------------------------------------------------------

    void addOccurrence(NodeId node) {
        Occurrences& occ = occurrences[nodes[node].textId];
        if (occ.tree) {
            occ.tree->insert(node);
            return;
        }
        if (occ.sorted.empty() || labels[occ.sorted.back()] < labels[node]) {
            occ.sorted.push_back(node);
            return;
        }
        occ.tree = std::make_unique<std::set<NodeId, LabelLess>>(LabelLess{&labels});
        occ.tree->insert(occ.sorted.begin(), occ.sorted.end());
        occ.tree->insert(node);
        occ.sorted.clear();
        occ.sorted.shrink_to_fit();
    }

    void removeOccurrence(NodeId node) {
        Occurrences& occ = occurrences[nodes[node].textId];
        if (occ.tree) {
            occ.tree->erase(node);
            return;
        }
        auto it = std::lower_bound(occ.sorted.begin(), occ.sorted.end(), node, LabelLess{&labels});
        if (it != occ.sorted.end() && *it == node) occ.sorted.erase(it);
    }

    NodeId findFrom(NodeId start, int32_t textId) const {
        const Occurrences& occ = occurrences[textId];
        const Label from = labels[start];
        if (occ.tree) {
            auto it = occ.tree->lower_bound(start);
            return it == occ.tree->end() ? kNoNode : *it;
        }
        auto it = std::partition_point(occ.sorted.begin(), occ.sorted.end(),
                                       [&](NodeId n) { return labels[n] < from; });
        return it == occ.sorted.end() ? kNoNode : *it;
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
    std::vector<NodeId>& siblings = parent == kNoNode ? d.roots : d.children[parent];
    // The new node follows the parent's last descendant in pre-order (root nodes: the end).
    const NodeId before = parent == kNoNode ? d.tail : d.lastDescendant(parent);
    d.nodes.push_back(NodeData{textId, parent, entryIndex, static_cast<int32_t>(siblings.size()),
                               kNoNode, kNoNode});
    d.labels.push_back(0);
    d.children.emplace_back();
    // `siblings` may refer into d.children, which emplace_back can move: look it up again.
    (parent == kNoNode ? d.roots : d.children[parent]).push_back(node);
    d.linkAfter(before, node);
    d.assignLabel(node);
    d.addOccurrence(node);
    return node;
}

int32_t FolderTree::size() const { return static_cast<int32_t>(impl_->nodes.size()); }

const std::string& FolderTree::text(NodeId node) const {
    impl_->checkNode(node);
    return impl_->texts[impl_->nodes[node].textId];
}

void FolderTree::setText(NodeId node, std::string text) {
    Impl& d = *impl_;
    d.checkNode(node);
    if (d.texts[d.nodes[node].textId] == text) return;
    d.removeOccurrence(node);
    d.nodes[node].textId = d.intern(std::move(text));
    d.addOccurrence(node);
}

int32_t FolderTree::entryIndex(NodeId node) const {
    impl_->checkNode(node);
    return impl_->nodes[node].entryIndex;
}

NodeId FolderTree::parent(NodeId node) const {
    impl_->checkNode(node);
    return impl_->nodes[node].parent;
}

bool FolderTree::hasChildren(NodeId node) const {
    impl_->checkNode(node);
    return !impl_->children[node].empty();
}

int32_t FolderTree::childCount(NodeId node) const {
    if (node == kNoNode) return static_cast<int32_t>(impl_->roots.size());
    impl_->checkNode(node);
    return static_cast<int32_t>(impl_->children[node].size());
}

NodeId FolderTree::child(NodeId node, int32_t row) const {
    const std::vector<NodeId>* list = &impl_->roots;
    if (node != kNoNode) {
        impl_->checkNode(node);
        list = &impl_->children[node];
    }
    if (row < 0 || row >= static_cast<int32_t>(list->size())) return kNoNode;
    return (*list)[row];
}

int32_t FolderTree::row(NodeId node) const {
    impl_->checkNode(node);
    return impl_->nodes[node].row;
}

NodeId FolderTree::first() const { return impl_->head; }

NodeId FolderTree::next(NodeId node) const {
    impl_->checkNode(node);
    return impl_->nodes[node].next;
}

NodeId FolderTree::findFrom(NodeId start, std::string_view text) const {
    const Impl& d = *impl_;
    if (start == kNoNode) return kNoNode;
    d.checkNode(start);
    auto it = d.textIds.find(text);
    if (it == d.textIds.end()) return kNoNode;
    return d.findFrom(start, it->second);
}

}  // namespace vorlr
