// The edit session without a window: its announcements come in order and only when something
// changed, readers taken for other threads keep the bytes they were taken with, additions are
// plans whose conflicts the caller answers, and a save is refused while the file on disk is not
// the one loaded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/DirectoryLoader.h"
#include "archive/SafeExtract.h"
#include "edit/EditSession.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

using namespace vorlr;
using samples::bytesOf;
using vorlr::testing::TempDir;

namespace {

struct NoEvents final : LoadObserver {};

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("a.qar");
        samples::writeQar(path, {{"DATA\\A.TXT", bytesOf("alpha"), {}, {}, false},
                                 {"DATA\\B.TXT", bytesOf("beta"), {}, {}, false}});
        NoEvents events;
        LoadDirectory(path, DirectoryLoad{archive, table, buffer}, tree, events);
        ASSERT_TRUE(session.open(archive, table.size(), tree));
        session.onTreeRebuilding([this] { heard.push_back("rebuilding"); });
        session.onStep([this](const EditSession::Outcome& o) {
            if (o.treeFrom) session.tree()->update(*o.treeFrom);
            heard.push_back(o.made ? "step" : "no step");
        });
        session.onEnd([this] { heard.push_back("end"); });
    }
    std::string read(const EditSession::EntryBytesFor& bytes, EntryId id) {
        EditSession::EntryBytes b = bytes(id);
        std::string s(static_cast<size_t>(b.held), '\0');
        b.source->readExact(s.data(), b.held);
        return s;
    }
    DataRef data(const std::string& s) { return PendingData::fromBytes(bytesOf(s)); }

    TempDir dir;
    std::string path;
    Archive archive;
    std::vector<int32_t> table;
    WorkBufferBytes buffer{};
    FolderTree tree;
    EditSession session;
    std::vector<std::string> heard;
};

TEST_F(Session, AnnouncesEachStepInOrder) {
    session.replace(0, data("ALPHA"), "Replace A");
    session.replace(0, data("ALPHA"), "Replace A");  // the same bytes: no step
    session.rename(1, "DATA\\C.TXT", "Rename B");    // names change: the tree is built again
    session.undo();
    session.discard();
    EXPECT_EQ(heard, (std::vector<std::string>{"step", "no step", "rebuilding", "step", "rebuilding",
                                               "step", "step", "end"}));
    EXPECT_FALSE(session.pending());
}

TEST_F(Session, ReadersKeepTheBytesTheyWereTakenWith) {
    session.replace(0, data("first"), "Replace A");
    const EditSession::EntryBytesFor before = session.bytesAsTheyStand({0, 1});
    session.replace(0, data("second"), "Replace A");
    session.replace(1, data("other"), "Replace B");
    EXPECT_EQ(read(before, 0), "first");
    EXPECT_EQ(read(before, 1), "beta");  // the archive's own
    EXPECT_EQ(read(session.bytesAsTheyStand({0}), 0), "second");
    EXPECT_THROW(before(7), Error);
}

TEST_F(Session, AddingIsAPlanWhoseConflictsTheCallerAnswers) {
    const std::string z = dir.file("z"), a = dir.file("a");
    samples::writeFile(z, bytesOf("zed"));
    samples::writeFile(a, bytesOf("new alpha"));
    const EditSession::AddPlan plan =
        session.planAdd({{"DATA\\Z.TXT", z}, {"DATA\\A.TXT", a}}, "Add 2 files");
    ASSERT_EQ(plan.files.size(), 2u);
    EXPECT_EQ(plan.files[0].name, "DATA\\A.TXT");  // byte order of the names
    EXPECT_EQ(plan.files[0].existing, std::optional<EntryId>(0));
    EXPECT_FALSE(plan.files[1].existing);
    session.add(plan, {false});  // skip the one that exists
    EXPECT_EQ(read(session.bytesAsTheyStand({0}), 0), "alpha");
    EXPECT_EQ(session.changes()->presentCount(), 3u);
    EXPECT_THROW(session.planAdd({{"..\\X.TXT", z}}, "Add"), Error);
}

TEST_F(Session, ASaveIsRefusedWhileTheFileOnDiskIsNotTheOneLoaded) {
    session.replace(0, data("ALPHA"), "Replace A");
    EXPECT_EQ(session.planSave(std::nullopt).target.path, path);
    EXPECT_TRUE(session.planSave(path).target.inPlace);  // its own name: in place
    EXPECT_FALSE(session.planSave(dir.file("b.qar")).target.inPlace);

    // Another file under the archive's name: in place is refused, elsewhere still written.
    const std::string aside = dir.file("aside.qar");
    std::filesystem::rename(path, aside);
    std::filesystem::copy_file(aside, path);
    EXPECT_THROW(session.planSave(std::nullopt), Error);
    EXPECT_NO_THROW(session.planSave(dir.file("b.qar")));

    // The loaded file itself changed: refused everywhere, the changes kept.
    samples::writeFile(aside, bytesOf("changed"));
    EXPECT_THROW(session.planSave(dir.file("b.qar")), Error);
    EXPECT_TRUE(session.pending());
}

// Entries as they stand written the way extraction writes them (a drag out): the pending bytes,
// and a stop in the middle of a copy keeps no part of that file.
TEST_F(Session, EntriesAsTheyStandAreExtractedAndAStopMidCopyKeepsNothing) {
    session.replace(1, data(std::string(100000, 'b')), "Replace B");
    ExtractSource source;
    source.count = static_cast<size_t>(session.changes()->endId());
    source.name = [&](size_t e) { return session.entryName(static_cast<EntryId>(e)); };
    source.size = [&](size_t e) { return static_cast<int32_t>(session.entrySize(static_cast<EntryId>(e))); };
    source.open = [&](size_t e) { return session.openEntry(static_cast<EntryId>(e)); };
    ExtractOptions options;
    options.source = &source;
    const std::string out = dir.file("out");
    ExtractEntries(archive, {0, 1}, out, options);
    EXPECT_EQ(samples::readFile(out + "/DATA/A.TXT"), bytesOf("alpha"));
    EXPECT_EQ(samples::readFile(out + "/DATA/B.TXT").size(), 100000u);

    const std::string stopped = dir.file("stopped");
    int blocks = 0;
    options.whileCopying = [&] { return ++blocks < 3; };  // B copies in 16 KiB blocks
    const ExtractSummary summary = ExtractEntries(archive, {0, 1}, stopped, options);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_TRUE(std::filesystem::exists(stopped + "/DATA/A.TXT"));
    EXPECT_FALSE(std::filesystem::exists(stopped + "/DATA/B.TXT"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(stopped + "/DATA"),
                            std::filesystem::directory_iterator()), 1);  // no temporary left
}

}  // namespace
