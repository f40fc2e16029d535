#include "app/ArchiveComparison.h"

#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <chrono>
#include <future>

#include "app/ArchiveEditor.h"
#include "app/ComparisonModel.h"
#include "app/FindBar.h"
#include "app/FolderTreeModel.h"
#include "app/TopRowLine.h"
#include "app/TreeViewSwap.h"
#include "app/ViewerState.h"
#include "app/WorkProgress.h"
#include "archive/ArchiveDiff.h"
#include "archive/Container.h"
#include "edit/EditSession.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace vorlr {
namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The tree's rows while comparing: one height as ever, and each mark after the text (not part
// of it) in a colour of its own; removed rows struck out.
class MarkDelegate final : public QStyledItemDelegate {
public:
    MarkDelegate(const QAbstractItemDelegate& rows, QObject* parent)
        : QStyledItemDelegate(parent), rows_(rows) {}
    // Rows as high as the tree's own delegate makes them.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(),
                rows_.sizeHint(option, index).height()};
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int mark = index.data(ComparisonModel::kMarkRole).toInt();
        if (mark == 0) return;
        QColor colour;
        if (mark & Comparison::kRemoved) {
            option->font.setStrikeOut(true);
            option->text += QStringLiteral("  -");
            colour = option->palette.color(QPalette::Dark);
        } else if (mark & Comparison::kAdded) {
            option->text += QStringLiteral("  +");
            colour = QColor(0, 128, 0);
        } else if (mark & Comparison::kRenamed) {
            option->text +=
                QStringLiteral("  \u2190 ") + index.data(ComparisonModel::kOldNameRole).toString();
            colour = QColor(128, 0, 128);
        } else {
            option->text += QStringLiteral("  ");
            if (mark & Comparison::kModified) option->text += QStringLiteral("M");
            if (mark & Comparison::kUnread) option->text += QStringLiteral("X");
            colour = QColor(0, 0, 192);
        }
        option->fontMetrics = QFontMetrics(option->font);
        option->palette.setColor(QPalette::Text, colour);
    }

private:
    const QAbstractItemDelegate& rows_;
};

}  // namespace

ArchiveComparison::ArchiveComparison(const Window& window) : QObject(window.form), w_(window) {
    w_.model->foreignNode = [this](const QModelIndex& index) {
        return model_ && index.model() == model_.get() ? tree_->node(model_->itemOf(index))
                                                       : kNoNode;
    };
    delegate_ = new MarkDelegate(*w_.tvFiles->itemDelegate(), this);
    connect(w_.tvFiles, &QTreeView::expanded, this, [this](const QModelIndex& i) {
        if (active() && i.model() == model_.get()) comparedExpanded_.insert(model_->itemOf(i));
    });
    connect(w_.tvFiles, &QTreeView::collapsed, this, [this](const QModelIndex& i) {
        if (active() && i.model() == model_.get()) comparedExpanded_.erase(model_->itemOf(i));
    });
    // Whatever changes the archive or its tree ends the comparison before it does.
    const QPointer<ArchiveComparison> self(this);
    w_.session->onTreeRebuilding([self] {
        if (self) self->leave();
    });
    w_.session->onStep([self](const EditSession::Outcome& outcome) {
        if (self && outcome.made) self->leave();
    });
    w_.session->onEnd([self] {
        if (self) self->leave();
    });
    findShownOrHidden_ = w_.findBar->shownOrHidden;
    // The find box finds in the compared tree; the line keeps clear of it meanwhile.
    w_.findBar->shownOrHidden = [this] {
        summary_->resize(w_.findBar->isHidden() ? 245 : 100, summary_->height());
        if (active()) refreshSummary();
        if (findShownOrHidden_) findShownOrHidden_();
    };

    summary_ = makeTopRowLine(w_.paMain, QStringLiteral("laComparison"));

    auto key = [this](QWidget* owner, const QKeySequence& seq, Qt::ShortcutContext context,
                      std::function<void()> run) {
        auto* s = new QShortcut(seq, owner);
        s->setContext(context);
        s->setAutoRepeat(false);
        connect(s, &QShortcut::activated, this, [this, run] { guarded(run, w_.form); });
        return s;
    };
    key(w_.paMain, QKeySequence(Qt::CTRL | Qt::Key_D), Qt::WindowShortcut, [this] { toggle(); });
    // Only while comparing, so that the keys stay the focused control's otherwise.
    switchKey_ =
        key(w_.paMain, QKeySequence(Qt::Key_F6), Qt::WindowShortcut, [this] { switchVersion(); });
    changesKey_ = key(w_.paMain, QKeySequence(Qt::CTRL | Qt::Key_H), Qt::WindowShortcut,
                      [this] { setChangesOnly(!changesOnly()); });
    escapeKey_ =
        key(w_.tvFiles, QKeySequence(Qt::Key_Escape), Qt::WidgetShortcut, [this] { leave(); });
    for (QShortcut* s : {switchKey_, changesKey_, escapeKey_}) s->setEnabled(false);
}

ArchiveComparison::~ArchiveComparison() {
    showingOther_ = shownSince_ = false;  // no page shown while the window goes
    leave();
    w_.model->foreignNode = nullptr;
    w_.findBar->shownOrHidden = findShownOrHidden_;
}

bool ArchiveComparison::ready() const {
    if (*w_.work != WindowWork::Idle) return false;
    const ViewerState& state = *w_.state;
    if (!state.archive.isOpen() || w_.model->loading()) return false;
    if (state.archive.entryCount() < state.EntryOffsetTable.size()) {
        showInformationText(
            "The loading of this archive was stopped: load it again to its end to compare it.",
            w_.form);
        return false;
    }
    if (w_.editor->pending()) {
        showInformationText(
            "This archive has unsaved changes: save or discard them before comparing it.", w_.form);
        return false;
    }
    return true;
}

void ArchiveComparison::toggle() {
    if (active()) {
        leave();
        return;
    }
    if (*w_.work != WindowWork::Idle || !w_.state->archive.isOpen()) return;
    if (refused && refused()) return;
    if (const std::optional<std::string> path = dialogs().getOpenFileName(w_.form))
        compareWith(*path);
}

bool ArchiveComparison::compareWith(const std::string& path) {
    leave();
    if ((refused && refused()) || !ready()) return false;
    if (!ValidateArchive(path)) {
        showInformationText("Not a valid vorlund packed-file!", w_.form);
        return false;
    }
    Comparison::Watch watch;
    cancelRequested_ = false;
    std::unique_ptr<Comparison> result;
    {
        WorkProgress run(w_.form, *w_.work, WindowWork::Comparing,
                         QStringLiteral("Comparing with %1 ...").arg(fromCp1252(baseName(path))),
                         1000, 400);
        run.afterDispatch = [this] {
            if (duringCompare) duringCompare();
        };
        // Both archives are read on threads of their own; the window waits here, dispatching.
        auto later = std::async(std::launch::async, [&] {
            return Comparison::Compare(w_.state->archive, path, &watch);
        });
        while (later.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            if (const size_t total = watch.total; total > 0)
                run.dialog().setValue(
                    static_cast<int>(std::min<size_t>(999, watch.done() * 1000 / total)));
            if (!run.dispatch() || cancelRequested_) watch.stop = true;
        }
        try {
            result = later.get();
        } catch (const FingerprintCancelled&) {
            return false;
        } catch (const Error& e) {
            throw Error(baseName(path) + ": " + e.what());
        }
    }
    enter(std::move(result), path);
    return true;
}

void ArchiveComparison::enter(std::unique_ptr<Comparison> comparison, const std::string& path) {
    QTreeView& view = *w_.tvFiles;
    const NodeId current = w_.model->nodeOf(view.currentIndex());

    comparison_ = std::move(comparison);
    tree_ = std::make_unique<ComparisonTree>(*w_.tree, *comparison_);
    model_ = std::make_unique<ComparisonModel>(*tree_);
    otherName_ = baseName(path);
    showingOther_ = shownSince_ = false;
    comparedExpanded_.clear();
    w_.swap->lend(*model_, delegate_);
    // The same folders open and the same node current, its page left as it is.
    const std::set<NodeId>& open = w_.swap->expanded();
    expandAgain(std::set<ComparisonTree::Item>(open.begin(), open.end()));
    if (const QModelIndex i = model_->indexOf(current); i.isValid()) view.setCurrentIndex(i);
    currentConnection_ =
        connect(view.selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& i) { guarded([&] { show(i); }, w_.form); });
    w_.swap->keepScroll();
    // The loaded tree's nodes are the compared tree's items.
    w_.findBar->findThrough(
        {[this](const QModelIndex& i) { return tree_->node(model_->itemOf(i)); },
         [this](NodeId node) { return model_->indexOf(static_cast<ComparisonTree::Item>(node)); }});
    for (QShortcut* s : {switchKey_, changesKey_, escapeKey_}) s->setEnabled(true);
    refreshSummary();
    summary_->show();
}

void ArchiveComparison::expandAgain(const std::set<ComparisonTree::Item>& items) {
    for (const ComparisonTree::Item item : items)
        if (const QModelIndex i = model_->indexOf(item); i.isValid()) w_.tvFiles->expand(i);
}

void ArchiveComparison::leave() {
    if (!active()) return;
    QTreeView& view = *w_.tvFiles;
    disconnect(currentConnection_);
    w_.findBar->findInLoaded();
    w_.swap->giveBack();

    model_.reset();
    tree_.reset();
    comparison_.reset();
    for (QShortcut* s : {switchKey_, changesKey_, escapeKey_}) s->setEnabled(false);
    summary_->hide();
    // The page shows the current entry again when the comparison showed another.
    const bool reshow = shownSince_ || showingOther_;
    showingOther_ = shownSince_ = false;
    if (reshow)
        if (const NodeId node = w_.model->nodeOf(view.currentIndex()); node != kNoNode)
            w_.showEntry(node);
}

bool ArchiveComparison::changesOnly() const { return tree_ && tree_->changesOnly(); }

void ArchiveComparison::setChangesOnly(bool on) {
    if (!active() || on == changesOnly()) return;
    QTreeView& view = *w_.tvFiles;
    const ComparisonTree::Item current = currentItem();
    const std::set<ComparisonTree::Item> open = comparedExpanded_;
    disconnect(currentConnection_);
    model_->setChangesOnly(on);
    comparedExpanded_.clear();
    expandAgain(open);
    // Folders hidden meanwhile open again with the unchanged entries.
    for (const ComparisonTree::Item item : open)
        if (!tree_->shown(item)) comparedExpanded_.insert(item);
    for (ComparisonTree::Item item = current; item != ComparisonTree::kTop;
         item = tree_->parent(item))
        if (const QModelIndex i = model_->indexOf(item); i.isValid()) {
            view.setCurrentIndex(i);
            view.scrollTo(i);
            break;
        }
    currentConnection_ =
        connect(view.selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& i) { guarded([&] { show(i); }, w_.form); });
    refreshSummary();
}

ComparisonTree::Item ArchiveComparison::currentItem() const {
    return model_ ? model_->itemOf(w_.tvFiles->currentIndex()) : ComparisonTree::kTop;
}

void ArchiveComparison::show(const QModelIndex& current) {
    const ComparisonTree::Item item = model_->itemOf(current);
    if (item == ComparisonTree::kTop) return;
    shownSince_ = true;
    const bool wasOther = showingOther_;
    showingOther_ = false;
    if (const NodeId node = tree_->node(item); node != kNoNode) {
        w_.showEntry(node);
    } else if (const int32_t entry = tree_->removedEntry(item); entry >= 0) {
        showOtherEntry(entry, tree_->text(item));
    }
    if (wasOther) refreshSummary();
}

void ArchiveComparison::switchVersion() {
    if (!active()) return;
    const NodeId node = tree_->node(currentItem());
    if (node == kNoNode || w_.tree->hasChildren(node)) return;
    const int32_t other = comparison_->otherVersion(w_.tree->entryIndex(node));
    if (other < 0) return;
    shownSince_ = true;
    if (showingOther_) {
        showingOther_ = false;
        w_.showEntry(node);
    } else {
        showOtherEntry(other, w_.tree->text(node));
        showingOther_ = true;
    }
    refreshSummary();
}

void ArchiveComparison::showOtherEntry(int32_t entry, const std::string& fileName) {
    const ArchiveEntry e = comparison_->other().entry(static_cast<size_t>(entry));
    auto bytes = std::make_unique<ArchiveReader>(comparison_->other());
    bytes->seek(e.offset);
    w_.showBytes(fileName, std::move(bytes), e.size, e.offset);
}

void ArchiveComparison::refreshSummary() {
    const Comparison& c = *comparison_;
    const size_t added = c.count(Comparison::kAdded), removed = c.count(Comparison::kRemoved),
                 modified = c.count(Comparison::kModified), renamed = c.count(Comparison::kRenamed),
                 records = c.count(Comparison::kUnread);
    const QString other = fromCp1252(otherName_);
    const QString line = showingOther_ ? QStringLiteral("Shown: %1").arg(other)
                                       : QStringLiteral("vs %1").arg(other);
    summary_->setText(summary_->fontMetrics().elidedText(line, Qt::ElideRight, summary_->width()));
    QString tip = QStringLiteral(
                      "Compared with %1: %2 added, %3 removed, %4 changed, %5 renamed, %6 with "
                      "changed records")
                      .arg(other)
                      .arg(added)
                      .arg(removed)
                      .arg(modified)
                      .arg(renamed)
                      .arg(records);
    if (c.headerDiffers()) tip += QStringLiteral("; the first 512 bytes differ");
    tip += showingOther_
               ? QStringLiteral(". The page shows %1's version (F6: this archive's).").arg(other)
               : QStringLiteral(". F6: a changed entry's other version; Ctrl+D or Escape: leave.");
    summary_->setToolTip(tip);
}

void ArchiveComparison::addMenuItems(QMenu& menu) {
    if (!active()) {
        QAction* a = menu.addAction(QStringLiteral("Compare with archive..."));
        a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
        a->setShortcutContext(Qt::WidgetShortcut);  // shown here; the window's key acts
        a->setEnabled(*w_.work == WindowWork::Idle);
        connect(a, &QAction::triggered, this, [this] { guarded([this] { toggle(); }, w_.form); });
        return;
    }
    menu.addSeparator();
    const NodeId node = tree_->node(currentItem());
    const bool switchable = node != kNoNode && !w_.tree->hasChildren(node) &&
                            comparison_->otherVersion(w_.tree->entryIndex(node)) >= 0;
    QAction* other = menu.addAction(QStringLiteral("Show other version"));
    other->setShortcut(QKeySequence(Qt::Key_F6));
    other->setShortcutContext(Qt::WidgetShortcut);
    other->setEnabled(switchable);
    connect(other, &QAction::triggered, this,
            [this] { guarded([this] { switchVersion(); }, w_.form); });
    QAction* only = menu.addAction(QStringLiteral("Changes only"));
    only->setCheckable(true);
    only->setChecked(changesOnly());
    only->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    only->setShortcutContext(Qt::WidgetShortcut);
    connect(only, &QAction::toggled, this,
            [this](bool on) { guarded([&] { setChangesOnly(on); }, w_.form); });
    QAction* leaving = menu.addAction(QStringLiteral("Leave comparison"));
    leaving->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    leaving->setShortcutContext(Qt::WidgetShortcut);
    connect(leaving, &QAction::triggered, this, [this] { guarded([this] { leave(); }, w_.form); });
}

void ArchiveComparison::showRowMenu(const QModelIndex& at, const QPoint& globalPos) {
    if (!active() || model_->itemOf(at) == ComparisonTree::kTop) return;
    QMenu menu(w_.form);
    addMenuItems(menu);
    menu.exec(globalPos);
}

}  // namespace vorlr
