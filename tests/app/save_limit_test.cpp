// Save archive and Save archive as... of changes that would make an archive past 2^31 - 1 bytes:
// refused through the dialog seam before anything is written, with the changes kept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/ArchiveEditor.h"
#include "app/Unit1.h"
#include "archive/ArchiveChanges.h"
#include "lib/DemoArchive.h"
#include "lib/QarBuilder.h"
#include "support/QarRun.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

namespace fs = std::filesystem;
using samples::bytesOf;
using samples::readFile;
using samples::writeFile;

class SaveLimit : public testing::WindowTest {};

TEST_F(SaveLimit, ASavePastTheSizeLimitIsRefusedAndKeepsTheChanges) {
    const std::string archive = samples::writeDemo(dir.file("demo"));
    fs::remove(dir.file("demo/VORLR.LST"));
    const auto onDisk = readFile(archive);
    auto f = std::make_unique<TForm1>();
    f->OpenArchive(archive);
    ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
    ArchiveEditor& ed = *f->editor();
    const auto node = [&] {
        const auto id = ed.changes()->find("DATA\\ITEMS.DBS");
        EXPECT_TRUE(id.has_value());
        return ed.pendingTree()->nodeOf(*id);
    };
    // A sparse file: with the demo's other entries the archive would pass 2^31 - 1 bytes.
    const std::string big = dir.file("big.dbs");
    const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, int64_t{2147483647} - 1000), 0);
    ::close(fd);
    dialogs.fileLists.push_back({big});
    ed.replaceEntry(node());
    ASSERT_TRUE(ed.pending());

    int64_t written = -1;
    ed.duringSave = [&](int64_t at, int64_t) { written = at; };
    EXPECT_FALSE(ed.saveArchive());
    const std::string saveAs = dir.file("as.qar");
    dialogs.saveNames.push_back(saveAs);
    EXPECT_FALSE(ed.saveArchiveAs());
    ed.duringSave = nullptr;
    ASSERT_EQ(dialogs.errors.size(), 2u);
    for (const std::string& e : dialogs.errors)
        EXPECT_NE(e.find("more than the limit of 2147483647 bytes"), std::string::npos) << e;
    EXPECT_EQ(written, -1);  // refused before anything was written
    EXPECT_TRUE(ed.pending());
    EXPECT_EQ(readFile(archive), onDisk);
    EXPECT_FALSE(fs::exists(saveAs));

    // The change is still there; a smaller one in its place saves.
    writeFile(dir.file("small.dbs"), bytesOf("small"));
    dialogs.fileLists.push_back({dir.file("small.dbs")});
    ed.replaceEntry(node());
    ASSERT_TRUE(ed.saveArchive()) << dialogs.errors.back();
    EXPECT_EQ(testing::runQar({"cat", archive, "DATA\\ITEMS.DBS"}).out, "small");
}

}  // namespace
}  // namespace vorlr
