// Working copies: entries written for the desktop's programs, watched for their saves.
#include "app/ExternalEditing.h"

#include <QMenu>
#include <QSettings>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <filesystem>

#include "app/ExternalFiles.h"
#include "app/FolderTreeModel.h"
#include "app/ViewerState.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "platform/desktop/WorkingCopyWatcher.h"
#include "viewers/PictureExport.h"
#include "viewers/encoders/PictureUpdate.h"

namespace vorlr {

namespace fs = std::filesystem;
using namespace external;

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
    const EntryKind kind = EntryKindOfStored(stored);
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
                folder + "/" + stem + SubImageSuffix(i, n) + ".png";
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

void ExternalEditing::edited(const QString& path, const QByteArray& content) {
    const auto it = copies_.find(path);
    if (it == copies_.end()) return;
    // A command's dialog or a save is under way, or layers stand over the archive: taken once
    // it has ended.
    if (editor_.busy() || editor_.isHeldBack()) {
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
    if (editor_.busy() || editor_.isHeldBack()) {
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

}  // namespace vorlr
