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
#include "archive/SafeExtract.h"

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
        // Written as Extract... writes entries, from the entries as they stand.
        ExtractSource source;
        source.count = static_cast<size_t>(std::max<EntryId>(session.changes() ? session.changes()->endId() : 0,
                                                             static_cast<EntryId>(session.archiveEntries())));
        source.name = [&](size_t e) { return session.entryName(static_cast<EntryId>(e)); };
        source.size = [&](size_t e) {
            return static_cast<int32_t>(std::clamp<int64_t>(session.entrySize(static_cast<EntryId>(e)), 0, INT32_MAX));
        };
        source.open = [&](size_t e) { return session.openEntry(static_cast<EntryId>(e)); };
        ExtractOptions options;
        options.source = &source;
        options.whileCopying = between;
        options.progress = [&](size_t done, size_t) {
            progress.setValue(static_cast<int>(std::min<size_t>(done, INT32_MAX)));
            return between();
        };
        options.onEntry = [&](const ExtractNotice& n) {
            const bool wrote = n.outcome == ExtractOutcome::Written || n.outcome == ExtractOutcome::Truncated;
            if (wrote && written.empty()) written = root + "/" + n.path;
        };
        const std::vector<size_t> selection(entries.begin(), entries.end());
        ExtractEntries(w_.state->archive, selection, root, options);
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
