// Which viewer a stored name goes to: the extension after the node name's first ".", cut to 10
// characters and lower-cased in A to Z only, and the kinds it names.
#include <gtest/gtest.h>

#include "archive/EntryKind.h"

using namespace vorlr;

TEST(EntryKind, StoredNamesToTheirKind) {
    struct Case {
        const char* stored;
        const char* extension;
        EntryKind kind;
    } cases[] = {
        {"DATA\\TEXT\\WELCOME.TXT", "txt", EntryKind::Text},
        {"CONFIG.Ini", "ini", EntryKind::Text},
        {"GFX\\LOGO.TGA", "tga", EntryKind::Targa},
        {"GFX\\ICONS.kmg", "kmg", EntryKind::Kmg},
        {"SND\\A.WAV", "wav", EntryKind::Sound},
        {"SND\\B.Mp3", "mp3", EntryKind::Sound},
        // Only the node name counts, and from its first dot on.
        {"GFX.OLD\\PLAIN", "plain", EntryKind::None},
        {"GFX\\A.B.TGA", "b.tga", EntryKind::None},
        {"SND\\A.WAV.BAK", "wav.bak", EntryKind::None},
        {"GFX/LOGO.TGA", "tga", EntryKind::Targa},  // '/' is no folder separator here
        // Without a dot the whole name is the extension, cut to 10 characters.
        {"DOCS\\TXT", "txt", EntryKind::Text},
        {"VERYLONGNAMEWITHOUTDOT", "verylongna", EntryKind::None},
        {"X.ABCDEFGHIJKLMN", "abcdefghij", EntryKind::None},
        {"X.TXTABCDEFGHIJ", "txtabcdefg", EntryKind::None},
        // Lower-casing is A to Z only.
        {"X.T\xC3\x9CT", "t\xC3\x9Ct", EntryKind::None},
        // The items database is the one entry named exactly ITEMS.DBS.
        {"DATA\\ITEMS.DBS", "dbs", EntryKind::ItemsDatabase},
        {"ITEMS.DBS", "dbs", EntryKind::ItemsDatabase},
        {"DATA\\Items.dbs", "dbs", EntryKind::None},
        {"DATA\\OTHER.DBS", "dbs", EntryKind::None},
        {"DATA\\", "", EntryKind::None},
        {"NAME.", "", EntryKind::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        const std::string_view node = NodeNameOf(c.stored);
        EXPECT_EQ(EntryExtension(node), c.extension);
        EXPECT_EQ(EntryKindOf(EntryExtension(node), node), c.kind);
    }
    EXPECT_EQ(NodeNameOf("A\\B\\C.TXT"), "C.TXT");
    EXPECT_EQ(NodeNameOf("NOFOLDER"), "NOFOLDER");
    EXPECT_EQ(NodeNameOf("A\\"), "");
}
