// Working copies watched for saves as editors make them: in place, in pieces with pauses, a new
// file renamed over the old one, deleted and written anew; one notice per change, none for the
// same content, several files at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/Errors.h"
#include "platform/desktop/WorkingCopyWatcher.h"
#include "support/CoreApp.h"
#include "support/TempDir.h"

using namespace vorlr;
using vorlr::testing::TempDir;

namespace {

constexpr int kSettle = 200;
constexpr int kWait = 10000;  // for a notice that must come

void writeInPlace(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// As editors that keep the old file until the new one is complete save.
void replaceByRename(const std::string& path, const std::string& bytes) {
    const std::string temp = path + ".new~";
    writeInPlace(temp, bytes);
    ASSERT_EQ(::rename(temp.c_str(), path.c_str()), 0);
}

class WorkingCopyWatcherTest : public ::testing::Test {
protected:
    WorkingCopyWatcherTest() { vorlr::testing::coreApp("working_copy_test"); }

    std::string copy(const std::string& name, const std::string& bytes) {
        const std::string path = dir.file(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        writeInPlace(path, bytes);
        return path;
    }
    static QString q(const std::string& s) { return QString::fromStdString(s); }
    static QString pathOf(const QSignalSpy& spy, int i) { return spy.at(i).at(0).toString(); }
    static QByteArray contentOf(const QSignalSpy& spy, int i) {
        return spy.at(i).at(1).toByteArray();
    }

    TempDir dir;
};

TEST_F(WorkingCopyWatcherTest, WriteInPlaceGivesOneNoticeWithTheNewContent) {
    const std::string path = copy("TEXT.TXT", "old");
    WorkingCopyWatcher watcher(kSettle);
    QSignalSpy changed(&watcher, &WorkingCopyWatcher::changed);
    watcher.watch(q(path));
    writeInPlace(path, "new text");
    ASSERT_TRUE(changed.wait(kWait));
    QTest::qWait(3 * kSettle);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(pathOf(changed, 0), q(path));
    EXPECT_EQ(contentOf(changed, 0), "new text");
}

TEST_F(WorkingCopyWatcherTest, WritesInPiecesWithShortPausesGiveOneNoticeWithTheWhole) {
    const std::string path = copy("PIC.png", "old");
    WorkingCopyWatcher watcher(300);
    QSignalSpy changed(&watcher, &WorkingCopyWatcher::changed);
    watcher.watch(q(path));
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    for (const char* piece : {"piece one;", "piece two;", "piece three"}) {
        ASSERT_GT(::write(fd, piece, std::char_traits<char>::length(piece)), 0);
        QTest::qWait(100);
    }
    ::close(fd);
    ASSERT_TRUE(changed.wait(kWait));
    QTest::qWait(3 * 300);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(contentOf(changed, 0), "piece one;piece two;piece three");
}

TEST_F(WorkingCopyWatcherTest, RenamedOverAndRecreatedFilesStayWatched) {
    const std::string path = copy("a/SKY.png", "v0");
    WorkingCopyWatcher watcher(kSettle);
    QSignalSpy changed(&watcher, &WorkingCopyWatcher::changed);
    watcher.watch(q(path));
    // Each save leaves another inode under the name; the next one must still be seen.
    replaceByRename(path, "v1");
    ASSERT_TRUE(changed.wait(kWait));
    replaceByRename(path, "v2");
    ASSERT_TRUE(changed.wait(kWait));
    ASSERT_EQ(::unlink(path.c_str()), 0);
    writeInPlace(path, "v3");
    ASSERT_TRUE(changed.wait(kWait));
    writeInPlace(path, "v4");
    ASSERT_TRUE(changed.wait(kWait));
    QTest::qWait(3 * kSettle);
    ASSERT_EQ(changed.count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(contentOf(changed, i), "v" + QByteArray::number(i + 1));
}

TEST_F(WorkingCopyWatcherTest, FilesInSeveralFoldersChangedAtOnceGiveANoticeEach) {
    const std::string a = copy("one/A.TXT", "a0");
    const std::string b = copy("two/B.TXT", "b0");
    const std::string neighbour = copy("one/OTHER.TXT", "n0");
    WorkingCopyWatcher watcher(kSettle);
    QSignalSpy changed(&watcher, &WorkingCopyWatcher::changed);
    watcher.watch(q(a));
    watcher.watch(q(b));
    writeInPlace(neighbour, "not watched");
    writeInPlace(a, "a1");
    replaceByRename(b, "b1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return changed.count() >= 2; }, kWait));
    QTest::qWait(3 * kSettle);
    ASSERT_EQ(changed.count(), 2);
    QMap<QString, QByteArray> got;
    for (int i = 0; i < 2; ++i) got[pathOf(changed, i)] = contentOf(changed, i);
    EXPECT_EQ(got.value(q(a)), "a1");
    EXPECT_EQ(got.value(q(b)), "b1");

    // Unwatched, a file gives no more notices; the other one still does.
    watcher.unwatch(q(a));
    EXPECT_FALSE(watcher.isWatching(q(a)));
    EXPECT_EQ(watcher.watchedFiles(), QStringList{q(b)});
    writeInPlace(a, "a2");
    writeInPlace(b, "b2");
    ASSERT_TRUE(changed.wait(kWait));
    QTest::qWait(3 * kSettle);
    ASSERT_EQ(changed.count(), 3);
    EXPECT_EQ(pathOf(changed, 2), q(b));
}

// A save of the same content, in place or by a rename, is no change: the first notice after it
// is the one for the content that did change.
TEST_F(WorkingCopyWatcherTest, TheSameContentSavedAgainIsNoChange) {
    for (const bool byRename : {false, true}) {
        SCOPED_TRACE(byRename ? "renamed over" : "in place");
        const std::string path = copy(byRename ? "R.TXT" : "P.TXT", "same");
        WorkingCopyWatcher watcher(kSettle);
        QSignalSpy changed(&watcher, &WorkingCopyWatcher::changed);
        watcher.watch(q(path));
        byRename ? replaceByRename(path, "same") : writeInPlace(path, "same");
        QTest::qWait(3 * kSettle);
        EXPECT_EQ(changed.count(), 0);
        byRename ? replaceByRename(path, "other") : writeInPlace(path, "other");
        ASSERT_TRUE(changed.wait(kWait));
        EXPECT_EQ(contentOf(changed, 0), "other");
        // Back to what it was before is a change again.
        byRename ? replaceByRename(path, "same") : writeInPlace(path, "same");
        ASSERT_TRUE(changed.wait(kWait));
        EXPECT_EQ(contentOf(changed, 1), "same");
    }
}

TEST_F(WorkingCopyWatcherTest, ADeletedFileIsGoneOnceAndWatchedForItsReturn) {
    const std::string path = copy("GONE.TXT", "here");
    WorkingCopyWatcher watcher(kSettle);
    QSignalSpy changed(&watcher, &WorkingCopyWatcher::changed);
    QSignalSpy gone(&watcher, &WorkingCopyWatcher::gone);
    QSignalSpy failed(&watcher, &WorkingCopyWatcher::failed);
    watcher.watch(q(path));
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_TRUE(gone.wait(kWait));
    EXPECT_EQ(gone.at(0).at(0).toString(), q(path));
    QTest::qWait(3 * kSettle);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(gone.count(), 1);
    EXPECT_EQ(failed.count(), 0);
    // Back with the content it had: nothing; with other content: a change.
    writeInPlace(path, "here");
    QTest::qWait(3 * kSettle);
    EXPECT_EQ(changed.count(), 0);
    writeInPlace(path, "back");
    ASSERT_TRUE(changed.wait(kWait));
    EXPECT_EQ(contentOf(changed, 0), "back");
}

TEST_F(WorkingCopyWatcherTest, AFileThatIsNotThereYetOrWhoseFolderGoesIsHandled) {
    const std::string later = dir.file("LATER.TXT");
    const std::string inside = copy("sub/IN.TXT", "in");
    WorkingCopyWatcher watcher(kSettle);
    QSignalSpy changed(&watcher, &WorkingCopyWatcher::changed);
    QSignalSpy gone(&watcher, &WorkingCopyWatcher::gone);
    watcher.watch(q(later));
    watcher.watch(q(inside));
    writeInPlace(later, "first content");
    ASSERT_TRUE(changed.wait(kWait));
    EXPECT_EQ(pathOf(changed, 0), q(later));
    std::filesystem::remove_all(dir.file("sub"));
    ASSERT_TRUE(gone.wait(kWait));
    EXPECT_EQ(gone.at(0).at(0).toString(), q(inside));
    watcher.unwatch(q(inside));  // after its folder's watch went by itself
    EXPECT_THROW(watcher.watch(q(dir.file("no-such-folder/X.TXT"))), FileError);
}

TEST_F(WorkingCopyWatcherTest, AFileOverTheLimitIsRefusedNotRead) {
    const std::string path = copy("BIG.BIN", "small");
    WorkingCopyWatcher watcher(kSettle, 16);
    QSignalSpy changed(&watcher, &WorkingCopyWatcher::changed);
    QSignalSpy failed(&watcher, &WorkingCopyWatcher::failed);
    watcher.watch(q(path));
    writeInPlace(path, std::string(17, 'x'));
    ASSERT_TRUE(failed.wait(kWait));
    EXPECT_EQ(failed.at(0).at(0).toString(), q(path));
    const QString text = failed.at(0).at(1).toString();
    EXPECT_TRUE(text.contains("larger than 16 bytes")) << text.toStdString();
    EXPECT_EQ(changed.count(), 0);
    writeInPlace(path, std::string(16, 'y'));
    ASSERT_TRUE(changed.wait(kWait));
    EXPECT_EQ(contentOf(changed, 0), QByteArray(16, 'y'));
}

}  // namespace
