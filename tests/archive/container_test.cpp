// The archive container: the validation rule, the figures, opening for loading, the entry
// location, record names, the whole directory and the list of structural problems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>

#include "archive/Container.h"
#include "archive/DirectoryLoader.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "platform/LittleEndian.h"
#include "support/Entries.h"
#include "support/TempDir.h"

using namespace vorlr;
using samples::buildQar;
using samples::bytesOf;
using samples::QarEntry;
using samples::QarOptions;
using vorlr::testing::TempDir;
using vorlr::testing::entry;

namespace {

// 512 bytes, then the two counts, then `extra` bytes: `total` bytes in all.
std::vector<uint8_t> countsFile(int32_t first, int32_t second, size_t total) {
    std::vector<uint8_t> v(std::max<size_t>(total, 520), 0xAB);
    for (int i = 0; i < 4; ++i) {
        v[512 + i] = static_cast<uint8_t>(static_cast<uint32_t>(first) >> (8 * i));
        v[516 + i] = static_cast<uint8_t>(static_cast<uint32_t>(second) >> (8 * i));
    }
    v.resize(total);
    return v;
}

std::string fileErrorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const FileError& e) {
        return e.what();
    } catch (const Error& e) {
        return std::string("Error: ") + e.what();
    }
    return "(none)";
}

// A directory load into a fresh archive, table and buffer; records whether it started.
struct Load : LoadObserver {
    Archive archive;
    std::vector<int32_t> table;
    WorkBufferBytes buffer{};
    FolderTree tree;
    bool started = false;
    void loadingStarted(int32_t) override { started = true; }
    std::string run(const std::string& path) {
        tree.clear();
        return fileErrorText([&] { LoadDirectory(path, DirectoryLoad{archive, table, buffer}, tree, *this); });
    }
};

}  // namespace

TEST(Validation, CountsMustBeEqualPositiveAndFitTheFile) {
    EXPECT_TRUE(CountsAreValid(2, 2, 560));
    EXPECT_FALSE(CountsAreValid(2, 2, 559));
    EXPECT_TRUE(CountsAreValid(1, 1, 520));  // 280 < 520: every file holding the counts
    EXPECT_FALSE(CountsAreValid(2, 3, 100000));
    EXPECT_FALSE(CountsAreValid(3, 2, 100000));
    EXPECT_FALSE(CountsAreValid(0, 0, 100000));
    EXPECT_FALSE(CountsAreValid(-1, -1, 100000));
    EXPECT_FALSE(CountsAreValid(INT32_MIN, INT32_MIN, 100000));
}

TEST(Validation, TheProductWrapsAsA32BitSignedNumber) {
    // 7669584 * 280 = 2147483520 still fits; one more wraps to a negative product, which every
    // file size passes.
    EXPECT_FALSE(CountsAreValid(7669584, 7669584, 600));
    EXPECT_TRUE(CountsAreValid(7669585, 7669585, 600));
    // 15339168 * 280 = 4294967040 wraps to -256.
    EXPECT_TRUE(CountsAreValid(15339168, 15339168, 520));
    // 15339170 * 280 = 4294967600 wraps to 304: a 520-byte file passes, a smaller product test
    // than the true size would suggest.
    EXPECT_TRUE(CountsAreValid(15339170, 15339170, 520));
    EXPECT_FALSE(CountsAreValid(15339170, 15339170, 303));
    EXPECT_TRUE(CountsAreValid(INT32_MAX, INT32_MAX, 520));  // product wraps to -280
}

TEST(Figures, ReadFromMemoryWithTheDirectoryOffsetIn64Bits) {
    auto bytes = countsFile(2, 2, 560);
    MemoryByteSource src(bytes);
    ArchiveFigures f = ReadArchiveFigures(src);
    EXPECT_EQ(f.firstCount, 2);
    EXPECT_EQ(f.secondCount, 2);
    EXPECT_EQ(f.fileSize, 560);
    EXPECT_EQ(f.directoryOffset, 0);
    EXPECT_TRUE(f.valid);

    bytes = countsFile(INT32_MAX, 5, 600);
    MemoryByteSource big(bytes);
    f = ReadArchiveFigures(big);
    EXPECT_EQ(f.directoryOffset, 600 - int64_t{INT32_MAX} * 280);
    EXPECT_FALSE(f.valid);

    bytes = countsFile(-3, -3, 600);
    MemoryByteSource negative(bytes);
    EXPECT_EQ(ReadArchiveFigures(negative).directoryOffset, 600 + 3 * 280);
}

TEST(Figures, FilesTooShortForBothCountsFailWithTheEndOfFileError) {
    for (size_t size : {0, 100, 512, 515, 516, 519}) {
        auto bytes = countsFile(1, 1, size);
        MemoryByteSource src(bytes);
        EXPECT_EQ(fileErrorText([&] { ReadArchiveFigures(src); }), "Read beyond end of file")
            << size;
    }
}

TEST(Validation, OnFilesIgnoresTheHeaderAndClosesTheFile) {
    TempDir dir;
    QarOptions withHeader;
    withHeader.header = std::vector<uint8_t>(512, 0xFF);
    samples::writeQar(dir.file("a.qar"), {entry("A.TXT", "hello")}, withHeader);
    EXPECT_TRUE(ValidateArchive(dir.file("a.qar")));

    samples::writeFile(dir.file("b.qar"), countsFile(2, 2, 559));
    EXPECT_FALSE(ValidateArchive(dir.file("b.qar")));
    samples::writeFile(dir.file("c.qar"), countsFile(2, 2, 560));
    EXPECT_TRUE(ValidateArchive(dir.file("c.qar")));
    samples::writeFile(dir.file("d.qar"), countsFile(4, 5, 5000));
    EXPECT_FALSE(ValidateArchive(dir.file("d.qar")));

    samples::writeFile(dir.file("short.qar"), countsFile(1, 1, 519));
    EXPECT_EQ(fileErrorText([&] { ValidateArchive(dir.file("short.qar")); }),
              "Read beyond end of file");
    EXPECT_EQ(fileErrorText([&] { ValidateArchive(dir.file("missing.qar")); }), "File not found");
}

TEST(Validation, AReadOnlyArchiveIsAcceptedAndLoads) {
    TempDir dir;
    const std::string path = dir.file("ro.qar");
    samples::writeQar(path, {entry("A\\B.TXT", "data")});
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    EXPECT_TRUE(ValidateArchive(path));
    Load load;
    EXPECT_EQ(load.run(path), "(none)");
    ASSERT_EQ(load.archive.entryCount(), 1u);
    EXPECT_EQ(load.archive.entry(0).name, "A\\B.TXT");
    // Opened for reading only.
    EXPECT_EQ(::fcntl(load.archive.fd(), F_GETFL) & O_ACCMODE, O_RDONLY);
    ::chmod(dir.path().c_str(), 0755);
}

TEST(Loading, RecordsAreReadFromTheDirectoryStart) {
    TempDir dir;
    const std::string path = dir.file("a.qar");
    samples::writeQar(path, {entry("A", "12345"), entry("B", "678")});
    Load load;
    EXPECT_EQ(load.run(path), "(none)");
    EXPECT_EQ(load.table, (std::vector<int32_t>{528 + 256, 528 + 280 + 256}));
    ASSERT_EQ(load.archive.entryCount(), 2u);
    EXPECT_EQ(load.archive.entry(1).offset, 525);
    EXPECT_EQ(load.archive.entry(1).size, 3);
    EXPECT_EQ(load.archive.size(), 520 + 8 + 560);
}

TEST(Loading, TheSecondCountIsNotReadAgain) {
    TempDir dir;
    const std::string path = dir.file("a.qar");
    QarOptions o;
    o.secondCount = 77;
    samples::writeQar(path, {entry("A", "1")}, o);
    Load load;
    EXPECT_EQ(load.run(path), "(none)");
    EXPECT_EQ(load.archive.entryCount(), 1u);
}

TEST(Loading, BadCountsFailBeforeTheLoadStarts) {
    TempDir dir;
    const std::string path = dir.file("big.qar");
    for (int32_t count : {3, 1000000, 7669585, INT32_MAX}) {
        samples::writeFile(path, countsFile(count, count, 800));
        Load load;
        EXPECT_EQ(load.run(path), "I/O error 131") << count;
        EXPECT_FALSE(load.started) << count;
        EXPECT_TRUE(load.archive.isOpen()) << count;
    }
    // A negative count puts the directory start after the end: the seek itself succeeds, the
    // table cannot take the count.
    samples::writeFile(path, countsFile(-2, -2, 800));
    Load load;
    EXPECT_EQ(load.run(path), "Error: Range check error");
    EXPECT_FALSE(load.started);
    EXPECT_TRUE(load.table.empty());
}

TEST(Loading, OpenFailuresCarryTheRuntimeTexts) {
    TempDir dir;
    Load load;
    EXPECT_EQ(load.run(dir.file("none.qar")), "File not found");
    EXPECT_FALSE(load.archive.isOpen());
    EXPECT_EQ(load.run(dir.path()), "File access denied");
    samples::writeFile(dir.file("s.qar"), countsFile(1, 1, 515));
    EXPECT_EQ(load.run(dir.file("s.qar")), "Read beyond end of file");
}

TEST(EntryLocation, AReaderStartsAtTheDataAndANegativeOffsetIsASeekError) {
    TempDir dir;
    const std::string path = dir.file("a.qar");
    QarEntry bad = entry("C", "x");
    bad.offsetOverride = -5;
    bad.sizeOverride = -1;
    samples::writeQar(path, {entry("A", "12345"), entry("B", "678"), bad});
    Archive archive;
    archive.open(path);
    ReadDirectory(archive);
    ArchiveReader b = archive.entryReader(1);
    EXPECT_EQ(b.position(), 525);
    char bytes[4] = {};
    EXPECT_EQ(b.readCounted(bytes, 4), 4);
    EXPECT_EQ(std::string(bytes, 4), "678x");  // reads run on past the recorded size
    EXPECT_EQ(archive.entry(2).offset, -5);
    EXPECT_EQ(archive.entry(2).size, -1);
    EXPECT_EQ(fileErrorText([&] { archive.entryReader(2); }), "I/O error 131");
}

TEST(Records, NamesEndAtTheFirstZeroWithinTheFirst200Bytes) {
    uint8_t record[280];
    std::memset(record, 'A', sizeof record);
    EXPECT_EQ(RecordName(record), "");
    EXPECT_FALSE(RecordNameTerminated(record));
    record[200] = 0;  // beyond the part that is read
    EXPECT_EQ(RecordName(record), "");
    record[199] = 0;
    EXPECT_EQ(RecordName(record), std::string(199, 'A'));
    EXPECT_TRUE(RecordNameTerminated(record));
    record[0] = 0;
    EXPECT_EQ(RecordName(record), "");
    EXPECT_TRUE(RecordNameTerminated(record));
    const uint8_t raw[200] = {'D', 0xE9, '\\', 'x', 0};
    EXPECT_EQ(RecordName(raw), "D\xE9\\x");
}

TEST(Records, LittleEndianNumbers) {
    const uint8_t a[4] = {0x78, 0x56, 0x34, 0x12};
    const uint8_t b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t c[4] = {0x00, 0x00, 0x00, 0x80};
    EXPECT_EQ(leI32(a), 0x12345678);
    EXPECT_EQ(leI32(b), -1);
    EXPECT_EQ(leI32(c), INT32_MIN);
    EXPECT_EQ(leU32(b), 0xFFFFFFFFu);
    EXPECT_EQ(leI16(b), -1);
    EXPECT_EQ(leU16(a), 0x5678);
}

TEST(Directory, AllRecordsInOrder) {
    std::vector<QarEntry> entries;
    for (int i = 0; i < 5000; ++i)
        entries.push_back(entry("D" + std::to_string(i % 7) + "\\F" + std::to_string(i),
                                std::string(i % 3, 'x')));
    QarEntry odd = entry("NOZERO");
    odd.noZeroByte = true;
    odd.offsetOverride = -7;
    odd.sizeOverride = INT32_MIN;
    entries.push_back(odd);
    TempDir dir;
    samples::writeQar(dir.file("a.qar"), entries);
    Archive archive;
    archive.open(dir.file("a.qar"));
    EXPECT_EQ(ReadDirectory(archive).firstCount, 5001);
    ASSERT_EQ(archive.entryCount(), entries.size());
    int32_t offset = 520;
    for (size_t i = 0; i < 5000; ++i) {
        const ArchiveEntry r = archive.entry(i);
        EXPECT_EQ(r.name, entries[i].name);
        EXPECT_TRUE(r.terminated);
        EXPECT_EQ(r.offset, offset);
        EXPECT_EQ(r.size, static_cast<int32_t>(i % 3));
        offset += static_cast<int32_t>(i % 3);
    }
    const ArchiveEntry last = archive.entry(5000);
    EXPECT_EQ(last.name, "");
    EXPECT_FALSE(last.terminated);
    EXPECT_EQ(last.offset, -7);
    EXPECT_EQ(last.size, INT32_MIN);
    // Read again, the entries are replaced, not added to.
    ReadDirectory(archive);
    EXPECT_EQ(archive.entryCount(), entries.size());
}

TEST(Directory, RefusedWhenTheCountOrTheDirectoryIsUnusable) {
    TempDir dir;
    for (auto [count, size] : {std::pair{0, 600}, {-4, 600}, {3, 600}}) {
        samples::writeFile(dir.file("a.qar"), countsFile(count, count, size));
        Archive archive;
        archive.open(dir.file("a.qar"));
        EXPECT_THROW(ReadDirectory(archive), Error) << count;
    }
}

TEST(Problems, NoneInAGoodArchive) {
    const auto bytes = buildQar({entry("A\\B.TXT", "abc"), entry("C", ""), entry("D", "x")});
    MemoryByteSource src(bytes);
    EXPECT_TRUE(ArchiveProblems(src).empty());
}

TEST(Problems, EveryKindIsReported) {
    QarEntry before = entry("BEFORE", "x");
    before.offsetOverride = 519;
    QarEntry past = entry("PAST", "yy");
    past.sizeOverride = 3;  // one byte into the directory
    QarEntry negative = entry("NEG", "");
    negative.sizeOverride = -1;
    QarEntry nameless = entry("NOZERO", "");
    nameless.noZeroByte = true;
    QarOptions o;
    o.secondCount = 9;
    const auto bytes = buildQar({before, past, negative, nameless}, o);
    MemoryByteSource src(bytes);
    const int64_t dir = 523;
    const std::string range = "520.." + std::to_string(dir);
    EXPECT_EQ(
        ArchiveProblems(src),
        (std::vector<std::string>{"counts differ: 4 at offset 512, 9 at offset 516",
                                  "entry 0: data outside " + range + " (offset 519, size 1)",
                                  "entry 1: data outside " + range + " (offset 521, size 3)",
                                  "entry 2: data outside " + range + " (offset 523, size -1)",
                                  "entry 3: name without a zero byte in its first 200 bytes"}));
}

TEST(Problems, CountsAndDirectory) {
    {
        auto bytes = countsFile(0, 0, 600);
        MemoryByteSource src(bytes);
        EXPECT_EQ(ArchiveProblems(src), std::vector<std::string>{"count not positive: 0"});
    }
    {
        auto bytes = countsFile(-1, 2, 600);
        MemoryByteSource src(bytes);
        EXPECT_EQ(ArchiveProblems(src),
                  (std::vector<std::string>{"counts differ: -1 at offset 512, 2 at offset 516",
                                            "count not positive: -1"}));
    }
    {
        auto bytes = countsFile(3, 3, 600);
        MemoryByteSource src(bytes);
        EXPECT_EQ(ArchiveProblems(src),
                  std::vector<std::string>{"directory outside the file: 3 records of 280 bytes "
                                           "need 840 bytes, the file has 600"});
    }
    {
        // One record in a 520-byte file: the directory starts at 240, over the counts, and the
        // record's offset and size fields hold what the filler bytes make of them.
        auto bytes = countsFile(1, 1, 520);
        bytes[240] = 0;
        MemoryByteSource src(bytes);
        const auto problems = ArchiveProblems(src);
        ASSERT_EQ(problems.size(), 2u);
        EXPECT_EQ(problems[0], "directory overlaps the counts: it starts at 240");
        EXPECT_EQ(problems[1].rfind("entry 0: data outside 520..240 ", 0), 0u) << problems[1];
    }
    {
        auto bytes = countsFile(1, 1, 519);
        MemoryByteSource src(bytes);
        EXPECT_EQ(fileErrorText([&] { ArchiveProblems(src); }), "Read beyond end of file");
    }
}
