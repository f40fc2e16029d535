#pragma once
// The folder tree: nodes in insertion order with text, parent, children and an entry index.
// Finding the first node with a given text at or after a node in pre-order is fast (about
// O(log n)), so loading a million entries does not scan the tree.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlr {

using NodeId = int32_t;
constexpr NodeId kNoNode = -1;

class FolderTree {
public:
    FolderTree();
    ~FolderTree();
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    void clear();
    // Appends a last child of parent (a last root node when parent is kNoNode). entryIndex is
    // the node's element of the entry offset table, or -1 for a folder node.
    NodeId addChild(NodeId parent, std::string text, int32_t entryIndex);
    int32_t size() const;
    // Removes the nodes added last, down to the first `size` nodes: the tree as it stood when it
    // had that many (edited labels of the nodes kept stay as they are).
    void truncate(int32_t size);

    const std::string& text(NodeId node) const;
    void setText(NodeId node, std::string text);  // an edited label
    int32_t entryIndex(NodeId node) const;
    NodeId parent(NodeId node) const;
    int32_t depth(NodeId node) const;          // 0 for a root node
    bool hasChildren(NodeId node) const;
    int32_t childCount(NodeId node) const;     // kNoNode: the root nodes
    NodeId child(NodeId node, int32_t row) const;  // kNoNode: root node `row`
    int32_t row(NodeId node) const;            // index among its siblings

    NodeId first() const;           // the first root node, or kNoNode
    NodeId next(NodeId node) const; // pre-order successor over the whole tree, or kNoNode
    // Calls visit(node, entryIndex, hasChildren) for every node in pre-order. Much faster than
    // next() over a tree whose nodes were added out of order: it reads nodes ahead.
    void forEachInPreOrder(const std::function<void(NodeId, int32_t, bool)>& visit) const;
    // The entry indexes of node and of every node below it, in pre-order; folder nodes add
    // none. What extracting a node of the tree writes.
    std::vector<int32_t> entriesInSubtree(NodeId node) const;
    // The first node at or after start in pre-order whose text equals text exactly.
    NodeId findFrom(NodeId start, std::string_view text) const;
    // A hint that a node with this text will be added soon: starts fetching what the text's
    // look-up will read (a loader calls it a few entries ahead). Changes nothing.
    void prefetchText(std::string_view text) const;

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace vorlr
