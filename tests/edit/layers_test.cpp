// Patch archives stacked over a loaded one: the merged tree holds one file node for each name
// qar layers lists, with its winner and the versions it hides, at the path of its stored name
// (one folder for names apart only in case when case is ignored); taking layers off and a layer
// that cannot be read leave the tree as qar layers lists the remaining stack.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>

#include "archive/Container.h"
#include "edit/Layers.h"
#include "mount/MountTree.h"
#include "platform/Errors.h"
#include "platform/Text.h"
#include "platform/WorkerPool.h"
#include "support/Bytes.h"
#include "support/QarRun.h"
#include "support/StackedArchives.h"

namespace vorlr {
namespace {

using testing::runQar;

class LayersTest : public ::testing::Test {
protected:
    void SetUp() override {
        paths = testing::writeStacked(dir);
        base = OpenValidArchive(paths[0]);
    }

    // qar layers --hidden's output rebuilt from the tree: each file node's lines, in the order
    // of the names they stand for.
    static std::string listed(const Layers& layers) {
        const FolderTree& tree = layers.tree();
        std::map<int32_t, std::string> blocks;
        for (NodeId node = tree.first(); node != kNoNode; node = tree.next(node)) {
            if (tree.hasChildren(node) || tree.entryIndex(node) < 0) continue;
            const MergedView::Name& name = *layers.nameOf(node);
            const std::string stored(layers.view().entry(name.winner).name);
            std::string block = std::to_string(name.winner.layer) + "\t" +
                                std::to_string(name.hiddenCount) + "\t" + stored + "\n";
            const std::vector<LayerEntry> versions = layers.versions(node);
            EXPECT_EQ(versions.front(), name.winner);
            for (auto v = versions.rbegin(); v + 1 != versions.rend(); ++v)
                block += "-" + std::to_string(v->layer) + "\t" +
                         std::string(layers.view().entry(*v).name) + "\n";
            EXPECT_TRUE(blocks.emplace(tree.entryIndex(node), block).second);

            // The node stands at its name's path.
            std::string path = tree.text(node);
            for (NodeId up = tree.parent(node); up != kNoNode; up = tree.parent(up))
                path = tree.text(up) + "\\" + path;
            std::string expected = stored;
            std::replace(expected.begin(), expected.end(), '/', '\\');
            if (layers.ignoreCase())
                EXPECT_EQ(lowerAZ(path), lowerAZ(expected));
            else
                EXPECT_EQ(path, expected);
        }
        // No two folders of one name side by side.
        std::vector<NodeId> parents{kNoNode};
        for (NodeId node = tree.first(); node != kNoNode; node = tree.next(node))
            if (tree.hasChildren(node)) parents.push_back(node);
        for (const NodeId parent : parents) {
            std::vector<std::string> folders;
            for (int32_t r = 0; r < tree.childCount(parent); ++r)
                if (const NodeId c = tree.child(parent, r); tree.hasChildren(c))
                    folders.push_back(layers.ignoreCase() ? lowerAZ(tree.text(c)) : tree.text(c));
            std::sort(folders.begin(), folders.end());
            EXPECT_EQ(std::adjacent_find(folders.begin(), folders.end()), folders.end());
        }
        std::string out;
        for (const auto& [at, block] : blocks) out += block;
        return out;
    }

    std::string qarLayers(size_t count, bool ignoreCase) {
        std::vector<std::string> args{"layers", "--hidden"};
        if (ignoreCase) args.push_back("--ignore-case");
        args.insert(args.end(), paths.begin(), paths.begin() + static_cast<long>(count));
        const testing::QarResult r = runQar(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    testing::TempDir dir;
    std::vector<std::string> paths;
    std::unique_ptr<Archive> base;
};

// A folder of many names (its index made, grown and probed) places them as comparing them one by
// one does: files replaced, folders kept, a file where a folder stands refused and the reverse.
TEST(FolderNamesTest, ManyNamesPlaceAsComparingThemOneByOne) {
    for (const bool fold : {false, true}) {
        SCOPED_TRACE(fold ? "ignore case" : "exact");
        FolderNames names(fold);
        struct Ref {
            std::string name;
            uint64_t id;
            bool folder;
        };
        std::vector<Ref> ref;
        auto same = [&](const std::string& a, const std::string& b) {
            return fold ? lowerAZ(a) == lowerAZ(b) : a == b;
        };
        std::deque<std::string> texts;  // the names outlive the folder
        uint32_t seed = 7;
        for (uint64_t id = 1; id <= 3000; ++id) {
            seed = seed * 1103515245 + 12345;
            const uint32_t r = seed >> 8;
            // Few enough distinct names that most come again, in either case.
            std::string text = "n" + std::to_string(r % 700);
            if (r & 0x800) std::transform(text.begin(), text.end(), text.begin(), ::toupper);
            const std::string_view name = texts.emplace_back(std::move(text));
            auto at = std::find_if(ref.begin(), ref.end(), [&](const Ref& x) { return same(x.name, std::string(name)); });
            if (r & 0x1000) {
                uint64_t made = 0;
                const std::optional<uint64_t> got = names.folder(name, [&] { return made = id; });
                if (at == ref.end()) {
                    EXPECT_EQ(got, std::optional<uint64_t>(id));
                    ref.push_back({std::string(name), id, true});
                } else if (at->folder) {
                    EXPECT_EQ(got, std::optional<uint64_t>(at->id));
                    EXPECT_EQ(made, 0u);
                } else {
                    EXPECT_EQ(got, std::nullopt);
                }
            } else {
                uint64_t hidden = 0;
                const FolderNames::Placed placed = names.file(name, id, hidden);
                if (at == ref.end()) {
                    EXPECT_EQ(placed, FolderNames::Placed::Added);
                    ref.push_back({std::string(name), id, false});
                } else if (at->folder) {
                    EXPECT_EQ(placed, FolderNames::Placed::Refused);
                } else {
                    EXPECT_EQ(placed, FolderNames::Placed::Replaced);
                    EXPECT_EQ(hidden, at->id);
                    at->id = id;
                    at->name = std::string(name);
                }
            }
        }
        ASSERT_EQ(names.children().size(), ref.size());
        for (size_t i = 0; i < ref.size(); ++i) {
            EXPECT_EQ(names.children()[i].name, ref[i].name);
            EXPECT_EQ(names.children()[i].id, ref[i].id);
        }
        EXPECT_GT(ref.size(), 300u);  // the index was made and grown
    }
}

// A stack big enough for the view to be made on two threads: it is the view one core makes,
// warnings in the same order, over replacements at every depth, unsafe names in both halves, a
// negative offset and a file where a folder stands.
TEST(MergedViewTest, TwoThreadsMakeTheViewOneCoreMakes) {
    if (UsableCores() < 2) GTEST_SKIP() << "one core here: the view is made on one thread only";
    testing::TempDir dir;
    std::vector<std::unique_ptr<Archive>> archives;
    for (const int count : {110000, 12000}) {
        const bool patch = !archives.empty();
        std::vector<samples::QarEntry> entries;
        for (int i = 0; i < count; ++i) {
            const int n = patch ? (i * 9) % 110000 : i;
            std::string name = "F" + std::to_string(n % 13) + (n % 2 ? "\\g" : "/G") +
                               std::to_string(n % 101) + "\\N" + std::to_string(n) + ".TXT";
            if (patch && i % 5 == 0) name = "NEW\\" + name;
            if (patch && i % 7 == 0) name = std::to_string(n % 3) + ".TXT";
            if (i % 40000 == 7) name = "..\\" + name;
            if (patch && i == 11000) name = "F3\\G3";
            entries.push_back({name, {}, {}, {}, false});
            if (i == 60001) entries.back().offsetOverride = -5;
        }
        const std::string path = dir.file(std::to_string(archives.size()) + ".qar");
        samples::writeQar(path, entries);
        archives.push_back(OpenValidArchive(path));
    }
    const std::vector<const Archive*> stack{archives[0].get(), archives[1].get()};
    const auto made = [&](bool ignoreCase) {
        std::string out;
        MergedView view(stack, ignoreCase, [&](const std::string& m) { out += "warned " + m + "\n"; });
        for (const MergedView::Name& name : view.names()) {
            out += std::to_string(name.winner.layer) + ":" + std::to_string(name.winner.index);
            for (const LayerEntry h : view.hidden(name))
                out += " " + std::to_string(h.layer) + ":" + std::to_string(h.index);
            out += "\n";
        }
        return out;
    };
    cpu_set_t all;
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &all)) {
            CPU_SET(c, &one);
            break;
        }
    for (const bool ignoreCase : {false, true}) {
        SCOPED_TRACE(ignoreCase ? "ignore case" : "exact");
        const std::string two = made(ignoreCase);
        ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
        ASSERT_EQ(UsableCores(), 1);
        const std::string single = made(ignoreCase);
        ASSERT_EQ(::sched_setaffinity(0, sizeof all, &all), 0);
        EXPECT_EQ(two, single);
        EXPECT_NE(single.find("warned " + archives[1]->path() + ": #7 ..\\"), std::string::npos);
        EXPECT_NE(single.find("warned " + archives[0]->path() + ": #80007 ..\\"), std::string::npos);
        EXPECT_NE(single.find("#60001 "), std::string::npos);
        EXPECT_NE(single.find(" 0:"), std::string::npos);  // versions hidden
    }
}

TEST_F(LayersTest, TheTreeIsWhatQarLayersLists) {
    Layers layers(*base);
    layers.add(paths[1]);
    layers.add(paths[2]);
    for (const bool ignoreCase : {false, true, false}) {
        SCOPED_TRACE(ignoreCase ? "ignore case" : "exact");
        layers.setIgnoreCase(ignoreCase);
        EXPECT_EQ(listed(layers), qarLayers(3, ignoreCase));
    }
    EXPECT_EQ(layers.warnings().size(), 1u);  // ..\EVIL.TXT
}

// Every file at the path qar mount serves it from, folders spelt alike: with case ignored, a
// folder a patch spells otherwise keeps the spelling its first entry gave it.
TEST_F(LayersTest, TheTreeHasTheMountsPathsAndSpelling) {
    for (const bool ignoreCase : {false, true}) {
        SCOPED_TRACE(ignoreCase ? "ignore case" : "exact");
        std::vector<std::unique_ptr<Archive>> archives;
        for (const std::string& p : paths) archives.push_back(OpenValidArchive(p));
        MountOptions options;
        options.ignoreCase = ignoreCase;
        MountTree mount(std::move(archives), options, [](const std::string&) {});
        std::set<std::string> served;
        std::vector<std::pair<uint64_t, std::string>> pending{{MountTree::kRootId, ""}};
        while (!pending.empty()) {
            const auto [id, path] = pending.back();
            pending.pop_back();
            std::vector<MountTree::Child> children;
            ASSERT_TRUE(mount.children(id, children));
            for (const MountTree::Child& c : children) {
                if (mount.attributes(c.id)->folder)
                    pending.emplace_back(c.id, path + c.name + "\\");
                else
                    served.insert(path + c.name);
            }
        }
        Layers layers(*base);
        layers.add(paths[1]);
        layers.add(paths[2]);
        layers.setIgnoreCase(ignoreCase);
        std::set<std::string> shown;
        const FolderTree& tree = layers.tree();
        for (int32_t r = 0; r < tree.childCount(kNoNode); ++r)
            for (const auto& [winner, path] : layers.winnersWithPathsUnder(tree.child(kNoNode, r)))
                shown.insert(path);
        EXPECT_EQ(shown, served);
        if (ignoreCase) {
            EXPECT_EQ(served.count("Mixed\\case.TXT"), 1u);
        }
    }
}

TEST_F(LayersTest, TheLineNamesTheLayersAndWhatAnEntryHides) {
    Layers layers(*base);
    layers.add(paths[1]);
    layers.add(paths[2]);
    EXPECT_EQ(layers.line(), "3 layers: layer0.qar + layer1.qar + layer2.qar");
    NodeId deep = kNoNode, keep = kNoNode;
    const FolderTree& tree = layers.tree();
    for (NodeId node = tree.first(); node != kNoNode; node = tree.next(node)) {
        if (tree.text(node) == "X.TXT") deep = node;
        if (tree.text(node) == "KEEP.TXT") keep = node;
    }
    ASSERT_NE(deep, kNoNode);
    EXPECT_EQ(layers.entryLine(deep), " \x97 from layer2.qar, hides layer0.qar, layer1.qar");
    EXPECT_EQ(layers.entryLine(keep), " \x97 from layer0.qar");
    EXPECT_EQ(layers.entryLine(tree.parent(deep)), "");
    // Each version's bytes are its own archive's entry.
    const std::vector<LayerEntry> versions = layers.versions(deep);
    ASSERT_EQ(versions.size(), 3u);
    const std::vector<std::string> expected{"L2#0", "L1#2", "L0#2"};
    for (size_t v = 0; v < versions.size(); ++v) {
        const ArchiveEntry e = layers.archive(versions[v].layer).entry(versions[v].index);
        std::string bytes(static_cast<size_t>(e.size), '\0');
        layers.archive(versions[v].layer).readAt(e.offset, bytes.data(), e.size);
        EXPECT_EQ(bytes, expected[v]);
    }
}

TEST_F(LayersTest, LayersTakenOffAndOnesThatCannotBeReadLeaveTheRestOfTheStack) {
    Layers layers(*base);
    layers.add(paths[1]);
    const std::string before = listed(layers);
    EXPECT_EQ(before, qarLayers(2, false));
    samples::writeFile(dir.file("short.qar"), samples::bytesOf("not an archive"));
    for (const std::string& bad : {dir.file("short.qar"), dir.file("missing.qar")}) {
        EXPECT_ANY_THROW(layers.add(bad));
        EXPECT_EQ(layers.count(), 2u);
        EXPECT_EQ(listed(layers), before);
    }
    layers.add(paths[2]);
    layers.removeTop();
    EXPECT_EQ(listed(layers), before);
    layers.removeTop();
    EXPECT_EQ(layers.count(), 1u);
    EXPECT_EQ(listed(layers), qarLayers(1, false));
}

// Editing in the layered view: steps go into the top layer's session, the view shows them at
// once, and saving writes the top layer's file alone.
TEST_F(LayersTest, EditsGoIntoTheTopLayerAndItsFileAlone) {
    Layers layers(*base);
    layers.add(paths[1]);
    layers.add(paths[2]);
    const auto nodeNamed = [&](const std::string& text) {
        const FolderTree& tree = layers.tree();
        for (NodeId node = tree.first(); node != kNoNode; node = tree.next(node))
            if (tree.text(node) == text) return node;
        return kNoNode;
    };
    const auto shown = [&](const std::string& text) {
        const MergedView::Name* name = layers.nameOf(nodeNamed(text));
        if (!name) return std::string("(none)");
        Layers::Bytes bytes = layers.open(name->winner);
        std::string out(static_cast<size_t>(bytes.size), '\0');
        out.resize(static_cast<size_t>(bytes.source->readCounted(out.data(), bytes.size)));
        return std::to_string(name->winner.layer) + ":" + out;
    };
    const std::string lower0 = testing::fileText(paths[0]), lower1 = testing::fileText(paths[1]);
    const std::string top = testing::fileText(paths[2]);

    // A lower layer's winner gets a top-layer entry over it; the top's own is replaced.
    ASSERT_EQ(shown("ROOT.TXT"), "1:L1#1");
    layers.put(nodeNamed("ROOT.TXT"), PendingData::fromBytes(samples::bytesOf("new root")));
    EXPECT_EQ(shown("ROOT.TXT"), "2:new root");
    layers.put(nodeNamed("Y.TXT"), PendingData::fromBytes(samples::bytesOf("new y")));
    EXPECT_EQ(shown("Y.TXT"), "2:new y");
    // Deleting the top's winner shows what it hid; a lower layer's winner cannot be deleted.
    layers.remove(nodeNamed("X.TXT"));
    EXPECT_EQ(shown("X.TXT"), "1:L1#2");
    EXPECT_THROW(layers.remove(nodeNamed("X.TXT")), Error);
    EXPECT_THROW(layers.remove(nodeNamed("KEEP.TXT")), Error) << "the case differs: exact match";
    // No layer over unsaved changes (they would be left behind).
    EXPECT_THROW(layers.add(paths[1]), Error);
    WriteTarget merged;
    merged.path = dir.file("merged.qar");
    EXPECT_THROW(WriteMergedArchive(layers.view(), merged), Error);
    layers.undo();
    EXPECT_EQ(shown("X.TXT"), "2:L2#0");
    layers.redo();
    ASSERT_TRUE(layers.pending());

    const EditSession::SavePlan plan = layers.top()->planSave(std::nullopt);
    EXPECT_EQ(plan.target.path, paths[2]);
    WriteEditedArchive(layers.archive(2), plan.edit, plan.target);
    layers.top()->forget();
    layers.reopenTop();
    EXPECT_FALSE(layers.pending());
    EXPECT_EQ(testing::fileText(paths[0]), lower0);
    EXPECT_EQ(testing::fileText(paths[1]), lower1);
    EXPECT_NE(testing::fileText(paths[2]), top);
    EXPECT_EQ(shown("ROOT.TXT"), "2:new root");
    EXPECT_EQ(shown("X.TXT"), "1:L1#2");
    EXPECT_EQ(listed(layers), qarLayers(3, false));
}

}  // namespace
}  // namespace vorlr
