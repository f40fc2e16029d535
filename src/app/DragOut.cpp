// A node dragged out of the tree: its entries written into a folder of the program's own, then
// dropped as files.
#include "app/ExternalEditing.h"

#include <QCoreApplication>
#include <QDrag>
#include <QMimeData>
#include <QProgressDialog>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <filesystem>

#include "app/ExternalFiles.h"
#include "app/ViewerState.h"
#include "app/WorkProgress.h"
#include "archive/EntryNames.h"

namespace vorlr {

namespace fs = std::filesystem;
using namespace external;

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
        WorkProgress run(w_.form, *w_.work, WindowWork::Extracting, QStringLiteral("Preparing the drag ..."),
                         static_cast<int>(std::min<size_t>(entries.size(), INT32_MAX)), 400);
        QProgressDialog& progress = run.dialog();
        run.afterDispatch = [this] {
            if (onDragWriteDispatch) onDragWriteDispatch();
        };
        const auto between = [&] { return !run.due(kDispatchMs) || run.dispatch(); };
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

}  // namespace vorlr
