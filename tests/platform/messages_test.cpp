// The application title rule and the message text rule.
#include <gtest/gtest.h>

#include "platform/Errors.h"

using namespace vorlr;

TEST(ApplicationTitle, NameWithoutFolderAndExtensionFirstCharacterAsStored) {
    EXPECT_EQ(applicationTitleFor("/usr/bin/vorlr"), "vorlr");
    EXPECT_EQ(applicationTitleFor("C:\\GAMES\\VORLR.EXE"), "Vorlr");
    EXPECT_EQ(applicationTitleFor("./Vorlr.app.bin"), "Vorlr");
    EXPECT_EQ(applicationTitleFor("/opt/x.y/ABC"), "Abc");
    // Only A to Z are lower-cased; other bytes stay as stored.
    EXPECT_EQ(applicationTitleFor("\xC4" "BC\xC4"), "\xC4" "bc\xC4");
    EXPECT_EQ(applicationTitleFor(".hidden"), "");
}

TEST(DisplayedMessage, FullStopAppendedOnlyWhenNeeded) {
    EXPECT_EQ(displayedMessage("File not found"), "File not found.");
    EXPECT_EQ(displayedMessage("Done."), "Done.");
    EXPECT_EQ(displayedMessage(""), "");
    EXPECT_EQ(displayedMessage("Really?"), "Really?.");
    EXPECT_EQ(displayedMessage("ends with dash-"), "ends with dash-");   // '-' is below '.'
    EXPECT_EQ(displayedMessage("ends with space "), "ends with space ");
    EXPECT_EQ(displayedMessage("ends with slash/"), "ends with slash/.");  // '/' is above '.'
    EXPECT_EQ(displayedMessage("I/O error 131"), "I/O error 131.");
    EXPECT_EQ(displayedMessage("caf\xE9"), "caf\xE9.");  // 8-bit characters count as above
}
