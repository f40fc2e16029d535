// The layered view's editing: the top layer's own session, stepped from the tree's menu and the
// editor's keys, saved to the top layer's file alone.
#include <QMenu>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <filesystem>

#include "app/ArchiveLayers.h"
#include "app/FolderTreeModel.h"
#include "app/SaveRun.h"
#include "edit/Layers.h"
#include "platform/Errors.h"
#include "platform/gui/Dialogs.h"
#include "platform/Text.h"

namespace vorlr {
namespace {

QString menuText(const std::string& text) {
    return fromCp1252(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

std::string topName(const Layers& layers) {
    return layers.fileName(static_cast<uint32_t>(layers.count() - 1));
}

}  // namespace

bool ArchiveLayers::command(ArchiveEditor::Command command) {
    if (!active()) return false;
    using C = ArchiveEditor::Command;
    switch (command) {
    case C::Replace: replaceEntry(currentNode()); break;
    case C::Delete: deleteNode(currentNode()); break;
    case C::Undo: undo(); break;
    case C::Redo: redo(); break;
    case C::Save: saveTop(); break;
    case C::Add:
    case C::Rename:
    case C::SaveAs:
        showInformationText("In the layered view, Replace..., Delete, Undo, Redo and Save top layer "
                            "edit the top layer, " + topName(*layers_) +
                            ". Remove the layers to add, rename or save as in the loaded archive.",
                            w_.form);
        break;
    }
    return true;
}

void ArchiveLayers::replaceEntry(NodeId node) {
    if (!active() || *w_.work != WindowWork::Idle) return;
    const MergedView::Name* name = layers_->nameOf(node);
    if (!name) return;
    const std::string stored(layers_->view().name(name->winner));
    const std::vector<std::string> files = dialogs().getFilesToAdd(w_.form, "Replace " + stored, false);
    if (!files.empty()) replaceWith(node, files.front());
}

void ArchiveLayers::replaceWith(NodeId node, const std::string& file) {
    const MergedView::Name* name = layers_->nameOf(node);
    if (!name) return;
    const std::string stored(layers_->view().name(name->winner));
    EditSession::ReplacementFrom from;
    from.file = file;
    from.choose = [&](size_t count) -> std::optional<size_t> {
        const std::optional<int> chosen = dialogs().getNumber(
            w_.form, "Replace", "Which sub-image of " + stored + " (0 to " + std::to_string(count - 1) +
                                    ") does " + baseNameOf(from.file) + " replace?",
            static_cast<int>(count), 0);
        if (!chosen) return std::nullopt;
        return static_cast<size_t>(*chosen);
    };
    const DataRef data = layers_->replacement(node, from);
    if (!data) return;
    rebuilt([&] { layers_->put(node, data); });
}

bool ArchiveLayers::dropFiles(const QModelIndex& at, const std::vector<std::string>& paths,
                              bool dropped) {
    if (!active()) return false;
    const NodeId node = model_->nodeOf(at);
    std::error_code error;
    const bool replaces = node != kNoNode && !layers_->tree().hasChildren(node) &&
                          paths.size() == 1 && std::filesystem::is_regular_file(paths[0], error);
    model_->setDropTarget(!dropped && replaces ? node : kNoNode);
    if (!dropped || paths.empty()) return true;
    // Taken once the drop has returned, as the loaded tree takes its drops.
    QTimer::singleShot(0, this, [this, node, replaces, file = paths.front()] {
        guarded([&] {
            if (!active() || *w_.work != WindowWork::Idle) return;
            if (!replaces) {
                showInformationText("In the layered view, a file dropped on an entry replaces it in "
                                    "the top layer, " + topName(*layers_) +
                                    ". Remove the layers to add files to the loaded archive.",
                                    w_.form);
                return;
            }
            if (node < layers_->tree().size()) replaceWith(node, file);
        }, w_.form);
    });
    return true;
}

void ArchiveLayers::deleteNode(NodeId node) {
    if (!active() || *w_.work != WindowWork::Idle || node == kNoNode) return;
    rebuilt([&] { layers_->remove(node); });
}

void ArchiveLayers::undo() {
    if (!active() || *w_.work != WindowWork::Idle || !layers_->top()->changes()->canUndo()) return;
    rebuilt([&] { layers_->undo(); });
}

void ArchiveLayers::redo() {
    if (!active() || *w_.work != WindowWork::Idle || !layers_->top()->changes()->canRedo()) return;
    rebuilt([&] { layers_->redo(); });
}

bool ArchiveLayers::saveTop() {
    if (!active() || !layers_->pending()) return true;
    if (*w_.work != WindowWork::Idle) return false;
    EditSession& top = *layers_->top();
    try {
        const EditSession::SavePlan plan = top.planSave(std::nullopt);
        std::atomic<bool> cancel{false};
        if (!RunSave(w_.form, *w_.work, *top.archive(), plan.edit, plan.target, nullptr, cancel))
            return false;
        // What was pending is in the file now: the layer is that file as it stands.
        rebuilt([&] {
            top.forget();
            layers_->reopenTop();
        });
        return true;
    } catch (const std::exception& e) {
        showException(e, w_.form);
        return false;
    }
}

void ArchiveLayers::discardTop() {
    if (!active() || !layers_->pending() || *w_.work != WindowWork::Idle) return;
    rebuilt([&] { layers_->discard(); });
}

bool ArchiveLayers::confirmLeave() {
    if (!active() || !layers_->pending()) return true;
    const int answer = dialogs().ask(w_.form, applicationTitle(),
                                     "Save changes to " + topName(*layers_) + "?",
                                     {"Save", "Discard", "Cancel"}, 0, 2);
    if (answer == 0) return saveTop();
    if (answer == 1) {
        rebuilt([&] { layers_->discard(); });
        return true;
    }
    return false;
}

void ArchiveLayers::addEditItems(QMenu& menu, NodeId node) {
    const bool idle = *w_.work == WindowWork::Idle;
    const ArchiveChanges& changes = *layers_->top()->changes();
    auto item = [&](const QString& text, const QKeySequence& keys, bool enabled,
                    std::function<void()> run) {
        QAction* a = menu.addAction(text);
        a->setEnabled(idle && enabled);
        if (!keys.isEmpty()) {
            a->setShortcut(keys);
            a->setShortcutContext(Qt::WidgetShortcut);  // shown here; the window's keys act
        }
        connect(a, &QAction::triggered, this, [this, run] { guarded(run, w_.form); });
    };
    item(QStringLiteral("Replace..."), QKeySequence(Qt::CTRL | Qt::Key_R),
         layers_->nameOf(node) != nullptr, [this, node] { replaceEntry(node); });
    item(QStringLiteral("Delete"), QKeySequence(Qt::Key_Delete), node != kNoNode,
         [this, node] { deleteNode(node); });
    item(changes.canUndo() ? menuText("Undo " + changes.undoLabel()) : QStringLiteral("Undo"),
         QKeySequence(Qt::CTRL | Qt::Key_Z), changes.canUndo(), [this] { undo(); });
    item(changes.canRedo() ? menuText("Redo " + changes.redoLabel()) : QStringLiteral("Redo"),
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), changes.canRedo(), [this] { redo(); });
    item(QStringLiteral("Save top layer"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
         layers_->pending(), [this] { saveTop(); });
    item(QStringLiteral("Discard changes"), {}, layers_->pending(), [this] { discardTop(); });
}

}  // namespace vorlr
