// Pending edits of a loaded archive: random steps, undone and redone, keep the tree equal to the
// one loading the saved archive builds, and saving gives exactly the entries shown; what changes
// nothing is no step; refusals give their reasons; a picked file that changed is named.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveChanges.h"
#include "archive/ArchiveWriter.h"
#include "archive/Container.h"
#include "archive/DirectoryLoader.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "support/ArchiveReference.h"
#include "support/TempDir.h"

using namespace vorlr;
using samples::bytesOf;
using samples::QarEntry;
using samples::readFile;
using samples::writeFile;
using vorlr::testing::TempDir;

namespace {

struct NoEvents final : LoadObserver {};

class Changes : public ::testing::Test {
protected:
    void load(const std::vector<QarEntry>& entries) {
        path_ = dir_.file("a.qar");
        samples::writeQar(path_, entries);
        std::vector<int32_t> table;
        NoEvents events;
        tree_.clear();
        LoadDirectory(path_, DirectoryLoad{archive_, table, buffer_}, tree_, events);
        changes_ = std::make_unique<ArchiveChanges>(archive_);
        view_ = std::make_unique<PendingTree>(tree_, *changes_);
        view_->loaded();
    }
    void follow(const ArchiveChanges::Outcome& o) {
        if (o.treeFrom) view_->update(*o.treeFrom);
    }
    // The entries the saved archive will hold, in its order.
    std::vector<EntryId> shown() const {
        std::vector<EntryId> ids;
        for (EntryId id = 0; id < changes_->endId(); ++id)
            if (changes_->present(id)) ids.push_back(id);
        return ids;
    }
    std::string contentOf(EntryId id) const {
        const auto b = changes_->read(id, 1 << 20);
        return {b.begin(), b.end()};
    }
    // The tree equals a fresh load of the shown names, with EntryIds for entry indexes.
    void expectTreeOfSavedArchive() {
        const std::vector<EntryId> ids = shown();
        std::vector<std::string> names;
        for (EntryId id : ids) names.emplace_back(changes_->name(id));
        vorlr::testing::ScanTree ref = vorlr::testing::ReferenceLoad(names);
        for (auto& node : ref.nodes)
            if (node.entry >= 0) node.entry = ids[static_cast<size_t>(node.entry)];
        vorlr::testing::ExpectSameTree(tree_, ref);
        for (EntryId id : ids) ASSERT_EQ(tree_.entryIndex(view_->nodeOf(id)), id);
    }
    // Saving gives an archive of exactly the shown entries, names and bytes.
    void expectSavedArchiveShowsTheSame(const std::string& out) {
        WriteTarget t;
        t.path = out;
        WriteEditedArchive(archive_, changes_->toEdit(), t);
        Archive saved;
        saved.open(out);
        ReadDirectory(saved);
        const std::vector<EntryId> ids = shown();
        ASSERT_EQ(saved.entryCount(), ids.size());
        for (size_t k = 0; k < ids.size(); ++k) {
            EXPECT_EQ(saved.entry(k).name, changes_->name(ids[k]));
            const ArchiveEntry e = saved.entry(k);
            std::string bytes(static_cast<size_t>(e.size), '\0');
            ASSERT_EQ(saved.readAt(e.offset, bytes.data(), e.size), e.size);
            EXPECT_EQ(bytes, contentOf(ids[k])) << saved.entry(k).name;
        }
    }

    TempDir dir_;
    std::string path_;
    Archive archive_;
    WorkBufferBytes buffer_{};
    FolderTree tree_;
    std::unique_ptr<ArchiveChanges> changes_;
    std::unique_ptr<PendingTree> view_;
};

QarEntry entry(const std::string& name, const std::string& data) {
    return QarEntry{name, bytesOf(data), {}, {}, false};
}

DataRef bytes(const std::string& s) { return PendingData::fromBytes(bytesOf(s)); }

TEST_F(Changes, RandomStepsKeepTheTreeOfTheSavedArchive) {
    // Names that exercise the loader's forward search, shared folders and duplicates.
    const std::vector<std::string> pool = {"A\\X.TXT", "A\\Y.TXT", "B\\Z.TXT", "X\\Y\\F1", "Y\\Z\\F2",
                                           "D",        "D\\F",     "D\\D\\F",  "A\\B\\C.KMG", "R.WAV",
                                           "B\\A\\X.TXT", "Y\\Q"};
    std::mt19937 rng(7);
    for (int round = 0; round < 12; ++round) {
        std::vector<QarEntry> entries;
        const int n = 3 + static_cast<int>(rng() % 10);
        for (int i = 0; i < n; ++i) entries.push_back(entry(pool[rng() % pool.size()], "e" + std::to_string(i)));
        load(entries);
        for (int step = 0; step < 40; ++step) {
            const std::vector<EntryId> ids = shown();
            const EntryId some = ids[rng() % ids.size()];
            ArchiveChanges::Outcome o;
            switch (rng() % 6) {
            case 0: o = changes_->replace(some, bytes("r" + std::to_string(step)), "Replace"); break;
            case 1: {
                std::string name = pool[rng() % pool.size()] + std::to_string(step);
                o = changes_->add({{name, bytes("a")}, {name + "B", bytes("ab")}}, {}, "Add");
                break;
            }
            case 2:
                if (ids.size() > 2) o = changes_->remove({some, ids[rng() % ids.size()]}, "Delete");
                break;
            case 3: {
                const std::string name = pool[rng() % pool.size()] + "." + std::to_string(step);
                o = changes_->rename(some, name, "Rename");
                break;
            }
            case 4: o = changes_->undo(); break;
            case 5: o = changes_->redo(); break;
            }
            follow(o);
            ASSERT_NO_FATAL_FAILURE(expectTreeOfSavedArchive()) << "round " << round << " step " << step;
        }
        expectSavedArchiveShowsTheSame(dir_.file("out.qar"));
        // Everything undone: the loaded archive again, and nothing to write.
        while (changes_->canUndo()) follow(changes_->undo());
        EXPECT_EQ(changes_->changeCount(), 0u);
        EXPECT_TRUE(changes_->toEdit().empty());
        ASSERT_NO_FATAL_FAILURE(expectTreeOfSavedArchive());
    }
}

TEST_F(Changes, WhatChangesNothingIsNoStep) {
    load({entry("DATA\\A.TXT", "alpha"), entry("DATA\\B.TXT", "beta")});
    const std::string same = dir_.file("same.txt");
    writeFile(same, bytesOf("alpha"));
    EXPECT_FALSE(changes_->replace(0, bytes("alpha"), "Replace").made);
    EXPECT_FALSE(changes_->replace(0, PendingData::fromFile(same), "Replace").made);
    EXPECT_FALSE(changes_->rename(1, "DATA\\B.TXT", "Rename").made);
    EXPECT_FALSE(changes_->remove({}, "Delete").made);
    EXPECT_FALSE(changes_->canUndo());

    // Replaced, then given its own bytes back: a step, and the entry unchanged again.
    ASSERT_TRUE(changes_->replace(0, bytes("new"), "Replace").made);
    EXPECT_EQ(changes_->changeCount(), 1u);
    EXPECT_TRUE(changes_->marked(0));
    EXPECT_FALSE(changes_->replace(0, bytes("new"), "Replace").made);
    ASSERT_TRUE(changes_->replace(0, PendingData::fromFile(same), "Replace").made);
    EXPECT_EQ(changes_->changeCount(), 0u);
    EXPECT_FALSE(changes_->marked(0));
    EXPECT_TRUE(changes_->toEdit().empty());
    // Renamed and back.
    ASSERT_TRUE(changes_->rename(1, "C.TXT", "Rename").made);
    ASSERT_TRUE(changes_->rename(1, "DATA\\B.TXT", "Rename").made);
    EXPECT_EQ(changes_->changeCount(), 0u);
    // Undo and redo walk the same states; the labels name the steps.
    EXPECT_EQ(changes_->undoLabel(), "Rename");
    follow(changes_->undo());
    EXPECT_EQ(changes_->name(1), "C.TXT");
    EXPECT_EQ(changes_->changeCount(), 1u);
    EXPECT_EQ(changes_->redoLabel(), "Rename");
    follow(changes_->redo());
    EXPECT_EQ(changes_->name(1), "DATA\\B.TXT");
    // Twenty files in one step, undone in one.
    std::vector<std::pair<std::string, DataRef>> files;
    for (int i = 0; i < 20; ++i) files.emplace_back("NEW\\F" + std::to_string(i), bytes("f"));
    follow(changes_->add(files, {}, "Add 20 files"));
    EXPECT_EQ(changes_->changeCount(), 20u);
    follow(changes_->undo());
    EXPECT_EQ(changes_->changeCount(), 0u);
    EXPECT_EQ(changes_->presentCount(), 2u);
    changes_->discard();
    EXPECT_FALSE(changes_->canUndo());
    EXPECT_FALSE(changes_->canRedo());
}

TEST_F(Changes, RefusalsGiveTheirReasons) {
    load({entry("A.TXT", "a"), entry("B\\C.TXT", "c")});
    const struct {
        std::string name, reason;
    } refused[] = {
        {"", "empty name"},
        {std::string(200, 'N'), "200 bytes or more"},
        {"B\\..\\X", "\"..\" segment"},
        {"B\\\\X", "empty segment"},
        {"\\X", "absolute"},
        {"C:X", "drive letter"},
        {"B\\C.TXT", "exists already"},
    };
    for (const auto& r : refused) {
        try {
            changes_->rename(0, r.name, "Rename");
            ADD_FAILURE() << r.name;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(r.reason), std::string::npos) << e.what();
        }
        EXPECT_THROW(changes_->add({{r.name, bytes("x")}}, {}, "Add"), Error) << r.name;
    }
    EXPECT_EQ(changes_->nameProblem(std::string(199, 'N'), std::nullopt), "");
    // A name one of the same step takes.
    EXPECT_THROW(changes_->add({{"N", bytes("1")}, {"N", bytes("2")}}, {}, "Add"), Error);
    // The last entry stays.
    EXPECT_THROW(changes_->remove({0, 1}, "Delete"), Error);
    follow(changes_->remove({0}, "Delete"));
    EXPECT_THROW(changes_->remove({1}, "Delete"), Error);
    // A deleted entry's name is free again.
    EXPECT_TRUE(changes_->rename(1, "A.TXT", "Rename").made);
    EXPECT_FALSE(changes_->canRedo());
    EXPECT_EQ(changes_->changeCount(), 2u);
}

TEST_F(Changes, PickedFilesThatChangedAreNamedAndNothingIsWritten) {
    load({entry("A.TXT", "a"), entry("B.TXT", "b")});
    const std::string picked = dir_.file("picked.txt"), gone = dir_.file("gone.txt");
    writeFile(picked, bytesOf("new"));
    writeFile(gone, bytesOf("gone"));
    follow(changes_->replace(0, PendingData::fromFile(picked), "Replace"));
    follow(changes_->add({{"C.TXT", PendingData::fromFile(gone)}}, {}, "Add"));
    EXPECT_EQ(contentOf(0), "new");
    expectSavedArchiveShowsTheSame(dir_.file("ok.qar"));

    writeFile(picked, bytesOf("NEW"));  // same size, written again
    struct stat st{};
    ASSERT_EQ(::stat(picked.c_str(), &st), 0);
    const struct timespec later[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec + 2, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, picked.c_str(), later, 0), 0);
    std::filesystem::remove(gone);
    try {
        (void)changes_->toEdit();
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(picked + " changed since it was picked"), std::string::npos) << text;
        EXPECT_NE(text.find(gone + ": File not found"), std::string::npos) << text;
    }
}

}  // namespace
