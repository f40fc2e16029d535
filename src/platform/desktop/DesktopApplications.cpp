#include "platform/desktop/DesktopApplications.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <utility>

#include "platform/desktop/DesktopEntry.h"
#include "platform/Errors.h"

namespace vorlr {

namespace {

[[noreturn]] void fail(const QString& text) { throw Error(text.toStdString()); }

// Desktop entries are a few kilobytes and mimeinfo.cache some hundred; anything far larger is
// not one of them.
constexpr qint64 kDesktopFileLimit = 1 << 20;
constexpr qint64 kListFileLimit = 16 << 20;

std::optional<QByteArray> readSmallFile(const QString& path, qint64 limit) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit) return std::nullopt;
    return bytes;
}

QStringList absoluteDirs(const QString& value, const QStringList& fallback) {
    QStringList dirs;
    for (const QString& d : value.split(u':', Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(d)) dirs << QDir::cleanPath(d);
    if (dirs.isEmpty()) dirs = fallback;
    dirs.removeDuplicates();
    return dirs;
}

QString absoluteDir(const QString& value, const QString& fallback) {
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : fallback;
}

// A program as a command line names it: a full path that is an executable file, or a name
// looked up in PATH. Empty when not installed.
QString findProgram(const QString& name) {
    if (name.contains(u'/')) {
        const QFileInfo info(name);
        return info.isAbsolute() && info.isFile() && info.isExecutable() ? name : QString();
    }
    return QStandardPaths::findExecutable(name);
}

QStringList lookUp(const QHash<QString, QStringList>& lists, const QStringList& names) {
    QStringList ids;
    for (const QString& n : names) ids += lists.value(n);
    return ids;
}

LaunchCommand commandFromArguments(QStringList args, const QString& what) {
    const QString program = findProgram(args.front());
    if (program.isEmpty())
        fail(QStringLiteral("The program %1 of %2 is not installed").arg(args.front(), what));
    args.removeFirst();
    return {program, args, {}};
}

}  // namespace

XdgDirs XdgDirs::fromEnvironment() {
    const QString home = QDir::homePath();
    XdgDirs d;
    d.configHome = absoluteDir(qEnvironmentVariable("XDG_CONFIG_HOME"), home + "/.config");
    d.cacheHome = absoluteDir(qEnvironmentVariable("XDG_CACHE_HOME"), home + "/.cache");
    d.configDirs = absoluteDirs(qEnvironmentVariable("XDG_CONFIG_DIRS"), {"/etc/xdg"});
    d.dataHome = absoluteDir(qEnvironmentVariable("XDG_DATA_HOME"), home + "/.local/share");
    d.dataDirs =
        absoluteDirs(qEnvironmentVariable("XDG_DATA_DIRS"), {"/usr/local/share", "/usr/share"});
    for (const QString& name :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts))
        d.desktops << name.toLower();
    return d;
}

// Levels: 0 is $XDG_DATA_HOME (and every configuration folder), n is the n-th $XDG_DATA_DIRS.
// An added or removed association applies to desktop files of its own level and below only.
struct DesktopApplications::Index {
    struct ListFile {
        MimeAppsList list;
        int level = 0;
    };
    struct DataDir {
        QString applications;
        std::optional<QHash<QString, QStringList>> cache;    // mimeinfo.cache, if it has one
        std::optional<QHash<QString, QStringList>> scanned;  // MimeType= of its entries, on demand
    };
    struct FileRef {
        QString path;
        int level = 0;
    };

    std::vector<ListFile> lists;
    std::vector<DataDir> dataDirs;
    QHash<QString, FileRef> files;  // by desktop-file id: the first folder's file
    QHash<QString, std::optional<DesktopEntry>> entries;
    QHash<QString, std::optional<DesktopApplication>> applications;
    QMimeDatabase mimeDb;

    explicit Index(const XdgDirs& dirs);
    std::optional<DesktopEntry> entry(const QString& id);
    std::optional<DesktopApplication> application(const QString& id);
    QStringList declaring(size_t dir, const QStringList& names);
    QStringList associations(const QStringList& names);
    std::optional<DesktopApplication> defaultFor(const QStringList& names);
    QStringList namesOf(const QString& type) const;
    QStringList typeChain(const QString& mimeType) const;
};

DesktopApplications::Index::Index(const XdgDirs& dirs) {
    const auto addLists = [&](const QString& folder, int level) {
        for (const QString& desktop : dirs.desktops)
            if (auto bytes =
                    readSmallFile(folder + "/" + desktop + "-mimeapps.list", kListFileLimit)) {
                MimeAppsList list = parseMimeAppsList(*bytes);
                list.added.clear();  // a desktop's own list only chooses defaults
                list.removed.clear();
                lists.push_back({std::move(list), level});
            }
        if (auto bytes = readSmallFile(folder + "/mimeapps.list", kListFileLimit))
            lists.push_back({parseMimeAppsList(*bytes), level});
    };
    addLists(dirs.configHome, 0);
    for (const QString& d : dirs.configDirs) addLists(d, 0);

    QStringList data{dirs.dataHome};
    data += dirs.dataDirs;
    data.removeDuplicates();
    for (int level = 0; level < data.size(); ++level) {
        const QString applications = data[level] + "/applications";
        addLists(applications, level);
        DataDir dir{applications, {}, {}};
        if (auto bytes = readSmallFile(applications + "/mimeinfo.cache", kListFileLimit))
            dir.cache = parseMimeInfoCache(*bytes);
        dataDirs.push_back(std::move(dir));
        // Ids are paths below applications/ with '-' for '/'; symbolic links to folders are not
        // followed, so a loop of links cannot make the walk endless.
        QDirIterator it(applications, {"*.desktop"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = path.mid(applications.size() + 1);
            id.replace(u'/', u'-');
            if (!files.contains(id)) files.insert(id, {path, level});
        }
    }
}

std::optional<DesktopEntry> DesktopApplications::Index::entry(const QString& id) {
    if (auto found = entries.constFind(id); found != entries.constEnd()) return *found;
    std::optional<DesktopEntry> e;
    if (auto file = files.constFind(id); file != files.constEnd())
        if (auto bytes = readSmallFile(file->path, kDesktopFileLimit))
            e = parseDesktopEntry(*bytes);
    return *entries.insert(id, std::move(e));
}

std::optional<DesktopApplication> DesktopApplications::Index::application(const QString& id) {
    if (auto found = applications.constFind(id); found != applications.constEnd()) return *found;
    std::optional<DesktopApplication> app;
    const auto e = entry(id);
    if (e && e->type == u"Application" && !e->hidden && !e->name.isEmpty() && !e->exec.isEmpty() &&
        (e->tryExec.isEmpty() || !findProgram(e->tryExec).isEmpty())) {
        DesktopApplication a{id,      e->name,    e->icon, e->exec, files.value(id).path,
                             e->path, e->terminal};
        try {
            (void)commandFor(a, QStringLiteral("/"));  // usable command line, program installed
            app = std::move(a);
        } catch (const Error&) {
        }
    }
    return *applications.insert(id, std::move(app));
}

QStringList DesktopApplications::Index::declaring(size_t dir, const QStringList& names) {
    DataDir& d = dataDirs[dir];
    if (!d.cache && !d.scanned) {
        QStringList ids;
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            if (it->level == static_cast<int>(dir)) ids << it.key();
        ids.sort();
        QHash<QString, QStringList> byType;
        for (const QString& id : ids)
            if (const auto e = entry(id))
                for (const QString& type : e->mimeTypes) byType[type] << id;
        d.scanned = std::move(byType);
    }
    QStringList ids;
    // A cache may name ids of files that a folder before this one replaces: those do not count.
    for (const QString& id : lookUp(d.cache ? *d.cache : *d.scanned, names))
        if (auto f = files.constFind(id);
            f != files.constEnd() && f->level == static_cast<int>(dir))
            ids << id;
    return ids;
}

QStringList DesktopApplications::Index::associations(const QStringList& names) {
    QStringList ids;
    std::vector<std::pair<QString, int>> removed;
    const auto levelOf = [&](const QString& id) {
        auto f = files.constFind(id);
        return f == files.constEnd() ? -1 : f->level;
    };
    const auto isRemoved = [&](const QString& id) {
        const int level = levelOf(id);
        for (const auto& [rid, rlevel] : removed)
            if (rid == id && rlevel <= level) return true;
        return false;
    };
    for (const ListFile& l : lists) {
        for (const QString& id : lookUp(l.list.defaults, names))
            if (!isRemoved(id)) ids << id;
        for (const QString& id : lookUp(l.list.added, names))
            if (levelOf(id) >= l.level && !isRemoved(id)) ids << id;
        for (const QString& id : lookUp(l.list.removed, names)) removed.emplace_back(id, l.level);
    }
    for (size_t d = 0; d < dataDirs.size(); ++d)
        for (const QString& id : declaring(d, names))
            if (!isRemoved(id)) ids << id;
    QStringList usable;
    for (const QString& id : ids)
        if (!usable.contains(id) && application(id)) usable << id;
    return usable;
}

std::optional<DesktopApplication> DesktopApplications::Index::defaultFor(const QStringList& names) {
    for (const ListFile& l : lists)
        for (const QString& id : lookUp(l.list.defaults, names))
            if (auto app = application(id)) return app;
    const QStringList ids = associations(names);
    if (!ids.isEmpty()) return application(ids.front());
    return std::nullopt;
}

QStringList DesktopApplications::Index::namesOf(const QString& type) const {
    QStringList names{type};
    const QMimeType mt = mimeDb.mimeTypeForName(type);
    if (mt.isValid()) names += mt.aliases();
    return names;
}

QStringList DesktopApplications::Index::typeChain(const QString& mimeType) const {
    const QMimeType mt = mimeDb.mimeTypeForName(mimeType);
    if (!mt.isValid()) return {mimeType};
    QStringList chain{mt.name()};
    for (const QString& parent : mt.allAncestors())
        if (parent != u"application/octet-stream") chain << parent;
    return chain;
}

DesktopApplications::DesktopApplications(XdgDirs dirs) : index_(std::make_unique<Index>(dirs)) {}
DesktopApplications::~DesktopApplications() = default;

std::vector<DesktopApplication> DesktopApplications::forMimeType(const QString& mimeType) const {
    Index& x = *index_;
    const QStringList chain = x.typeChain(mimeType);
    std::vector<DesktopApplication> apps;
    QStringList seen;
    const auto add = [&](const DesktopApplication& app) {
        if (seen.contains(app.id)) return;
        seen << app.id;
        apps.push_back(app);
    };
    for (const QString& type : chain)
        if (auto def = x.defaultFor(x.namesOf(type))) {
            add(*def);
            break;
        }
    for (const QString& type : chain)
        for (const QString& id : x.associations(x.namesOf(type))) add(*x.application(id));
    return apps;
}

std::vector<DesktopApplication> DesktopApplications::forFile(const QString& path) const {
    return forMimeType(mimeTypeOf(path));
}

std::optional<DesktopApplication> DesktopApplications::application(const QString& id) const {
    return index_->application(id);
}

QString DesktopApplications::mimeTypeOf(const QString& path) {
    return QMimeDatabase().mimeTypeForFile(path).name();
}

LaunchCommand commandFor(const DesktopApplication& app, const QString& file) {
    const QStringList args =
        expandFieldCodes(splitCommandLine(app.exec), {file, app.name, app.icon, app.desktopFile});
    LaunchCommand command = commandFromArguments(args, app.name);
    command.workingDirectory = app.workingDirectory;
    if (app.terminal) {
        const QString terminal = findProgram(QStringLiteral("x-terminal-emulator"));
        if (terminal.isEmpty())
            fail(QStringLiteral("%1 runs in a terminal, and no terminal program "
                                "(x-terminal-emulator) is installed")
                     .arg(app.name));
        command.arguments.prepend(command.program);
        command.arguments.prepend(QStringLiteral("-e"));
        command.program = terminal;
    }
    return command;
}

LaunchCommand customCommand(const QString& commandLine, const QString& file) {
    const QStringList args = expandFieldCodes(splitCommandLine(commandLine), {file, {}, {}, {}});
    return commandFromArguments(args, QStringLiteral("the command"));
}

qint64 startDetached(const LaunchCommand& command) {
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    if (!command.workingDirectory.isEmpty()) process.setWorkingDirectory(command.workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        fail(QStringLiteral("%1 could not be started: %2")
                 .arg(command.program, process.errorString()));
    return pid;
}

namespace {
QString choiceKey(const QString& mimeType) { return QStringLiteral("OpenWith/") + mimeType; }
constexpr QStringView kApplicationPrefix = u"application:";
constexpr QStringView kCommandPrefix = u"command:";
}  // namespace

OpenWithChoices::OpenWithChoices(QSettings& store) : store_(store) {}

std::optional<OpenWithChoices::Choice> OpenWithChoices::remembered(const QString& mimeType) const {
    if (mimeType.isEmpty()) return std::nullopt;
    const QString value = store_.value(choiceKey(mimeType)).toString();
    if (value.startsWith(kApplicationPrefix))
        return Choice{Choice::Kind::Application, value.mid(kApplicationPrefix.size())};
    if (value.startsWith(kCommandPrefix))
        return Choice{Choice::Kind::Command, value.mid(kCommandPrefix.size())};
    return std::nullopt;
}

void OpenWithChoices::remember(const QString& mimeType, const Choice& choice) {
    if (mimeType.isEmpty() || choice.value.isEmpty()) return;
    const QStringView prefix =
        choice.kind == Choice::Kind::Application ? kApplicationPrefix : kCommandPrefix;
    store_.setValue(choiceKey(mimeType), prefix.toString() + choice.value);
}

void OpenWithChoices::forget(const QString& mimeType) {
    if (!mimeType.isEmpty()) store_.remove(choiceKey(mimeType));
}

}  // namespace vorlr
