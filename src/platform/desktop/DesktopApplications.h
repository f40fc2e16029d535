#pragma once
// The applications the desktop has for a file, as file managers list them under "Open With":
// the default first, then the others declared for the file's MIME type and its parent types.
// Read from the desktop's files: mimeapps.list in the configuration and data folders, the
// desktop entries' MimeType= (mimeinfo.cache where a folder has one). Also: starting an
// application or a command the user typed on a file, and the choice remembered per MIME type.
#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class QSettings;

namespace vorlr {

// Where the desktop's files are: the XDG folders of the environment, or a test's own.
struct XdgDirs {
    QString configHome;      // $XDG_CONFIG_HOME, else ~/.config
    QStringList configDirs;  // $XDG_CONFIG_DIRS, else /etc/xdg
    QString dataHome;        // $XDG_DATA_HOME, else ~/.local/share
    QStringList dataDirs;    // $XDG_DATA_DIRS, else /usr/local/share:/usr/share
    QStringList desktops;    // $XDG_CURRENT_DESKTOP, lower-cased: their NAME-mimeapps.list count
    QString cacheHome;       // $XDG_CACHE_HOME, else ~/.cache
    static XdgDirs fromEnvironment();
};

// One application as its desktop entry describes it.
struct DesktopApplication {
    QString id;                // desktop-file id, "org.example.Viewer.desktop"
    QString name;              // Name= (not localized)
    QString icon;              // Icon= (a theme name or a path; may be empty)
    QString exec;              // Exec= with its string escapes undone, field codes still in
    QString desktopFile;       // the file it was read from
    QString workingDirectory;  // Path=, may be empty
    bool terminal = false;     // Terminal=true: run in a terminal window
};

// A snapshot of the desktop's files taken at construction; make a new one to see later changes.
// Entries that are hidden (Hidden=true), not applications, without Name or Exec, with a command
// line that cannot be used, or whose TryExec or program is not installed are left out.
// NoDisplay=true entries are kept: they are handlers that only stay out of menus.
class DesktopApplications {
public:
    explicit DesktopApplications(XdgDirs dirs = XdgDirs::fromEnvironment());
    ~DesktopApplications();
    DesktopApplications(const DesktopApplications&) = delete;
    DesktopApplications& operator=(const DesktopApplications&) = delete;

    // The type's applications, each once: the default first (the first usable [Default
    // Applications] id of the type itself, else its first application, else the same for its
    // nearest parent type that has any: a handler of a narrower type wins), then for
    // the type and each parent type in turn the defaults and [Added Associations] of each
    // mimeapps.list in order, then the entries declaring the type, less the [Removed
    // Associations] of the lists before. The implicit parent application/octet-stream of every
    // type is not followed.
    std::vector<DesktopApplication> forMimeType(const QString& mimeType) const;
    // forMimeType of the file's type (QMimeDatabase: name, then content).
    std::vector<DesktopApplication> forFile(const QString& path) const;
    // The usable application of that desktop-file id, if any.
    std::optional<DesktopApplication> application(const QString& id) const;

    static QString mimeTypeOf(const QString& path);

private:
    struct Index;
    std::unique_ptr<Index> index_;
};

// What to start: a program (a full path) and its arguments, never through a shell.
struct LaunchCommand {
    QString program;
    QStringList arguments;
    QString workingDirectory;  // empty: the program's own
};

// The application's command line for one file: Exec split and its field codes expanded (%f %F
// the path, %u %U its file:// URL, %c %k %i %%; the path appended when there is no file code),
// inside x-terminal-emulator -e for Terminal=true. Throws Error with a text for the user.
LaunchCommand commandFor(const DesktopApplication& app, const QString& file);
// A command the user typed ("gimp", "\"/opt/my tools/edit\" --new %f"), split and expanded as
// an Exec line; the file is appended when it has no file code. Throws Error.
LaunchCommand customCommand(const QString& commandLine, const QString& file);
// Starts the program detached from this one and returns its process id. Throws Error.
qint64 startDetached(const LaunchCommand& command);

// The "Open with..." choice remembered per MIME type in the program's settings: an
// application's desktop-file id or a command line.
class OpenWithChoices {
public:
    struct Choice {
        enum class Kind { Application, Command };
        Kind kind = Kind::Application;
        QString value;  // desktop-file id, or the command line as typed
        bool operator==(const Choice&) const = default;
    };
    // store: the program's settings (QSettings("vorlr", "vorlr")) or a test's own; kept by
    // reference, it must outlive this object.
    explicit OpenWithChoices(QSettings& store);
    std::optional<Choice> remembered(const QString& mimeType) const;
    void remember(const QString& mimeType, const Choice& choice);
    void forget(const QString& mimeType);

private:
    QSettings& store_;
};

}  // namespace vorlr
