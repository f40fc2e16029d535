#include "app/ArchiveEditor.h"

#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>

#include <algorithm>

#include "app/FindBar.h"
#include "app/FolderTreeModel.h"
#include "app/SaveRun.h"
#include "app/ViewerState.h"
#include "archive/Pack.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace vorlr {

namespace {

QString menuText(const std::string& text) {
    return fromCp1252(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A command under way, for as long as it lives.
struct Busy {
    int& count;
    explicit Busy(int& c) : count(c) { ++count; }
    ~Busy() { --count; }
};

}  // namespace

ArchiveEditor::ArchiveEditor(const Window& window)
    : QObject(window.form), w_(window), session_(*window.session) {
    w_.model->marked = [this](NodeId node) {
        return changes() && changes()->marked(w_.tree->entryIndex(node));
    };
    w_.model->labelEdited = [this](NodeId) { session_.rebuildWholeTree(); };
    // The tree first, then whatever reads it (the find box, listening on its own), the bar last.
    session_.onStep([this](const EditSession::Outcome& outcome) { stepDone(outcome); });
    session_.onStep([this](const EditSession::Outcome& outcome) {
        if (outcome.made && outcome.treeFrom) w_.findBar->treeChanged();
    });
    session_.onStep([this](const EditSession::Outcome& outcome) {
        refreshBar();
        if (outcome.made && afterStep) afterStep();
    });
    w_.findBar->shownOrHidden = [this] { refreshBar(); };
    connect(w_.tvFiles, &QTreeView::expanded, this,
            [this](const QModelIndex& i) { expanded_.insert(w_.model->nodeOf(i)); });
    connect(w_.tvFiles, &QTreeView::collapsed, this,
            [this](const QModelIndex& i) { expanded_.erase(w_.model->nodeOf(i)); });

    // The bar in the top row, right of where the hidden "Testing" button stands. While the find
    // box is open the bar keeps its buttons and the box takes the place of the count.
    bar_ = new QFrame(w_.paMain);
    bar_->setObjectName(QStringLiteral("paChanges"));
    bar_->setFrameStyle(QFrame::NoFrame);
    bar_->setGeometry(440, 10, 245, 25);
    barSave_ = new QPushButton(QStringLiteral("Save archive"), bar_);
    barSave_->setObjectName(QStringLiteral("buSaveArchive"));
    barSave_->setGeometry(0, 0, 76, 25);
    barSave_->setAutoDefault(false);
    barSave_->setToolTip(QStringLiteral("Write the changes into the archive (Ctrl+Shift+S)"));
    barDiscard_ = new QPushButton(QStringLiteral("Discard"), bar_);
    barDiscard_->setObjectName(QStringLiteral("buDiscard"));
    barDiscard_->setGeometry(78, 0, 52, 25);
    barDiscard_->setAutoDefault(false);
    barDiscard_->setToolTip(QStringLiteral("Forget every unsaved change"));
    barLabel_ = new QLabel(bar_);
    barLabel_->setObjectName(QStringLiteral("laChanges"));
    barLabel_->setGeometry(134, 0, 111, 25);
    bar_->hide();
    connect(barSave_, &QPushButton::clicked, this, [this] { guarded([this] { saveArchive(); }, w_.form); });
    connect(barDiscard_, &QPushButton::clicked, this, [this] { guarded([this] { discardChanges(); }, w_.form); });

    // The keys belong to the main panel, as the window's others do, and act on the current node.
    auto key = [this](const QKeySequence& seq, Command command, std::function<void()> run) {
        auto* s = new QShortcut(seq, w_.paMain);
        s->setContext(Qt::WindowShortcut);
        s->setAutoRepeat(false);
        connect(s, &QShortcut::activated, this, [this, command, run] {
            guarded([&] {
                if (!redirect || !redirect(command)) run();
            }, w_.form);
        });
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_R), Command::Replace, [this] { replaceEntry(currentNode()); });
    key(QKeySequence(Qt::Key_Insert), Command::Add, [this] { addFiles(currentNode()); });
    key(QKeySequence(Qt::SHIFT | Qt::Key_F2), Command::Rename, [this] { renameEntry(currentNode()); });
    key(QKeySequence(Qt::Key_Delete), Command::Delete, [this] { deleteNode(currentNode()); });
    key(QKeySequence(Qt::CTRL | Qt::Key_Z), Command::Undo, [this] { undo(); });
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), Command::Redo, [this] { redo(); });
    key(QKeySequence(Qt::CTRL | Qt::Key_Y), Command::Redo, [this] { redo(); });
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), Command::Save, [this] { saveArchive(); });
    key(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S), Command::SaveAs, [this] { saveArchiveAs(); });
}

ArchiveEditor::~ArchiveEditor() {
    w_.model->marked = nullptr;
    w_.model->labelEdited = nullptr;
    w_.findBar->shownOrHidden = nullptr;
}

void ArchiveEditor::archiveClosing() {
    w_.findBar->useNames(nullptr);
    session_.close();
    expanded_.clear();
    refreshBar();
}

void ArchiveEditor::startNew() {
    archiveClosing();
    session_.openNew(w_.state->archive, *w_.tree);
    w_.findBar->useNames(changes());
}

void ArchiveEditor::archiveLoaded() {
    archiveClosing();
    // A stopped load leaves entries unread, and the writer needs them all.
    if (session_.open(w_.state->archive, w_.state->EntryOffsetTable.size(), *w_.tree))
        w_.findBar->useNames(changes());
}

bool ArchiveEditor::ready(bool report) const {
    if (*w_.work != WindowWork::Idle) return false;
    if (isHeldBack()) {
        if (report)
            showInformationText("The layered view edits only its top layer: remove the layers to "
                                "change the loaded archive.",
                                w_.form);
        return false;
    }
    if (editable()) return true;
    const ViewerState& state = *w_.state;
    if (report && state.archive.isOpen() && state.archive.entryCount() < state.EntryOffsetTable.size())
        showInformationText("The loading of this archive was stopped: load it again to its end to "
                            "change it.",
                            w_.form);
    return false;
}

NodeId ArchiveEditor::currentNode() const { return w_.model->nodeOf(w_.tvFiles->currentIndex()); }

bool ArchiveEditor::showsPending(int32_t entry) const { return session_.holdsPending(entry); }

void ArchiveEditor::usePending(int32_t entry) {
    UsePendingEntry(*w_.state, session_.openEntry(entry), session_.entrySize(entry));
}

std::vector<std::string> ArchiveEditor::pathOf(NodeId node) const {
    std::vector<std::string> path;
    for (NodeId n = node; n != kNoNode; n = w_.tree->parent(n)) path.push_back(w_.tree->text(n));
    std::reverse(path.begin(), path.end());
    return path;
}

NodeId ArchiveEditor::nodeAtPath(const std::vector<std::string>& path) const {
    NodeId at = kNoNode;
    for (const std::string& segment : path) {
        NodeId found = kNoNode;
        for (int32_t r = 0, n = w_.tree->childCount(at); r < n; ++r)
            if (const NodeId c = w_.tree->child(at, r); w_.tree->text(c) == segment) {
                found = c;
                break;
            }
        if (found == kNoNode) return at == kNoNode ? kNoNode : at;  // as deep as it still goes
        at = found;
    }
    return at;
}

std::string ArchiveEditor::folderPathOf(NodeId node) const {
    if (node < 0 || node >= w_.tree->size()) return {};
    const NodeId folder = w_.tree->hasChildren(node) ? node : w_.tree->parent(node);
    std::string path;
    for (const std::string& segment : pathOf(folder)) path += (path.empty() ? "" : "\\") + segment;
    return path;
}

std::string ArchiveEditor::labelFor(const char* verb, int32_t entry) const {
    return std::string(verb) + " " + std::string(changes()->name(entry));
}

void ArchiveEditor::addMenuItems(QMenu& menu, NodeId node) {
    const bool can = ready(false);
    const bool any = node >= 0 && node < w_.tree->size();
    const bool file = any && !w_.tree->hasChildren(node) && w_.tree->entryIndex(node) >= 0;
    auto item = [&](const QString& text, const QKeySequence& keys, bool enabled,
                    std::function<void()> run) {
        QAction* a = menu.addAction(text);
        a->setEnabled(enabled);
        if (!keys.isEmpty()) {
            a->setShortcut(keys);
            a->setShortcutContext(Qt::WidgetShortcut);  // shown here; the window's keys act
        }
        connect(a, &QAction::triggered, this, [this, run] { guarded(run, w_.form); });
    };
    item(QStringLiteral("Replace..."), QKeySequence(Qt::CTRL | Qt::Key_R), can && file,
         [this, node] { replaceEntry(node); });
    item(QStringLiteral("Add files..."), QKeySequence(Qt::Key_Insert), can,
         [this, node] { addFiles(node); });
    item(QStringLiteral("Add folder..."), {}, can, [this, node] { addFolder(node); });
    item(QStringLiteral("Rename..."), QKeySequence(Qt::SHIFT | Qt::Key_F2), can && file,
         [this, node] { renameEntry(node); });
    item(QStringLiteral("Delete"), QKeySequence(Qt::Key_Delete), can && any,
         [this, node] { deleteNode(node); });
    menu.addSeparator();
    const bool undoable = can && changes()->canUndo(), redoable = can && changes()->canRedo();
    item(undoable ? menuText("Undo " + changes()->undoLabel()) : QStringLiteral("Undo"),
         QKeySequence(Qt::CTRL | Qt::Key_Z), undoable, [this] { undo(); });
    item(redoable ? menuText("Redo " + changes()->redoLabel()) : QStringLiteral("Redo"),
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), redoable, [this] { redo(); });
    menu.addSeparator();
    item(QStringLiteral("Save archive"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
         can && pending(), [this] { saveArchive(); });
    item(QStringLiteral("Save archive as..."), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S), can,
         [this] { saveArchiveAs(); });
    item(QStringLiteral("Discard changes"), {}, can && pending(), [this] { discardChanges(); });
}

DataRef ArchiveEditor::replacementFor(int32_t entry, const std::string& file) {
    EditSession::ReplacementFrom from;
    from.file = file;
    from.choose = [&](size_t count) -> std::optional<size_t> {
        const std::optional<int> chosen = dialogs().getNumber(
            w_.form, "Replace", "Which sub-image of " + std::string(changes()->name(entry)) + " (0 to " +
                                     std::to_string(count - 1) + ") does " + baseNameOf(file) + " replace?",
            static_cast<int>(count), 0);
        if (!chosen) return std::nullopt;
        return static_cast<size_t>(*chosen);
    };
    return session_.replacement(entry, from);
}

void ArchiveEditor::replaceEntry(NodeId node) {
    const Busy busy(busy_);
    if (!ready(true) || node < 0 || node >= w_.tree->size() || w_.tree->hasChildren(node)) return;
    const int32_t entry = w_.tree->entryIndex(node);
    if (!changes()->present(entry)) return;
    const std::vector<std::string> files =
        dialogs().getFilesToAdd(w_.form, "Replace " + std::string(changes()->name(entry)), false);
    if (files.empty()) return;
    if (const DataRef data = replacementFor(entry, files.front()))
        session_.replace(entry, data, labelFor("Replace", entry));
}

void ArchiveEditor::addFiles(NodeId node) {
    const Busy busy(busy_);
    if (!ready(true)) return;
    const std::vector<std::string> picked = dialogs().getFilesToAdd(w_.form, "Add files", true);
    if (picked.empty()) return;
    const std::string folder = folderPathOf(node);
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& path : picked)
        files.emplace_back((folder.empty() ? "" : folder + "\\") + baseNameOf(path), path);
    addPaths(files, files.size() == 1 ? "Add " + files.front().first
                                      : "Add " + counted(files.size(), "file", "files"));
}

void ArchiveEditor::addFolder(NodeId node) {
    const Busy busy(busy_);
    if (!ready(true)) return;
    const std::optional<std::string> dir = dialogs().getFolderToAdd(w_.form);
    if (!dir) return;
    const std::string folder = folderPathOf(node);
    std::vector<std::pair<std::string, std::string>> files;
    // Regular files under their relative paths, no symbolic link followed, in byte order.
    for (const PackItem& item : CollectPackItems(*dir))
        files.emplace_back((folder.empty() ? "" : folder + "\\") + item.name, item.diskPath);
    addPaths(files, "Add " + counted(files.size(), "file", "files") + " from " + baseNameOf(*dir));
}

void ArchiveEditor::addPaths(const std::vector<std::pair<std::string, std::string>>& files,
                             const std::string& label) {
    const EditSession::AddPlan plan = session_.planAdd(files, label);
    std::vector<bool> answers;
    bool replaceAll = false;
    for (const EditSession::AddPlan::File& file : plan.files) {
        if (!file.existing) continue;
        if (!replaceAll) {
            const int answer = dialogs().ask(
                w_.form, applicationTitle(), "The archive holds " + file.name + " already.",
                {"Replace", "Skip", "Replace all", "Cancel"}, 0, 3);
            if (answer == 3) return;
            replaceAll = answer == 2;
            answers.push_back(answer != 1);
        } else {
            answers.push_back(true);
        }
    }
    session_.add(plan, answers);
}

void ArchiveEditor::dropFiles(NodeId node, const std::vector<std::string>& paths) {
    const Busy busy(busy_);
    if (!ready(true) || paths.empty()) return;
    const bool fileNode = node >= 0 && node < w_.tree->size() && !w_.tree->hasChildren(node);
    struct stat st{};
    if (paths.size() == 1 && fileNode && ::stat(paths.front().c_str(), &st) == 0 &&
        S_ISREG(st.st_mode)) {
        const int32_t entry = w_.tree->entryIndex(node);
        if (!changes()->present(entry)) return;
        if (const DataRef data = replacementFor(entry, paths.front()))
            session_.replace(entry, data, labelFor("Replace", entry));
        return;
    }
    const std::string folder = folderPathOf(node);
    const std::string prefix = folder.empty() ? "" : folder + "\\";
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& path : paths) {
        // A folder's regular files, no symbolic link followed; a file as it is.
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            for (const PackItem& item : CollectPackItems(path))
                files.emplace_back(prefix + item.name, item.diskPath);
        } else {
            files.emplace_back(prefix + baseNameOf(path), path);
        }
    }
    if (files.empty()) return;
    addPaths(files, files.size() == 1 ? "Add " + files.front().first
                                      : "Add " + counted(files.size(), "file", "files"));
}

bool ArchiveEditor::takeEdit(int32_t entry, const std::vector<uint8_t>& content, size_t subImage,
                             const std::string& file) {
    if (!editable() || isHeldBack() || !changes()->present(entry) || busy()) return false;
    const Busy busy(busy_);
    // The working copy was written at the entry's size; another size would move the entry's
    // layout, which no game expects of an edited texture.
    EditSession::ReplacementFrom from;
    from.file = file;
    from.content = &content;
    from.subImage = subImage;
    from.sameSize = true;
    const DataRef data = session_.replacement(entry, from);
    return data && session_.replace(entry, data, labelFor("Edit", entry)).made;
}

void ArchiveEditor::renameEntry(NodeId node) {
    const Busy busy(busy_);
    if (!ready(true) || node < 0 || node >= w_.tree->size() || w_.tree->hasChildren(node)) return;
    const int32_t entry = w_.tree->entryIndex(node);
    if (!changes()->present(entry)) return;
    const std::string current(changes()->name(entry));
    const std::optional<std::string> typed = dialogs().getText(
        w_.form, "Rename", "New stored name of " + current + " (\\ or / between folders):", current);
    if (!typed) return;
    std::string stored = *typed;
    std::replace(stored.begin(), stored.end(), '/', '\\');
    if (stored == current) return;
    if (const std::string problem = changes()->nameProblem(stored, entry); !problem.empty())
        throw Error("Cannot rename " + current + " to " + stored + ": " + problem);
    session_.rename(entry, stored, labelFor("Rename", entry));
}

void ArchiveEditor::deleteNode(NodeId node) {
    const Busy busy(busy_);
    if (!ready(true) || node < 0 || node >= w_.tree->size()) return;
    std::vector<EntryId> ids;
    for (const int32_t e : w_.tree->entriesInSubtree(node))
        if (changes()->present(e)) ids.push_back(e);
    if (ids.empty()) return;
    std::string label;
    if (w_.tree->hasChildren(node)) {
        const std::string folder = folderPathOf(node);
        const int answer = dialogs().ask(
            w_.form, applicationTitle(),
            "Delete " + folder + " and the " + counted(ids.size(), "entry", "entries") +
                " in it?",
            {"Delete", "Cancel"}, 0, 1);
        if (answer != 0) return;
        label = "Delete " + folder;
    } else {
        label = labelFor("Delete", ids.front());
    }
    session_.remove(ids, label);
}

void ArchiveEditor::undo() {
    if (ready(false) && changes()->canUndo()) session_.undo();
}

void ArchiveEditor::redo() {
    if (ready(false) && changes()->canRedo()) session_.redo();
}

void ArchiveEditor::discardChanges() {
    if (ready(false)) session_.discard();
}

bool ArchiveEditor::saveArchive() {
    if (!ready(true)) return false;
    if (session_.isNew()) return saveArchiveAs();
    return save(std::nullopt, true);
}

bool ArchiveEditor::saveArchiveAs() {
    const Busy busy(busy_);
    if (!ready(true)) return false;
    const std::optional<std::string> target =
        dialogs().getSaveArchiveName(w_.form, w_.state->archive.path());
    if (!target) return false;
    return save(target, true);
}

bool ArchiveEditor::confirmLeave() {
    if (leaveOthers && !leaveOthers()) return false;
    if (!pending()) return true;
    const std::string name = session_.isNew() ? "new archive" : baseNameOf(w_.state->archive.path());
    const int answer = dialogs().ask(w_.form, applicationTitle(), "Save changes to " + name + "?",
                                     {"Save", "Discard", "Cancel"}, 0, 2);
    if (answer == 0 && session_.isNew()) {
        const std::optional<std::string> as = dialogs().getSaveArchiveName(w_.form, "");
        return as && save(as, false);
    }
    if (answer == 0) return save(std::nullopt, false);
    if (answer == 1) {
        session_.forget();
        refreshBar();
        return true;
    }
    return false;
}

bool ArchiveEditor::save(const std::optional<std::string>& as, bool reload) {
    if (!as && !pending()) return true;  // nothing to write
    try {
        EditSession::SavePlan plan = session_.planSave(as);
        cancel_ = false;
        if (!RunSave(w_.form, *w_.work, w_.state->archive, plan.edit, plan.target, duringSave, cancel_))
            return false;

        // Saved: what was pending is in the file now. The file is loaded again so that the
        // tree is the loader's own, with the selected entry selected again by its name.
        std::string selected;
        size_t occurrence = 0;
        const NodeId current = currentNode();
        if (current != kNoNode && !w_.tree->hasChildren(current)) {
            const int32_t entry = w_.tree->entryIndex(current);
            if (changes()->present(entry)) {
                selected = changes()->name(entry);
                for (EntryId id = 0; id < entry; ++id)
                    occurrence += changes()->present(id) && changes()->name(id) == selected;
            }
        }
        session_.forget();
        refreshBar();
        if (!reload) return true;
        w_.load(plan.target.path, !plan.target.inPlace);
        if (!editable() || selected.empty()) return true;
        for (EntryId id = 0; id < changes()->endId(); ++id) {
            if (changes()->name(id) != selected || occurrence-- != 0) continue;
            select(pendingTree()->nodeOf(id));
            break;
        }
        return true;
    } catch (const std::exception& e) {
        showException(e, w_.form);
        return false;
    }
}

void ArchiveEditor::select(NodeId node) {
    const QModelIndex index = w_.model->indexOf(node);
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) w_.tvFiles->expand(p);
    w_.tvFiles->setCurrentIndex(index);
    w_.tvFiles->scrollTo(index);
}

void ArchiveEditor::stepDone(const ArchiveChanges::Outcome& outcome) {
    if (!outcome.made) return;
    const NodeId current = currentNode();
    const bool currentIsFile = current != kNoNode && !w_.tree->hasChildren(current);
    const int32_t currentEntry = currentIsFile ? w_.tree->entryIndex(current) : -1;
    if (outcome.treeFrom) {
        const std::vector<std::string> currentPath = pathOf(current);
        std::vector<std::vector<std::string>> open;
        for (const NodeId n : expanded_) open.push_back(pathOf(n));
        std::sort(open.begin(), open.end(),
                  [](const auto& a, const auto& b) { return a.size() < b.size(); });
        w_.quietly([&] {
            w_.model->rebuild([&] { pendingTree()->update(*outcome.treeFrom); });
            expanded_.clear();
            for (const auto& path : open)
                if (const NodeId n = nodeAtPath(path); n != kNoNode && pathOf(n) == path)
                    w_.tvFiles->expand(w_.model->indexOf(n));
            // The current node again, or the folder it stood in when it is gone.
            NodeId again = kNoNode;
            if (currentIsFile && changes()->present(currentEntry))
                again = pendingTree()->nodeOf(currentEntry);
            else if (current != kNoNode)
                again = nodeAtPath(currentIsFile ? std::vector<std::string>(currentPath.begin(), currentPath.end() - 1)
                                                 : currentPath);
            if (again != kNoNode) select(again);
        });
    } else {
        std::vector<NodeId> nodes;
        for (const EntryId id : outcome.touched) nodes.push_back(pendingTree()->nodeOf(id));
        w_.model->marksChanged(nodes);
    }
    // The current entry's page shows what it holds now.
    if (currentIsFile && changes()->present(currentEntry) &&
        std::binary_search(outcome.touched.begin(), outcome.touched.end(), currentEntry))
        w_.showEntry(pendingTree()->nodeOf(currentEntry));
}

void ArchiveEditor::refreshBar() {
    const size_t n = changes() ? changes()->changeCount() : 0;
    w_.findBar->placeBesideChanges(n > 0);
    if (placeSearch) placeSearch(n > 0);
    if (n == 0) {
        bar_->hide();
        bar_->resize(245, 25);
        return;
    }
    barLabel_->setText(n == 1 ? QStringLiteral("1 unsaved change")
                              : QStringLiteral("%1 unsaved changes").arg(n));
    // While the find box is open the bar keeps its buttons and the box takes the count's place.
    const bool topTaken = w_.findBar->isVisible() || (searchOpen && searchOpen());
    bar_->resize(topTaken ? 130 : 245, 25);
    bar_->show();
}

}  // namespace vorlr
