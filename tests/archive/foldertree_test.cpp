// The folder tree: structure in insertion order, pre-order walking, the indexed search from a
// node onwards, edited labels; compared with a tree that searches by walking node by node.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archive/FolderTree.h"
#include "support/ArchiveReference.h"

using vorlr::FolderTree;
using vorlr::kNoNode;
using vorlr::NodeId;
using vorlr::testing::ExpectSameTree;
using vorlr::testing::ScanTree;

TEST(FolderTree, EmptyTree) {
    FolderTree t;
    EXPECT_EQ(t.size(), 0);
    EXPECT_EQ(t.first(), kNoNode);
    EXPECT_EQ(t.childCount(kNoNode), 0);
    EXPECT_EQ(t.child(kNoNode, 0), kNoNode);
    EXPECT_EQ(t.findFrom(kNoNode, "A"), kNoNode);
}

TEST(FolderTree, NodesKeepInsertionOrderAndPreOrderFollowsTheTree) {
    FolderTree t;
    const NodeId b = t.addChild(kNoNode, "B", -1);
    const NodeId a = t.addChild(kNoNode, "A", -1);
    const NodeId z = t.addChild(b, "Z.TXT", 2);
    const NodeId y = t.addChild(a, "Y.TXT", 1);
    const NodeId x = t.addChild(b, "X.TXT", 0);  // after Z: no sorting
    const NodeId root = t.addChild(kNoNode, "R.TXT", 3);

    EXPECT_EQ(t.size(), 6);
    EXPECT_EQ(t.childCount(kNoNode), 3);
    EXPECT_EQ(t.child(kNoNode, 0), b);
    EXPECT_EQ(t.child(kNoNode, 1), a);
    EXPECT_EQ(t.child(kNoNode, 2), root);
    EXPECT_EQ(t.child(b, 0), z);
    EXPECT_EQ(t.child(b, 1), x);
    EXPECT_EQ(t.child(b, 2), kNoNode);
    EXPECT_EQ(t.child(b, -1), kNoNode);
    EXPECT_EQ(t.row(x), 1);
    EXPECT_EQ(t.row(a), 1);
    EXPECT_EQ(t.parent(x), b);
    EXPECT_EQ(t.parent(b), kNoNode);
    EXPECT_EQ(t.depth(b), 0);
    EXPECT_EQ(t.depth(x), 1);
    EXPECT_TRUE(t.hasChildren(b));
    EXPECT_FALSE(t.hasChildren(x));
    EXPECT_EQ(t.entryIndex(b), -1);
    EXPECT_EQ(t.entryIndex(x), 0);
    EXPECT_EQ(t.text(y), "Y.TXT");

    std::vector<NodeId> order;
    for (NodeId n = t.first(); n != kNoNode; n = t.next(n)) order.push_back(n);
    EXPECT_EQ(order, (std::vector<NodeId>{b, z, x, a, y, root}));
}

// What extracting a node writes: its own entry and every entry below it, in tree order, whatever
// order the nodes were added in; folder nodes add nothing.
TEST(FolderTree, EntriesInSubtreeFollowPreOrder) {
    FolderTree t;
    const NodeId data = t.addChild(kNoNode, "DATA", -1);
    const NodeId note = t.addChild(data, "NOTE", 4);  // a file that also heads a folder
    const NodeId sub = t.addChild(data, "SUB", -1);
    t.addChild(sub, "B.BIN", 7);
    t.addChild(note, "INNER.TXT", 1);
    t.addChild(sub, "A.BIN", 0);
    const NodeId empty = t.addChild(data, "EMPTY", -1);
    const NodeId top = t.addChild(kNoNode, "TOP.TXT", 9);
    struct Case {
        NodeId node;
        std::vector<int32_t> entries;
    };
    const Case cases[] = {
        {data, {4, 1, 7, 0}}, {note, {4, 1}}, {sub, {7, 0}}, {empty, {}}, {top, {9}},
    };
    for (const Case& c : cases) EXPECT_EQ(t.entriesInSubtree(c.node), c.entries) << t.text(c.node);
    EXPECT_THROW(t.entriesInSubtree(t.size()), std::out_of_range);
}

TEST(FolderTree, FindFromIncludesTheStartAndLooksOnlyForward) {
    FolderTree t;
    const NodeId d = t.addChild(kNoNode, "D", -1);
    const NodeId x = t.addChild(d, "X", -1);
    const NodeId e = t.addChild(kNoNode, "E", -1);
    const NodeId x2 = t.addChild(e, "X", -1);
    const NodeId dFile = t.addChild(e, "D", 0);

    EXPECT_EQ(t.findFrom(d, "D"), d);      // the start itself
    EXPECT_EQ(t.findFrom(x, "D"), dFile);  // forward, a file node, in another subtree
    EXPECT_EQ(t.findFrom(d, "X"), x);
    EXPECT_EQ(t.findFrom(e, "X"), x2);
    EXPECT_EQ(t.findFrom(dFile, "X"), kNoNode);  // never backwards
    EXPECT_EQ(t.findFrom(d, "x"), kNoNode);      // exact, byte for byte
    EXPECT_EQ(t.findFrom(d, "X "), kNoNode);
    EXPECT_EQ(t.findFrom(kNoNode, "D"), kNoNode);
}

TEST(FolderTree, EmptyAndBinaryTextsAreTextsLikeAnyOther) {
    FolderTree t;
    const NodeId a = t.addChild(kNoNode, "", 0);
    const NodeId b = t.addChild(kNoNode, std::string("\xE9\x01", 2), 1);
    EXPECT_EQ(t.findFrom(a, ""), a);
    EXPECT_EQ(t.findFrom(a, std::string("\xE9\x01", 2)), b);
}

TEST(FolderTree, EditedLabelsAreFoundByTheirNewText) {
    FolderTree t;
    const NodeId a = t.addChild(kNoNode, "A.TXT", 0);
    const NodeId b = t.addChild(kNoNode, "B.TXT", 1);
    t.setText(a, "A.WAV");
    EXPECT_EQ(t.text(a), "A.WAV");
    EXPECT_EQ(t.findFrom(a, "A.TXT"), kNoNode);
    EXPECT_EQ(t.findFrom(a, "A.WAV"), a);
    t.setText(b, "A.WAV");
    EXPECT_EQ(t.findFrom(a, "A.WAV"), a);
    t.setText(a, "C");
    EXPECT_EQ(t.findFrom(a, "A.WAV"), b);
    t.setText(a, "C");  // unchanged
    EXPECT_EQ(t.findFrom(a, "C"), a);
    // Nodes added after an edit land in the same index.
    const NodeId c = t.addChild(a, "A.WAV", 2);
    EXPECT_EQ(t.findFrom(a, "A.WAV"), c);
    EXPECT_EQ(t.findFrom(t.next(c), "A.WAV"), b);
}

TEST(FolderTree, ClearEmptiesEverything) {
    FolderTree t;
    const NodeId a = t.addChild(kNoNode, "A", -1);
    t.addChild(a, "F", 0);
    t.clear();
    EXPECT_EQ(t.size(), 0);
    EXPECT_EQ(t.first(), kNoNode);
    EXPECT_EQ(t.childCount(kNoNode), 0);
    const NodeId b = t.addChild(kNoNode, "A", -1);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(t.findFrom(b, "F"), kNoNode);
    EXPECT_EQ(t.findFrom(b, "A"), b);
    // Filled past its storage's first block, cleared and filled again, twice over.
    for (int round = 0; round < 2; ++round) {
        t.clear();
        const NodeId root = t.addChild(kNoNode, "R", -1);
        for (int i = 0; i < 70000; ++i) t.addChild(root, "N" + std::to_string(i + round), i);
        ASSERT_EQ(t.size(), 70001);
        EXPECT_EQ(t.text(t.child(root, 0)), "N" + std::to_string(round));
        EXPECT_EQ(t.text(t.child(root, 69999)), "N" + std::to_string(69999 + round));
        EXPECT_EQ(t.entryIndex(t.child(root, 40000)), 40000);
        EXPECT_EQ(t.parent(t.child(root, 65536)), root);
    }
}

TEST(FolderTree, BadNodesAreRefused) {
    FolderTree t;
    EXPECT_THROW(t.text(0), std::out_of_range);
    EXPECT_THROW(t.addChild(3, "A", -1), std::out_of_range);
    const NodeId a = t.addChild(kNoNode, "A", -1);
    EXPECT_THROW(t.findFrom(a + 1, "A"), std::out_of_range);
}

// Insertions piling up at one place in the pre-order (children of a node that has a following
// sibling) exhaust the free labels between two neighbours again and again.
TEST(FolderTree, ManyInsertionsAtOnePlaceKeepTheOrder) {
    FolderTree t;
    ScanTree ref;
    const NodeId a = t.addChild(kNoNode, "A", -1);
    ref.add(-1, "A", -1);
    t.addChild(kNoNode, "B", -1);
    ref.add(-1, "B", -1);
    for (int i = 0; i < 3000; ++i) {
        // Alternate between the end of A's subtree and the end of its first child's subtree.
        const int parent = (i % 3 == 0 || t.childCount(a) == 0) ? a : t.child(a, 0);
        const std::string text = "N" + std::to_string(i % 7);
        t.addChild(parent, text, i);
        ref.add(parent, text, i);
    }
    ExpectSameTree(t, ref);
    for (int n = 0; n < t.size(); n += 37)
        for (int k = 0; k < 7; ++k) {
            const std::string text = "N" + std::to_string(k);
            ASSERT_EQ(t.findFrom(n, text), ref.findFrom(n, text)) << n << " " << text;
        }
    EXPECT_EQ(t.findFrom(a, "B"), 1);
}

// A text with thousands of nodes arriving all over the pre-order after its first search, with
// edits in between: its ordered index outgrows the small form and must stay in order.
TEST(FolderTree, LargeIndexesStayInOrder) {
    FolderTree t;
    ScanTree ref;
    std::mt19937 rng(7);
    for (int r = 0; r < 16; ++r) {
        t.addChild(kNoNode, "R", -1);
        ref.add(-1, "R", -1);
    }
    ASSERT_EQ(t.findFrom(0, "X"), kNoNode);  // builds the (empty) index
    for (int i = 0; i < 9000; ++i) {
        const int parent = static_cast<int>(rng() % (i < 100 ? 16 : ref.nodes.size()));
        const std::string text = rng() % 4 ? "X" : "Y";
        t.addChild(parent, text, i);
        ref.add(parent, text, i);
        if (i % 50 == 0) {
            const int node = static_cast<int>(rng() % ref.nodes.size());
            const std::string edited = rng() % 2 ? "X" : "Z";
            t.setText(node, edited);
            ref.nodes[node].text = edited;
        }
        if (i % 500 == 0 || i == 8999) {
            for (int k = 0; k < 40; ++k) {
                const int start = static_cast<int>(rng() % ref.nodes.size());
                ASSERT_EQ(t.findFrom(start, "X"), ref.findFrom(start, "X")) << i << " " << start;
            }
        }
    }
    ExpectSameTree(t, ref);
}

// Deep chains (as names made of many short or empty segments give): pre-order comparisons
// between nodes far apart in depth, in branches that part high up or low down.
TEST(FolderTree, DeepChainsKeepThePreOrder) {
    FolderTree t;
    ScanTree ref;
    std::mt19937 rng(3);
    auto add = [&](int parent, const std::string& text) {
        const int n = ref.add(parent, text, -1);
        EXPECT_EQ(t.addChild(parent, text, -1), n);
        return n;
    };
    std::vector<int> chain;
    int top = add(-1, "A");
    chain.push_back(top);
    for (int d = 1; d < 300; ++d) {
        if (d % 3 == 0) add(chain.back(), "F");  // a childless first child here and there
        chain.push_back(add(chain.back(), d % 2 ? "B" : "A"));
    }
    // Branches off the chain at random depths, themselves deep.
    for (int b = 0; b < 12; ++b) {
        int at = chain[rng() % chain.size()];
        for (int d = 0; d < 40 + static_cast<int>(rng() % 80); ++d) at = add(at, d % 3 ? "A" : "B");
        add(at, "F");
    }
    ExpectSameTree(t, ref);
    for (int start = 0; start < static_cast<int>(ref.nodes.size()); ++start)
        for (const char* text : {"A", "B", "F", "none"})
            ASSERT_EQ(t.findFrom(start, text), ref.findFrom(start, text)) << start << " " << text;
}

// Random trees built by random operations, compared with the scanning tree after every step.
TEST(FolderTree, RandomTreesMatchTheScanningTree) {
    std::mt19937 rng(20240611);
    const std::vector<std::string> texts = {"A", "B", "D", "", "A.TXT", "INFO.TXT", "X", "\xC4"};
    for (int round = 0; round < 2000; ++round) {
        FolderTree t;
        ScanTree ref;
        const int steps = 1 + static_cast<int>(rng() % (round < 1500 ? 40 : 400));
        const int textCount = 1 + static_cast<int>(rng() % texts.size());
        for (int s = 0; s < steps; ++s) {
            const int n = static_cast<int>(ref.nodes.size());
            const unsigned op = rng() % 10;
            if (op < 7 || n == 0) {
                // Deep chains as well as wide levels: prefer recent nodes as parents.
                int parent = -1;
                if (n > 0 && rng() % 5 != 0)
                    parent = (rng() % 2) ? n - 1 - static_cast<int>(rng() % std::min(n, 3))
                                         : static_cast<int>(rng() % n);
                const std::string& text = texts[rng() % textCount];
                const int entry = (rng() % 2) ? s : -1;
                ASSERT_EQ(t.addChild(parent, text, entry), ref.add(parent, text, entry));
            } else if (op < 8) {
                const int node = static_cast<int>(rng() % n);
                const std::string& text = texts[rng() % texts.size()];
                t.setText(node, text);
                ref.nodes[node].text = text;
            } else {
                const int start = static_cast<int>(rng() % n);
                const std::string& text = texts[rng() % texts.size()];
                ASSERT_EQ(t.findFrom(start, text), ref.findFrom(start, text))
                    << "round " << round << " start " << start << " text '" << text << "'";
            }
        }
        ExpectSameTree(t, ref);
        const int stride = ref.nodes.size() > 60 ? 7 : 1;
        for (int start = 0; start < static_cast<int>(ref.nodes.size()); start += stride)
            for (int k = 0; k < textCount; ++k)
                ASSERT_EQ(t.findFrom(start, texts[k]), ref.findFrom(start, texts[k]))
                    << "round " << round << " start " << start;
    }
}
