#pragma once
// Plain, obviously-correct models for the archive tests: a folder tree whose search walks the
// tree node by node, and the directory loading rules written out on top of it. The real
// FolderTree and LoadDirectory are compared against these.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "archive/FolderTree.h"

namespace vorlr::testing {

struct ScanTree {
    struct Node {
        std::string text;
        int parent = -1;
        int entry = -1;
        std::vector<int> children;
    };
    std::vector<Node> nodes;
    std::vector<int> roots;

    int add(int parent, std::string text, int entry) {
        const int id = static_cast<int>(nodes.size());
        nodes.push_back(Node{std::move(text), parent, entry, {}});
        (parent < 0 ? roots : nodes[parent].children).push_back(id);
        return id;
    }
    const std::vector<int>& siblings(int node) const {
        return nodes[node].parent < 0 ? roots : nodes[nodes[node].parent].children;
    }
    int rowOf(int node) const {
        const auto& s = siblings(node);
        for (size_t i = 0; i < s.size(); ++i)
            if (s[i] == node) return static_cast<int>(i);
        return -1;
    }
    int first() const { return roots.empty() ? -1 : roots[0]; }
    // Pre-order successor: first child, else the next sibling of the node or of an ancestor.
    int next(int node) const {
        if (!nodes[node].children.empty()) return nodes[node].children[0];
        for (int n = node; n >= 0; n = nodes[n].parent) {
            const auto& s = siblings(n);
            const int row = rowOf(n);
            if (row + 1 < static_cast<int>(s.size())) return s[row + 1];
        }
        return -1;
    }
    int findFrom(int start, const std::string& text) const {
        for (int n = start; n >= 0; n = next(n))
            if (nodes[n].text == text) return n;
        return -1;
    }
};

// The loading rules on the scan tree, for entry names already cut at their zero byte; the loop
// ends after entry `stopAfter` (or runs to the end when it is negative).
inline ScanTree ReferenceLoad(const std::vector<std::string>& names, int stopAfter = -1) {
    ScanTree t;
    std::string previousDirectory;
    int parent = -1;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = names[i];
        const auto last = name.rfind('\\');
        const std::string directory = last == std::string::npos ? "" : name.substr(0, last + 1);
        if (directory == previousDirectory) {
            name = name.substr(directory.size());
        } else {
            previousDirectory = directory;
            int search = t.first();
            parent = -1;
            for (auto cut = name.find('\\'); cut != std::string::npos; cut = name.find('\\')) {
                const std::string segment = name.substr(0, cut);
                name = name.substr(cut + 1);
                int found = search < 0 ? -1 : t.findFrom(search, segment);
                if (found < 0) found = t.add(parent, segment, -1);
                parent = found;
                search = found;
            }
        }
        t.add(parent, name, static_cast<int>(i));
        if (static_cast<int>(i) == stopAfter) break;
    }
    return t;
}

// Node for node: same ids, texts, parents, entry indices, rows and children, and the same
// pre-order through first()/next().
inline void ExpectSameTree(const FolderTree& tree, const ScanTree& ref) {
    ASSERT_EQ(tree.size(), static_cast<int32_t>(ref.nodes.size()));
    ASSERT_EQ(tree.childCount(kNoNode), static_cast<int32_t>(ref.roots.size()));
    for (size_t r = 0; r < ref.roots.size(); ++r)
        ASSERT_EQ(tree.child(kNoNode, static_cast<int32_t>(r)), ref.roots[r]);
    for (int n = 0; n < static_cast<int>(ref.nodes.size()); ++n) {
        const auto& node = ref.nodes[n];
        ASSERT_EQ(tree.text(n), node.text) << "node " << n;
        ASSERT_EQ(tree.parent(n), node.parent) << "node " << n;
        ASSERT_EQ(tree.entryIndex(n), node.entry) << "node " << n;
        ASSERT_EQ(tree.row(n), ref.rowOf(n)) << "node " << n;
        int depth = 0;
        for (int p = node.parent; p >= 0; p = ref.nodes[p].parent) ++depth;
        ASSERT_EQ(tree.depth(n), depth) << "node " << n;
        ASSERT_EQ(tree.hasChildren(n), !node.children.empty()) << "node " << n;
        ASSERT_EQ(tree.childCount(n), static_cast<int32_t>(node.children.size())) << "node " << n;
        for (size_t c = 0; c < node.children.size(); ++c)
            ASSERT_EQ(tree.child(n, static_cast<int32_t>(c)), node.children[c]) << "node " << n;
    }
    int a = tree.first(), b = ref.first();
    while (a != kNoNode || b >= 0) {
        ASSERT_EQ(a, b);
        a = tree.next(a);
        b = ref.next(b);
    }
    // The same order in one walk, with each node's entry and whether it has children.
    std::vector<std::tuple<int, int32_t, bool>> walked, expected;
    tree.forEachInPreOrder(
        [&](NodeId n, int32_t entry, bool children) { walked.emplace_back(n, entry, children); });
    for (int n = ref.first(); n >= 0; n = ref.next(n))
        expected.emplace_back(n, ref.nodes[n].entry, !ref.nodes[n].children.empty());
    ASSERT_EQ(walked, expected);
}

}  // namespace vorlr::testing
