#include "app/ExternalEditing.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFrame>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QSettings>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "app/FolderTreeModel.h"
#include "app/ViewerState.h"
#include "archive/EntryKind.h"
#include "archive/EntryNames.h"
#include "platform/DesktopApplications.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "platform/WorkingCopyWatcher.h"
#include "viewers/PictureExport.h"
#include "viewers/PictureUpdate.h"

namespace vorlr {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kCopyBlock = int64_t{1} << 20;
constexpr qint64 kDispatchMs = 20;

std::string environment(const char* name) {
    const char* v = ::getenv(name);
    return v && *v == '/' ? std::string(v) : std::string();
}

// $XDG_CACHE_HOME/vorlr (or ~/.cache/vorlr), readable by its owner only.
std::string cacheRoot() {
    std::string base = environment("XDG_CACHE_HOME");
    if (base.empty() && !environment("HOME").empty()) base = environment("HOME") + "/.cache";
    if (base.empty()) base = "/tmp";
    const std::string root = base + "/vorlr";
    std::error_code ec;
    fs::create_directories(root, ec);
    ::chmod(root.c_str(), 0700);
    return root;
}

// A fresh folder of this program's own (mode 0700) for one purpose.
std::string makePrivateFolder(const std::string& prefix) {
    std::string name = cacheRoot() + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(name.data())) return name;
    name = "/tmp/vorlr-" + prefix + "-XXXXXX";
    if (::mkdtemp(name.data())) return name;
    throwFromErrno(errno);
}

// A stored name's last segment as a plain file name.
std::string plainName(std::string_view stored) {
    std::string name(NodeNameOf(stored));
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "entry";
    return name;
}

EntryKind kindOfName(std::string_view name) {
    const std::string_view node = NodeNameOf(name);
    return EntryKindOf(EntryExtension(node), node);
}

// Copies size bytes (or up to the end) from source to a new file at path.
void copyTo(ByteSource& source, int64_t size, const std::string& path,
            const std::function<bool()>& between) {
    RuntimeFile out;
    out.create(path);
    std::vector<uint8_t> block(static_cast<size_t>(std::min(std::max<int64_t>(size, 0), kCopyBlock)));
    for (int64_t done = 0; done < size;) {
        const int64_t n = source.readCounted(block.data(), std::min(size - done, kCopyBlock));
        if (n <= 0) break;  // data recorded past the end of the archive
        out.write(block.data(), n);
        done += n;
        if (between && !between()) break;
    }
    out.close();
}

std::string baseNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string configFile() {
    std::string base = environment("XDG_CONFIG_HOME");
    if (base.empty()) base = environment("HOME") + "/.config";
    return base + "/vorlr/open-with.conf";
}

}  // namespace

ExternalEditing::ExternalEditing(ArchiveEditor& editor, const ArchiveEditor::Window& window)
    : QObject(window.form), editor_(editor), w_(window) {
    watcher_ = std::make_unique<WorkingCopyWatcher>();
    connect(watcher_.get(), &WorkingCopyWatcher::changed, this, &ExternalEditing::edited);
    connect(watcher_.get(), &WorkingCopyWatcher::failed, this,
            [this](const QString& path, const QString& text) {
                if (copies_.count(path))
                    showException(Error(path.toLocal8Bit().toStdString() + ": " + text.toStdString()),
                                  w_.form);
            });
    w_.tvFiles->viewport()->setAcceptDrops(true);
    w_.tvFiles->viewport()->installEventFilter(this);
}

ExternalEditing::~ExternalEditing() {
    forget();
    std::error_code ec;
    if (!dragRoot_.empty()) fs::remove_all(dragRoot_, ec);
}

void ExternalEditing::addMenuItems(QMenu& menu, NodeId node) {
    const bool file = node >= 0 && node < w_.tree->size() && !w_.tree->hasChildren(node) &&
                      w_.tree->entryIndex(node) >= 0;
    const bool can = file && editor_.editable() && *w_.work == WindowWork::Idle;
    QAction* open = menu.addAction(QStringLiteral("Open in default application"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    open->setShortcutContext(Qt::WidgetShortcut);
    open->setEnabled(can);
    connect(open, &QAction::triggered, this,
            [this, node] { guarded([&] { openInDefaultApplication(node); }, w_.form); });
    QAction* with = menu.addAction(QStringLiteral("Open with..."));
    with->setEnabled(can);
    connect(with, &QAction::triggered, this, [this, node] { guarded([&] { openWith(node); }, w_.form); });
}

std::vector<std::string> ExternalEditing::workingCopies(int32_t entry) {
    std::vector<std::pair<size_t, std::string>> found;
    for (const auto& [path, copy] : copies_)
        if (copy.entry == entry && fs::exists(path.toLocal8Bit().toStdString()))
            found.emplace_back(copy.subImage, path.toLocal8Bit().toStdString());
    std::sort(found.begin(), found.end());
    std::vector<std::string> files;
    for (auto& f : found) files.push_back(std::move(f.second));
    if (!files.empty()) return files;  // opened before: what the other program saved stays

    const EditSession& session = editor_.session();
    if (workingRoot_.empty())
        workingRoot_ = makePrivateFolder(plainName(baseNameOf(w_.state->archive.path())));
    const std::string folder = workingRoot_ + "/" + std::to_string(entry);
    fs::create_directories(folder);
    const std::string stored = session.entryName(entry);
    const std::string name = plainName(stored);
    const EntryKind kind = kindOfName(stored);
    std::vector<std::pair<std::string, size_t>> made;
    if (kind == EntryKind::Kmg || kind == EntryKind::Targa) {
        EntryPictures pictures;
        try {
            pictures = DecodePicturesOf(*session.openEntry(entry), kind);
        } catch (const Error& e) {
            throw Error(stored + ": " + e.what());
        }
        const std::string stem = name.substr(0, name.find('.')).empty() ? "picture" : name.substr(0, name.find('.'));
        const size_t n = pictures.pictures.size();
        for (size_t i = 0; i < n; ++i) {
            const std::string path =
                folder + "/" + stem + (n > 1 ? "_" + std::to_string(i) : std::string()) + ".png";
            const std::vector<uint8_t> png = EncodePicture(pictures.pictures[i], PictureFormat::Png);
            RuntimeFile out;
            out.create(path);
            out.write(png.data(), static_cast<int64_t>(png.size()));
            out.close();
            made.emplace_back(path, i);
        }
    } else {
        const std::string path = folder + "/" + name;
        copyTo(*session.openEntry(entry), session.entrySize(entry), path, {});
        made.emplace_back(path, 0);
    }
    // Watched once written: what is there now is what the entry holds.
    for (const auto& [path, sub] : made) {
        const QString key = QString::fromLocal8Bit(path.c_str());
        watcher_->watch(key);
        copies_[key] = Copy{entry, sub};
        files.push_back(path);
    }
    return files;
}

void ExternalEditing::openInDefaultApplication(NodeId node) {
    if (node < 0 || node >= w_.tree->size() || w_.tree->hasChildren(node) || !editor_.editable() ||
        *w_.work != WindowWork::Idle)
        return;
    const int32_t entry = w_.tree->entryIndex(node);
    if (!editor_.changes()->present(entry)) return;
    launch(workingCopies(entry).front(), false);
}

void ExternalEditing::openWith(NodeId node) {
    if (node < 0 || node >= w_.tree->size() || w_.tree->hasChildren(node) || !editor_.editable() ||
        *w_.work != WindowWork::Idle)
        return;
    const int32_t entry = w_.tree->entryIndex(node);
    if (!editor_.changes()->present(entry)) return;
    launch(workingCopies(entry).front(), true);
}

void ExternalEditing::launch(const std::string& file, bool choose) {
    const QString path = QString::fromLocal8Bit(file.c_str());
    const std::string shown = baseNameOf(file);
    if (!choose) {
        const QUrl url = QUrl::fromLocalFile(path);
        if (openUrl ? openUrl(url) : QDesktopServices::openUrl(url)) return;
        // No desktop service to hand it to: the first application the desktop's files name.
        const DesktopApplications apps;
        const std::vector<DesktopApplication> list = apps.forFile(path);
        if (list.empty())
            throw Error("No program is set to open " + shown + " (" +
                        DesktopApplications::mimeTypeOf(path).toStdString() +
                        "): choose one with Open with...");
        startDetached(commandFor(list.front(), path));
        return;
    }
    const QString type = DesktopApplications::mimeTypeOf(path);
    const DesktopApplications apps;
    const std::vector<DesktopApplication> list = apps.forMimeType(type);
    QSettings settings(QString::fromLocal8Bit(configFile().c_str()), QSettings::IniFormat);
    OpenWithChoices choices(settings);
    const std::optional<OpenWithChoices::Choice> before = choices.remembered(type);
    std::vector<std::string> names, icons;
    int selected = list.empty() ? -1 : 0;
    std::string command;
    for (size_t k = 0; k < list.size(); ++k) {
        names.push_back(list[k].name.toStdString());
        icons.push_back(list[k].icon.toStdString());
        if (before && before->kind == OpenWithChoices::Choice::Kind::Application && before->value == list[k].id)
            selected = static_cast<int>(k);
    }
    if (before && before->kind == OpenWithChoices::Choice::Kind::Command) {
        command = before->value.toStdString();
        selected = -1;
    }
    const std::optional<ApplicationChoice> answer =
        dialogs().getApplication(w_.form, shown, names, icons, selected, command);
    if (!answer) return;
    OpenWithChoices::Choice choice;
    LaunchCommand run;
    if (answer->index >= 0 && static_cast<size_t>(answer->index) < list.size()) {
        const DesktopApplication& app = list[static_cast<size_t>(answer->index)];
        run = commandFor(app, path);
        choice = {OpenWithChoices::Choice::Kind::Application, app.id};
    } else if (!answer->command.empty()) {
        run = customCommand(QString::fromStdString(answer->command), path);
        choice = {OpenWithChoices::Choice::Kind::Command, QString::fromStdString(answer->command)};
    } else {
        return;
    }
    startDetached(run);
    choices.remember(type, choice);
}

void ExternalEditing::edited(const QString& path, const QByteArray& content) {
    const auto it = copies_.find(path);
    if (it == copies_.end()) return;
    // A command's dialog or a save is under way: taken once it has ended.
    if (editor_.busy()) {
        waiting_[path] = content;
        QTimer::singleShot(250, this, &ExternalEditing::takePending);
        return;
    }
    const Copy copy = it->second;
    const std::vector<uint8_t> bytes(content.begin(), content.end());
    guarded([&] { editor_.takeEdit(copy.entry, bytes, copy.subImage, path.toLocal8Bit().toStdString()); },
            w_.form);
}

void ExternalEditing::takePending() {
    if (waiting_.empty()) return;
    if (editor_.busy()) {
        QTimer::singleShot(250, this, &ExternalEditing::takePending);
        return;
    }
    std::map<QString, QByteArray> now;
    now.swap(waiting_);
    for (const auto& [path, content] : now) edited(path, content);
}

void ExternalEditing::forget() {
    for (const auto& [path, copy] : copies_) watcher_->unwatch(path);
    copies_.clear();
    waiting_.clear();
    if (!workingRoot_.empty()) {
        std::error_code ec;
        fs::remove_all(workingRoot_, ec);
        workingRoot_.clear();
    }
}

void ExternalEditing::dragOut(NodeId node) {
    if (node < 0 || node >= w_.tree->size() || *w_.work != WindowWork::Idle) return;
    const EditSession& session = editor_.session();
    if (!session.reading()) return;
    std::vector<int32_t> entries;
    for (const int32_t e : w_.tree->entriesInSubtree(node))
        if (session.present(e)) entries.push_back(e);
    if (entries.empty()) return;
    if (dragRoot_.empty()) dragRoot_ = makePrivateFolder("drag");
    const std::string root = dragRoot_ + "/" + std::to_string(++drags_);
    fs::create_directories(root);

    // Written before the drag starts, with events dispatched between blocks: a large node
    // shows a progress dialog whose Cancel ends it without a drag.
    std::string written;
    {
        const WorkGuard busy(*w_.work, WindowWork::Extracting);
        QProgressDialog progress(QStringLiteral("Preparing the drag ..."), QStringLiteral("Cancel"), 0,
                                 static_cast<int>(std::min<size_t>(entries.size(), INT32_MAX)), w_.form);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(400);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        QElapsedTimer clock;
        clock.start();
        const auto between = [&] {
            if (clock.elapsed() < kDispatchMs) return true;
            clock.restart();
            QCoreApplication::processEvents();
            if (onDragWriteDispatch) onDragWriteDispatch();
            return !progress.wasCanceled();
        };
        for (size_t k = 0; k < entries.size(); ++k) {
            const int32_t e = entries[k];
            progress.setValue(static_cast<int>(std::min<size_t>(k, INT32_MAX)));
            if (!between()) break;
            const std::string name = session.entryName(e);
            std::vector<std::string> segments;
            if (SplitSafeName(name, segments) != NameVerdict::Safe) continue;  // as extraction skips it
            std::string path = root;
            for (const std::string& s : segments) path += "/" + s;
            std::error_code ec;
            fs::create_directories(fs::path(path).parent_path(), ec);
            if (ec || fs::is_directory(path)) continue;  // a file where a folder must be, or the reverse
            copyTo(*session.openEntry(e), session.entrySize(e), path, between);
            if (progress.wasCanceled()) break;
            if (written.empty()) written = path;
        }
        if (progress.wasCanceled()) {
            std::error_code ec;
            fs::remove_all(root, ec);
            return;
        }
    }

    // The node itself: its file, or its folder in the written tree (or, where the tree's
    // folders are not the stored paths, everything written).
    QList<QUrl> urls;
    std::string target;
    if (!w_.tree->hasChildren(node)) {
        target = written;
    } else {
        std::string folder = editor_.folderPathOf(node);
        std::replace(folder.begin(), folder.end(), '\\', '/');
        if (fs::is_directory(root + "/" + folder)) target = root + "/" + folder;
    }
    if (!target.empty() && fs::exists(target)) {
        urls.push_back(QUrl::fromLocalFile(QString::fromLocal8Bit(target.c_str())));
    } else {
        for (const auto& item : fs::directory_iterator(root))
            urls.push_back(QUrl::fromLocalFile(QString::fromLocal8Bit(item.path().c_str())));
    }
    if (urls.isEmpty()) return;
    auto* drag = new QDrag(w_.tvFiles);
    auto* data = new QMimeData;
    data->setUrls(urls);
    drag->setMimeData(data);
    if (runDrag)
        runDrag(*drag);
    else
        drag->exec(Qt::CopyAction, Qt::CopyAction);
    drag->deleteLater();
}

NodeId ExternalEditing::dropTargetAt(const QPoint& pos, int files, bool oneRegularFile,
                                     NodeId* replaced) const {
    const NodeId node = w_.model->nodeOf(w_.tvFiles->indexAt(pos));
    *replaced = kNoNode;
    if (node == kNoNode) return kNoNode;
    if (!w_.tree->hasChildren(node) && files == 1 && oneRegularFile) {
        *replaced = node;
        return node;
    }
    return node;
}

bool ExternalEditing::eventFilter(QObject* watched, QEvent* e) {
    if (watched != w_.tvFiles->viewport()) return QObject::eventFilter(watched, e);
    const QEvent::Type type = e->type();
    if (type == QEvent::DragLeave) {
        w_.model->setDropTarget(kNoNode);
        return false;
    }
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, e);
    auto* drop = static_cast<QDropEvent*>(e);
    std::vector<std::string> paths;
    if (const QMimeData* data = drop->mimeData(); data && data->hasUrls())
        for (const QUrl& url : data->urls()) {
            if (!url.isLocalFile()) {
                paths.clear();
                break;
            }
            paths.push_back(url.toLocalFile().toLocal8Bit().toStdString());
        }
    // Not for the tree (nothing to edit, or not files): the window takes it, as a dropped archive.
    if (paths.empty() || !editor_.editable() || *w_.work != WindowWork::Idle) {
        w_.model->setDropTarget(kNoNode);
        return false;
    }
    struct stat st{};
    const bool oneRegularFile =
        paths.size() == 1 && ::stat(paths.front().c_str(), &st) == 0 && S_ISREG(st.st_mode);
    NodeId replaced = kNoNode;
    const NodeId node = dropTargetAt(drop->position().toPoint(), static_cast<int>(paths.size()),
                                     oneRegularFile, &replaced);
    if (type == QEvent::Drop) {
        w_.model->setDropTarget(kNoNode);
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // Taken once the drop has returned: the program the files came from is not kept waiting
        // for the questions an addition may ask.
        QTimer::singleShot(0, this, [this, node, paths] {
            guarded([&] { editor_.dropFiles(node, paths); }, w_.form);
        });
        return true;
    }
    // Where the files will go: the file they replace, or the folder they join.
    NodeId shown = replaced;
    if (shown == kNoNode && node != kNoNode)
        shown = w_.tree->hasChildren(node) ? node : w_.tree->parent(node);
    w_.model->setDropTarget(shown);
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    return true;
}

}  // namespace vorlr
