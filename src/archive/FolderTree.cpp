#include "archive/FolderTree.h"

#include <algorithm>
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
// * Children are only ever appended, so a node's row among its siblings never changes, and the
//   pre-order of two nodes follows from their rows where their paths from the roots part (an
//   ancestor comes before its descendants). Comparing two nodes costs O(depth) and no
//   insertion ever moves another node's position key.
// * Texts are interned. Every text keeps the list of its nodes, and, from the first search for
//   it on, an ordered set of them in pre-order, kept up to date by later insertions and edited
//   labels. Texts that are never searched (most file names) never pay for an ordered set.
// * findFrom(start, text) is one hash look-up and one lower_bound by pre-order position:
//   O(log k) comparisons for k nodes with that text.

namespace {

struct NodeData {
    int32_t textId;
    NodeId parent;
    int32_t entryIndex;
    int32_t row;
    int32_t depth;
    NodeId prevSameText;  // the text's node list, in insertion order
    NodeId nextSameText;
};

}  // namespace

struct FolderTree::Impl {
    std::vector<NodeData> nodes;
    std::vector<std::vector<NodeId>> children;  // per node
    std::vector<NodeId> roots;

    struct PreOrderLess {
        const Impl* tree;
        bool operator()(NodeId a, NodeId b) const { return tree->before(a, b); }
    };
    struct TextInfo {
        NodeId head = kNoNode;  // node list in insertion order
        NodeId tail = kNoNode;
        std::unique_ptr<std::set<NodeId, PreOrderLess>> index;  // built by the first search
    };
    // Interned texts; references stay valid because a deque never moves its elements.
    std::deque<std::string> texts;
    std::vector<TextInfo> textInfo;
    std::unordered_map<std::string_view, int32_t> textIds;

    void clear() {
        nodes.clear();
        children.clear();
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
        const NodeId p = nodes[node].parent;
        return p == kNoNode ? roots : children[p];
    }

    // Pre-order comparison: a strictly before b.
    bool before(NodeId a, NodeId b) const {
        if (a == b) return false;
        NodeId x = a, y = b;
        while (nodes[x].depth > nodes[y].depth) {
            x = nodes[x].parent;
            if (x == y) return false;  // a lies under b
        }
        while (nodes[y].depth > nodes[x].depth) {
            y = nodes[y].parent;
            if (y == x) return true;  // b lies under a
        }
        while (nodes[x].parent != nodes[y].parent) {
            x = nodes[x].parent;
            y = nodes[y].parent;
        }
        return nodes[x].row < nodes[y].row;
    }

    int32_t intern(std::string&& text) {
        if (auto it = textIds.find(text); it != textIds.end()) return it->second;
        const auto id = static_cast<int32_t>(texts.size());
        texts.push_back(std::move(text));
        textIds.emplace(texts.back(), id);
        textInfo.emplace_back();
        return id;
    }

    void link(NodeId node) {
        NodeData& n = nodes[node];
        TextInfo& info = textInfo[n.textId];
        n.prevSameText = info.tail;
        n.nextSameText = kNoNode;
        if (info.tail != kNoNode) nodes[info.tail].nextSameText = node; else info.head = node;
        info.tail = node;
        if (info.index) {
            auto& set = *info.index;
            // Nodes mostly arrive in pre-order: then the end is the right place.
            if (set.empty() || before(*set.rbegin(), node))
                set.insert(set.end(), node);
            else
                set.insert(node);
        }
    }

    void unlink(NodeId node) {
        NodeData& n = nodes[node];
        TextInfo& info = textInfo[n.textId];
        if (n.prevSameText != kNoNode) nodes[n.prevSameText].nextSameText = n.nextSameText; else info.head = n.nextSameText;
        if (n.nextSameText != kNoNode) nodes[n.nextSameText].prevSameText = n.prevSameText; else info.tail = n.prevSameText;
        if (info.index) info.index->erase(node);
    }

    const std::set<NodeId, PreOrderLess>& indexOf(int32_t textId) {
        TextInfo& info = textInfo[textId];
        if (!info.index) {
            std::vector<NodeId> all;
            for (NodeId n = info.head; n != kNoNode; n = nodes[n].nextSameText) all.push_back(n);
            std::sort(all.begin(), all.end(), PreOrderLess{this});
            info.index = std::make_unique<std::set<NodeId, PreOrderLess>>(PreOrderLess{this});
            for (NodeId n : all) info.index->insert(info.index->end(), n);
        }
        return *info.index;
    }
};

FolderTree::FolderTree() : impl_(new Impl) {}
FolderTree::~FolderTree() { delete impl_; }

void FolderTree::clear() { impl_->clear(); }

void FolderTree::reserve(int32_t nodes) {
    if (nodes <= 0) return;
    const auto n = static_cast<size_t>(nodes);
    impl_->nodes.reserve(n);
    impl_->children.reserve(n);
}

NodeId FolderTree::addChild(NodeId parent, std::string text, int32_t entryIndex) {
    Impl& d = *impl_;
    if (parent != kNoNode) d.checkNode(parent);
    if (d.nodes.size() >= static_cast<size_t>(std::numeric_limits<NodeId>::max()))
        throw std::length_error("FolderTree: too many nodes");
    const auto node = static_cast<NodeId>(d.nodes.size());
    const int32_t textId = d.intern(std::move(text));
    std::vector<NodeId>& siblings = parent == kNoNode ? d.roots : d.children[parent];
    const int32_t depth = parent == kNoNode ? 0 : d.nodes[parent].depth + 1;
    d.nodes.push_back(NodeData{textId, parent, entryIndex, static_cast<int32_t>(siblings.size()), depth,
                               kNoNode, kNoNode});
    siblings.push_back(node);
    d.children.emplace_back();  // after the push above: emplace_back may move the vectors
    d.link(node);
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

NodeId FolderTree::first() const { return impl_->roots.empty() ? kNoNode : impl_->roots.front(); }

NodeId FolderTree::next(NodeId node) const {
    const Impl& d = *impl_;
    d.checkNode(node);
    if (!d.children[node].empty()) return d.children[node].front();
    for (NodeId n = node; n != kNoNode; n = d.nodes[n].parent) {
        const auto& siblings = d.siblingsOf(n);
        const auto row = static_cast<size_t>(d.nodes[n].row) + 1;
        if (row < siblings.size()) return siblings[row];
    }
    return kNoNode;
}

NodeId FolderTree::findFrom(NodeId start, std::string_view text) const {
    Impl& d = *impl_;
    if (start == kNoNode) return kNoNode;
    d.checkNode(start);
    auto it = d.textIds.find(text);
    if (it == d.textIds.end()) return kNoNode;
    const auto& index = d.indexOf(it->second);
    auto found = index.lower_bound(start);
    return found == index.end() ? kNoNode : *found;
}

}  // namespace vorlr
