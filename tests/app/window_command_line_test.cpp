// The window started with a file argument: the file is opened as Browse opens its dialog's
// choice, once the event loop runs, and a relative name is kept as a full path.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <filesystem>

#include "app/CommandLine.h"
#include "app/FolderTreeModel.h"
#include "app/Unit1.h"
#include "lib/QarBuilder.h"
#include "platform/RuntimeFile.h"
#include "support/Bytes.h"
#include "support/WindowTest.h"

namespace vorlr {
namespace {

using samples::bytesOf;
using samples::QarEntry;
using testing::fileText;

QarEntry entry(std::string name) { return QarEntry{std::move(name), bytesOf("x"), {}, {}, false}; }

std::vector<std::string> topRows(const TForm1& f) {
    std::vector<std::string> out;
    const QAbstractItemModel& m = *f.treeModel();
    for (int r = 0; r < m.rowCount(); ++r)
        out.push_back(m.index(r, 0).data().toString().toStdString());
    return out;
}

// What main does with the words after the program name.
void start(TForm1& f, const std::vector<std::string>& args) {
    const CommandLine c = ParseCommandLine(args);
    ASSERT_FALSE(c.exit) << c.message;
    OpenAtStart(f, c.file);
    f.show();
}

// Runs the event loop until the window has reacted; a bounded number of rounds, no clock.
template <class Done>
void runUntil(Done done) {
    for (int round = 0; round < 100 && !done(); ++round) QCoreApplication::processEvents();
}

class CommandLineFile : public testing::WindowTest {};

TEST_F(CommandLineFile, RelativeFileIsOpenedListedAndWrittenAsAFullPath) {
    std::filesystem::create_directory(dir.file("sub"));
    samples::writeQar(dir.file("sub/a.qar"), {entry("DATA\\X.TXT"), entry("ROOT.TXT")});
    samples::writeFile(dir.file("VORLR.LST"), bytesOf("/z/known.qar\r\n"));
    const std::string full = dir.file("sub/a.qar");
    {
        TForm1 f;
        start(f, {"./sub//a.qar"});
        EXPECT_EQ(f.cbFiles->count(), 1);  // not before the event loop runs
        runUntil([&] { return !f.state.CurrentArchiveName.empty() && !f.isLoading(); });
        EXPECT_TRUE(dialogs.errors.empty());
        EXPECT_TRUE(dialogs.infos.empty());
        ASSERT_EQ(f.cbFiles->count(), 2);
        EXPECT_EQ(f.cbFiles->currentIndex(), 0);
        EXPECT_EQ(f.cbFiles->itemData(0).toByteArray().toStdString(), full);
        EXPECT_EQ(f.state.CurrentArchiveName, full);
        EXPECT_EQ(topRows(f), (std::vector<std::string>{"DATA", "ROOT.TXT"}));
        EXPECT_EQ(currentDirectory(), dir.path());
    }
    EXPECT_EQ(fileText(dir.file("VORLR.LST")), full + "\r\n/z/known.qar\r\n");
}

TEST_F(CommandLineFile, RejectedOrFailingFileIsReportedAndTheWindowStaysUsable) {
    samples::writeFile(dir.file("bad.qar"), std::vector<uint8_t>(600, 0));
    samples::writeFile(dir.file("short.qar"), std::vector<uint8_t>(519, 0));
    samples::writeQar(dir.file("good.qar"), {entry("GOOD.TXT")});
    struct Case {
        const char* file;
        std::vector<std::string> infos, errors;
    };
    const Case cases[] = {
        {"bad.qar", {"Not a valid vorlund packed-file!"}, {}},
        {"short.qar", {}, {"Read beyond end of file."}},
        {"missing.qar", {}, {"File not found."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        dialogs.infos.clear();
        dialogs.errors.clear();
        samples::writeFile(dir.file("VORLR.LST"), bytesOf("/z/known.qar\r\n"));
        {
            TForm1 f;
            start(f, {c.file});
            runUntil([&] { return !dialogs.infos.empty() || !dialogs.errors.empty(); });
            EXPECT_EQ(dialogs.infos, c.infos);
            EXPECT_EQ(dialogs.errors, c.errors);
            EXPECT_EQ(f.cbFiles->count(), 1);
            EXPECT_EQ(f.state.CurrentArchiveName, "");

            dialogs.answers.push_back(dir.file("good.qar"));
            f.buBrowse->click();
            EXPECT_EQ(f.state.CurrentArchiveName, dir.file("good.qar"));
            EXPECT_EQ(topRows(f), std::vector<std::string>{"GOOD.TXT"});
        }
        EXPECT_EQ(fileText(dir.file("VORLR.LST")), dir.file("good.qar") + "\r\n/z/known.qar\r\n");
    }
}

TEST(AbsoluteFileName, RelativeNamesAreTakenAgainstTheDirectory) {
    struct Case {
        const char* name;
        const char* directory;
        const char* expected;
    };
    const Case cases[] = {
        {"a.qar", "/home/u", "/home/u/a.qar"},
        {"./sub//a.qar", "/home/u", "/home/u/sub/a.qar"},
        {"../a.qar", "/home/u", "/home/a.qar"},
        {"../../../a.qar", "/home/u", "/a.qar"},
        {"./../x/./a.qar", "/home/u", "/home/x/a.qar"},
        // Past the first real segment ".." may cross a symbolic link: left to the system.
        {"x/../a.qar", "/home/u", "/home/u/x/../a.qar"},
        {"a.qar", "/", "/a.qar"},
        {"/data//x/../a.qar", "/home/u", "/data//x/../a.qar"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AbsoluteFileName(c.name, c.directory), c.expected)
            << c.name << " in " << c.directory;
}

}  // namespace
}  // namespace vorlr
