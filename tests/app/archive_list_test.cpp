// The archive list file and the sorted scratch list that Browse rebuilds the drop-down from.
#include <gtest/gtest.h>

#include <QString>
#include <filesystem>

#include "app/ArchiveList.h"
#include "lib/QarBuilder.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

namespace vorlr {
namespace {

using Items = std::vector<std::string>;
using samples::bytesOf;
using samples::readFile;
using samples::writeFile;

std::string textOf(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(ArchiveListParse, SplitsAtEveryKindOfLineBreak) {
    EXPECT_EQ(ParseArchiveList("a\r\nb\nc\rd"), (Items{"a", "b", "c", "d"}));
    // CR LF is one break; LF CR is two.
    EXPECT_EQ(ParseArchiveList("a\n\rb"), (Items{"a", "", "b"}));
    EXPECT_EQ(ParseArchiveList("a\r\r\nb"), (Items{"a", "", "b"}));
}

TEST(ArchiveListParse, FinalBreakAddsNoItemButInnerEmptyLinesDo) {
    EXPECT_EQ(ParseArchiveList("a\r\n"), (Items{"a"}));
    EXPECT_EQ(ParseArchiveList("a\r"), (Items{"a"}));
    EXPECT_EQ(ParseArchiveList("a\r\n\r\n"), (Items{"a", ""}));
    EXPECT_EQ(ParseArchiveList("\r\n\r\nb"), (Items{"", "", "b"}));
    EXPECT_EQ(ParseArchiveList(""), Items{});
    EXPECT_EQ(ParseArchiveList("\n"), (Items{""}));
}

TEST(ArchiveListParse, StopsAtFirstZeroByte) {
    using namespace std::string_literals;
    EXPECT_EQ(ParseArchiveList("a\r\nb\0c\r\nd\r\n"s), (Items{"a", "b"}));
    EXPECT_EQ(ParseArchiveList("\0a\r\n"s), Items{});
}

TEST(ArchiveListFormat, EveryItemEndsWithCrLfAndEmptyListIsEmpty) {
    EXPECT_EQ(FormatArchiveList({"/x/a.qar", "", "b"}), "/x/a.qar\r\n\r\nb\r\n");
    EXPECT_EQ(FormatArchiveList({}), "");
    // What is written reads back as the same items, empty ones included.
    const Items items{"/d/One.qar", "", "two"};
    EXPECT_EQ(ParseArchiveList(FormatArchiveList(items)), items);
}

TEST(ArchiveListFile, WriteReplacesOldFileAndLeavesNoTemporary) {
    testing::TempDir dir;
    const std::string path = dir.file("VORLR.LST");
    writeFile(path, bytesOf("old contents that are longer\r\n"));
    WriteArchiveList(path, {"/a/b.qar", "/c/D.QAR"});
    EXPECT_EQ(textOf(readFile(path)), "/a/b.qar\r\n/c/D.QAR\r\n");
    WriteArchiveList(path, {});
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename(), "VORLR.LST");
}

TEST(ArchiveListFile, ReadsItemsWithBytesKept) {
    testing::TempDir dir;
    const std::string path = dir.file("VORLR.LST");
    writeFile(path, bytesOf("/x/\xE9t\xE9.qar\n\r\n/y/z.qar"));
    EXPECT_EQ(ReadArchiveList(path), (Items{"/x/\xE9t\xE9.qar", "", "/y/z.qar"}));
}

TEST(ArchiveListFile, FailuresNameTheFullPath) {
    testing::TempDir dir;
    testing::ScopedCwd cwd(dir.path());
    // A folder in the list file's place can be neither read nor replaced.
    std::filesystem::create_directory(dir.file("VORLR.LST"));
    try {
        ReadArchiveList("VORLR.LST");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + dir.file("VORLR.LST") +
                                              "\". " + runtimeErrorText(kAccessDenied));
    }
    try {
        WriteArchiveList(dir.file("VORLR.LST"), {"a"});
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + dir.file("VORLR.LST") + "\". ", 0),
                  0u)
            << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("VORLR.LST.new")));
    EXPECT_THROW(WriteArchiveList(dir.file("missing/VORLR.LST"), {"a"}), Error);
}

TEST(ArchiveNames, SortedCaseInsensitivelyWithoutDuplicates) {
    Items list;
    EXPECT_TRUE(AddArchiveName(list, "/d/beta.qar"));
    EXPECT_TRUE(AddArchiveName(list, "/d/Alpha.qar"));
    EXPECT_TRUE(AddArchiveName(list, "/d/gamma.qar"));
    EXPECT_TRUE(AddArchiveName(list, "/d/ALPHA2.qar"));
    EXPECT_EQ(list, (Items{"/d/Alpha.qar", "/d/ALPHA2.qar", "/d/beta.qar", "/d/gamma.qar"}));
    // A name differing only in case is dropped; the one present stays.
    EXPECT_FALSE(AddArchiveName(list, "/D/BETA.QAR"));
    EXPECT_EQ(list[2], "/d/beta.qar");
    EXPECT_EQ(list.size(), 4u);
}

TEST(ArchiveNames, CaseOutsideAToZCountsAsDuplicateToo) {
    Items list{"/d/\xC3\xA9t\xC3\xA9.qar"};  // "été" in UTF-8
    EXPECT_FALSE(AddArchiveName(list, "/d/\xC3\x89T\xC3\x89.qar"));  // "ÉTÉ"
    EXPECT_EQ(list.size(), 1u);
    EXPECT_NE(CompareArchiveNames("/d/a.qar", "/d/b.qar"), 0);
}

TEST(ArchiveNames, DisplayNameIsUtf8OrWindows1252) {
    EXPECT_EQ(ArchiveDisplayName("/d/\xC3\xA9.qar"), QString::fromUtf8("/d/\xC3\xA9.qar"));
    // Not UTF-8: the byte 0xE9 is "é" in Windows-1252, 0x80 the euro sign.
    EXPECT_EQ(ArchiveDisplayName("/d/\xE9\x80.qar"), QStringLiteral("/d/\u00E9\u20AC.qar"));
}

}  // namespace
}  // namespace vorlr
