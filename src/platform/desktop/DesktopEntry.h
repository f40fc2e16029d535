#pragma once
// The desktop's own files as the program reads them: desktop entries (.desktop), the lists of
// default and associated applications (mimeapps.list, mimeinfo.cache), and the command line of
// a desktop entry (Exec) split into a program and its arguments. Everything here reads bytes
// that other programs wrote: nothing in them is trusted.
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace vorlr {

// A key file: "[Group]" lines, "Key=Value" lines, "#" comments and blank lines. Groups of the
// same name are one group; of a key given twice in a group the first counts. Keys keep their
// locale suffix ("Name[de]"); values are as written (escapes not undone).
struct KeyFile {
    struct Group {
        QString name;
        std::vector<std::pair<QString, QString>> entries;
        const QString* value(QStringView key) const;  // nullptr when absent
    };
    std::vector<Group> groups;
    const Group* group(QStringView name) const;  // nullptr when absent
};
// nullopt for bytes that are not a key file: a NUL byte, text that is not UTF-8, a line that is
// neither a group, an entry nor a comment, or an entry before the first group.
std::optional<KeyFile> parseKeyFile(QByteArrayView bytes);

// A string value with its escapes (\s \n \t \r \\) undone; any other backslash is kept.
QString unescapeValue(QStringView raw);
// A list value ("a;b;c;", "\;" for a ';' in an item), each item unescaped, empty items left out.
QStringList splitList(QStringView raw);

// What a desktop entry says of its application ([Desktop Entry] only; Name without locale).
struct DesktopEntry {
    QString type, name, icon, exec, tryExec, path;
    QStringList mimeTypes;
    bool hidden = false;     // "deleted": the entry is as if it did not exist
    bool noDisplay = false;  // kept out of menus, still a handler of its types
    bool terminal = false;
};
// nullopt unless the bytes are a key file with a [Desktop Entry] group.
std::optional<DesktopEntry> parseDesktopEntry(QByteArrayView bytes);

// A mimeapps.list: for each MIME type the desktop-file ids of each group, in the order given.
struct MimeAppsList {
    QHash<QString, QStringList> defaults, added, removed;
};
MimeAppsList parseMimeAppsList(QByteArrayView bytes);  // empty for bytes that are no key file
// A mimeinfo.cache ([MIME Cache] type=ids): the ids of each type, in the order given.
QHash<QString, QStringList> parseMimeInfoCache(QByteArrayView bytes);

// A command line split as desktop entries quote it: arguments separated by spaces (or tabs), an
// argument quoted whole in "..." with \" \` \$ \\ standing for the character. Throws Error for
// an empty line, an unclosed quote, a quote that starts inside a word, and an unquoted
// character that means something to a shell (' \ ` $ < > | & ;): no shell ever runs the line,
// so such a line would not do what its author meant.
QStringList splitCommandLine(QStringView commandLine);

// What the field codes stand for when a command line is expanded for one file.
struct FieldValues {
    QString file;         // %f %F; %u %U get its file:// URL
    QString name;         // %c
    QString icon;         // %i: "--icon" ICON, nothing when empty
    QString desktopFile;  // %k
};
// Split arguments with their field codes expanded; %% is '%', the deprecated codes (%d %D %n %N
// %v %m) are dropped, and the file is appended when no %f %F %u %U is there. Throws Error for an
// unknown code, a '%' at the end of an argument, and %F %U %i inside a longer argument.
// A field code in the program's own name (the first argument) is refused as well: "Exec=%f"
// would run the file.
QStringList expandFieldCodes(const QStringList& arguments, const FieldValues& values);

}  // namespace vorlr
