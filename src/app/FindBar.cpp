#include "app/FindBar.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QTreeView>
#include <vector>

#include "app/FolderTreeModel.h"
#include "platform/Text.h"

namespace vorlr {

namespace {

constexpr int kTypingPauseMs = 10;
// Nodes looked at straight away, before the count: a match this near shows without waiting.
constexpr int32_t kQuickBudget = 4096;
// One slice of the count: entries between clock checks, and the longest a slice runs.
constexpr size_t kSliceEntries = 8192;
constexpr qint64 kSliceMs = 5;

}  // namespace

FindBar::FindBar(QWidget* parent, QTreeView& view, FolderTreeModel& model, const FolderTree& tree,
                 const Archive& archive)
    : QFrame(parent),
      view_(view),
      loadedModel_(model),
      archive_(archive),
      loadedSearch_(tree, archive),
      model_(&model),
      search_(&loadedSearch_) {
    setObjectName(QStringLiteral("FindBar"));
    setFrameStyle(QFrame::NoFrame);
    setGeometry(545, 10, 140, 25);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("edFind"));
    edit_->setGeometry(0, 0, 140, 25);
    edit_->setPlaceholderText(QStringLiteral("Find"));
    edit_->setToolTip(QStringLiteral(
        "Part of a stored name, or a pattern with * and ?\nEnter/F3: next, Shift+Enter/Shift+F3: "
        "previous, Escape: close"));
    edit_->installEventFilter(this);
    status_ = new QLabel(edit_);
    status_->setObjectName(QStringLiteral("laFind"));
    QPalette pal = status_->palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::PlaceholderText));
    status_->setPalette(pal);
    hide();

    typing_.setSingleShot(true);
    typing_.setInterval(kTypingPauseMs);
    connect(&typing_, &QTimer::timeout, this, [this] { search(true); });
    slices_.setInterval(0);
    connect(&slices_, &QTimer::timeout, this, &FindBar::scanSlice);
    connect(edit_, &QLineEdit::textChanged, this, &FindBar::textEdited);
    connect(view_.selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FindBar::currentChanged);

    // The bar's own keys: they act only while it is shown (and not while a load disables it).
    auto key = [this](const QKeySequence& seq, void (FindBar::*run)()) {
        auto* s = new QShortcut(seq, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, run);
    };
    key(QKeySequence(Qt::Key_F3), &FindBar::findNext);
    key(QKeySequence(Qt::SHIFT | Qt::Key_F3), &FindBar::findPrevious);
}

bool FindBar::ready() const { return archive_.isOpen() && !model_->loading(); }

void FindBar::open() {
    show();
    raise();
    if (shownOrHidden) shownOrHidden();
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
    if (ready()) {
        search_->prepare();  // here rather than at the first key
        if (!edit_->text().isEmpty() && search_->query().empty()) search(false);
    }
    showStatus();
}

void FindBar::closeBar() {
    typing_.stop();
    slices_.stop();
    pendingFirst_ = -1;
    const bool hadFocus = edit_->hasFocus();
    hide();
    if (shownOrHidden) shownOrHidden();
    search_->clear();
    if (hadFocus) view_.setFocus(Qt::OtherFocusReason);
}

void FindBar::useNames(const ArchiveChanges* changes) {
    loadedSearch_.useNames(changes);
    treeChanged();
}

void FindBar::treeChanged() {
    loadedSearch_.treeChanged();
    if (mergedSearch_) mergedSearch_->treeChanged();
    if (isVisible() && !search_->query().empty()) search(false);
}

void FindBar::findInMerged(FolderTreeModel& model, const FolderTree& tree, const MergedView& view) {
    disconnect(mergedCurrent_);
    mergedSearch_ = std::make_unique<EntrySearch>(tree, archive_, view);
    model_ = &model;
    search_ = mergedSearch_.get();
    // The lent view has a selection model of its own.
    mergedCurrent_ = connect(view_.selectionModel(), &QItemSelectionModel::currentChanged, this,
                             &FindBar::currentChanged);
    retargeted();
}

void FindBar::findThrough(Rows rows) {
    findInLoaded();
    rows_ = std::move(rows);
    mergedCurrent_ = connect(view_.selectionModel(), &QItemSelectionModel::currentChanged, this,
                             &FindBar::currentChanged);
    retargeted();
}

void FindBar::findInLoaded() {
    if (!mergedSearch_ && !rows_.nodeOf) return;
    disconnect(mergedCurrent_);
    model_ = &loadedModel_;
    search_ = &loadedSearch_;
    mergedSearch_.reset();
    rows_ = {};
    retargeted();
}

NodeId FindBar::currentNode() const {
    const QModelIndex current = view_.currentIndex();
    return rows_.nodeOf ? rows_.nodeOf(current) : model_->nodeOf(current);
}

QModelIndex FindBar::rowOf(NodeId node) const {
    return rows_.indexOf ? rows_.indexOf(node) : model_->indexOf(node);
}

void FindBar::retargeted() {
    typing_.stop();
    slices_.stop();
    pendingFirst_ = -1;
    loadedSearch_.clear();
    if (isVisible() && !edit_->text().isEmpty()) search(false);
    else showStatus();
}

void FindBar::placeBesideChanges(bool changesShown) {
    const bool finding = isVisible();
    if (changesShown && finding)
        place(575, 110);
    else
        place(545, 140);
}

void FindBar::place(int left, int width) {
    setGeometry(left, 10, width, 25);
    edit_->setGeometry(0, 0, width, 25);
    showStatus();
}

void FindBar::textEdited() {
    pendingFirst_ = -1;
    slices_.stop();
    typing_.start();
    if (edit_->text().isEmpty()) showStatus();
}

// The text as stored names hold it (8-bit); a character they cannot hold matches nothing.
void FindBar::search(bool select) {
    typing_.stop();
    slices_.stop();
    pendingFirst_ = -1;
    if (!ready()) return showStatus();
    const QString text = edit_->text();
    const std::string bytes = toCp1252(text);
    unmappable_ = fromCp1252(bytes) != text;
    search_->start(unmappable_ ? std::string() : bytes);
    if (!search_->query().empty()) {
        if (select) {
            const TreePlace here = search_->placeOf(currentNode());
            const int32_t r = search_->find(here.rank, true, kQuickBudget);
            if (r >= 0) go(r, true);
            if (r == EntrySearch::kUnknown) pendingFirst_ = here.rank;
        }
        if (!search_->scanned()) slices_.start();
    }
    showStatus();
}

void FindBar::scanSlice() {
    QElapsedTimer clock;
    clock.start();
    while (!search_->scan(kSliceEntries) && clock.elapsed() < kSliceMs) {
    }
    if (search_->scanned()) countDone();
    showStatus();
}

void FindBar::countDone() {
    slices_.stop();
    if (pendingFirst_ < 0) return;
    const int32_t r = search_->find(pendingFirst_, true, 0);
    pendingFirst_ = -1;
    if (r >= 0) go(r, true);
}

void FindBar::settle() {
    if (typing_.isActive()) search(true);
    if (!search_->scanned()) search_->scanAll();
    countDone();
    showStatus();
}

void FindBar::findNext() { step(true); }
void FindBar::findPrevious() { step(false); }

void FindBar::step(bool forward) {
    if (!isVisible() || !ready()) return;
    if (typing_.isActive() || pendingFirst_ >= 0) return settle();  // the first match comes first
    if (search_->query().empty()) return;
    const TreePlace here = search_->placeOf(currentNode());
    const int32_t start = forward ? here.rank + (here.exact ? 1 : 0) : here.rank - 1;
    int32_t r = search_->find(start, forward, kQuickBudget);
    if (r == EntrySearch::kUnknown) {
        // Asked for: finish the count now rather than answer later.
        search_->scanAll();
        countDone();
        r = search_->find(start, forward, 0);
    }
    if (r >= 0) go(r, forward);
    showStatus();
}

// As a click on the node: its folders opened from the top, then the node made current through
// the selection model (which runs the window's selection handler), then scrolled to.
void FindBar::go(int32_t rank, bool forward) {
    QModelIndex index = rowOf(search_->nodeAt(rank));
    if (!index.isValid() && rows_.indexOf) {
        if (!search_->scanned()) search_->scanAll();
        for (const int32_t first = rank; !index.isValid();) {
            rank = search_->find(forward ? rank + 1 : rank - 1, forward, 0);
            if (rank < 0 || rank == first) return;
            index = rowOf(search_->nodeAt(rank));
        }
    }
    if (!index.isValid()) return;
    struct Navigating {
        bool& flag;
        explicit Navigating(bool& f) : flag(f) { flag = true; }
        ~Navigating() { flag = false; }
    } navigating(navigating_);
    SelectAsClicked(view_, index);
}

void FindBar::currentChanged() {
    if (navigating_) return;
    pendingFirst_ = -1;  // the user went elsewhere meanwhile
    if (isVisible()) showStatus();
}

void FindBar::showStatus() {
    QString s;
    if (!ready()) {
        s = QStringLiteral("no archive");
    } else if (edit_->text().isEmpty()) {
        s.clear();
    } else if (unmappable_ || (search_->scanned() && search_->count() == 0)) {
        s = QStringLiteral("no match");
    } else if (!search_->scanned()) {
        s = QStringLiteral("counting...");
    } else {
        const TreePlace here = search_->placeOf(currentNode());
        if (here.exact && search_->isMatch(here.rank))
            s = QStringLiteral("%1 of %2").arg(search_->ordinal(here.rank)).arg(search_->count());
        else
            s = search_->count() == 1 ? QStringLiteral("1 match")
                                     : QStringLiteral("%1 matches").arg(search_->count());
    }
    status_->setText(s);
    // The status stands inside the field at its right end; the text keeps clear of it.
    const int w = s.isEmpty() ? 0 : status_->fontMetrics().horizontalAdvance(s) + 2;
    status_->setGeometry(edit_->width() - w - 4, 0, w, edit_->height());
    edit_->setTextMargins(0, 0, w ? w + 4 : 0, 0);
}

std::string FindBar::statusText() const { return status_->text().toStdString(); }

bool FindBar::eventFilter(QObject* watched, QEvent* e) {
    if (watched == edit_ && e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Escape) {
            closeBar();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            step(!(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QFrame::eventFilter(watched, e);
}

}  // namespace vorlr
