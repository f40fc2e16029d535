#include "app/ContentFind.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeView>
#include <algorithm>
#include <mutex>

#include "app/FolderTreeModel.h"
#include "edit/EditSession.h"
#include "platform/Text.h"

namespace vorlr {

namespace {
constexpr int kBatchMs = 25;          // results taken in from the search this often
constexpr size_t kBatchRows = 20000;  // at most this many at a time: a tick stays short
constexpr int kShownChars = 400;      // of a long line, the start is shown
}  // namespace

int ContentResults::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant ContentResults::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || static_cast<size_t>(index.row()) >= rows_.size())
        return {};
    const ContentResult& r = rows_[static_cast<size_t>(index.row())];
    if (r.line == 0) return fromCp1252(r.name) + QStringLiteral(": binary");
    return fromCp1252(r.name + ':' + std::to_string(r.line) + ':' + r.text.substr(0, kShownChars));
}

void ContentResults::append(std::vector<ContentResult>&& rows) {
    if (rows.empty()) return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endInsertRows();
}

void ContentResults::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

// What the search thread hands over; it outlives the window's side when a search is left.
struct ContentFind::Shared {
    std::mutex mutex;
    std::vector<ContentResult> pending;
    size_t done = 0, total = 0;
    bool ended = false;
    SearchSummary summary;
    SearchEntries entries;
};

ContentFind::ContentFind(Window w)
    : QObject(w.paMain), w_(std::move(w)), model_(w_.model), tree_(w_.tree) {
    top_ = new QFrame(w_.paMain);
    top_->setObjectName(QStringLiteral("paContentFind"));
    top_->setFrameStyle(QFrame::NoFrame);
    top_->setGeometry(545, 10, 140, 25);
    edit_ = new QLineEdit(top_);
    edit_->setObjectName(QStringLiteral("edContentFind"));
    edit_->setGeometry(0, 0, 140, 25);
    edit_->setPlaceholderText(QStringLiteral("Find in contents"));
    edit_->setToolTip(QStringLiteral("An extended regular expression, as qar grep takes it\n"
                                     "Enter: search, Escape: cancel or close"));
    edit_->installEventFilter(this);
    top_->hide();

    panel_ = new QFrame(w_.paMain);
    panel_->setObjectName(QStringLiteral("paContentResults"));
    panel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel_->setAutoFillBackground(true);
    panel_->setGeometry(220, 380, 570, 180);
    textOnly_ = new QCheckBox(QStringLiteral("Text only"), panel_);
    textOnly_->setObjectName(QStringLiteral("cbTextOnly"));
    textOnly_->setGeometry(6, 4, 80, 21);
    matchCase_ = new QCheckBox(QStringLiteral("Match case"), panel_);
    matchCase_->setObjectName(QStringLiteral("cbMatchCase"));
    matchCase_->setGeometry(88, 4, 90, 21);
    status_ = new QLabel(panel_);
    status_->setObjectName(QStringLiteral("laContentFind"));
    status_->setGeometry(182, 4, 214, 21);
    progress_ = new QProgressBar(panel_);
    progress_->setObjectName(QStringLiteral("pbContentFind"));
    progress_->setGeometry(400, 6, 100, 17);
    progress_->setTextVisible(false);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), panel_);
    cancel_->setObjectName(QStringLiteral("buContentCancel"));
    cancel_->setGeometry(504, 3, 60, 23);
    cancel_->setAutoDefault(false);
    list_ = new QListView(panel_);
    list_->setObjectName(QStringLiteral("lvContentResults"));
    list_->setGeometry(4, 28, 562, 148);
    list_->setUniformItemSizes(true);
    list_->setModel(&results_);
    list_->installEventFilter(this);
    panel_->hide();

    connect(cancel_, &QPushButton::clicked, this, &ContentFind::cancel);
    connect(list_, &QListView::clicked, this, [this](const QModelIndex& i) { openResult(i.row()); });
    connect(list_, &QListView::activated, this, [this](const QModelIndex& i) { openResult(i.row()); });
    for (QCheckBox* box : {textOnly_, matchCase_})
        connect(box, &QCheckBox::toggled, this, [this] {
            if (!edit_->text().isEmpty()) start();
        });
    batches_.setInterval(kBatchMs);
    connect(&batches_, &QTimer::timeout, this, &ContentFind::drain);
}

ContentFind::~ContentFind() { stopWorker(); }

bool ContentFind::isOpen() const { return top_->isVisible(); }

void ContentFind::open() {
    if (w_.opening) w_.opening();
    top_->show();
    top_->raise();
    panel_->show();
    panel_->raise();
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
    if (shownOrHidden) shownOrHidden();
}

void ContentFind::placeBesideChanges(bool changesShown) {
    const bool besideChanges = changesShown && isOpen();
    const int left = besideChanges ? 575 : 545, width = besideChanges ? 110 : 140;
    top_->setGeometry(left, 10, width, 25);
    edit_->setGeometry(0, 0, width, 25);
}

void ContentFind::closeSearch() {
    stopWorker();
    const bool hadFocus = top_->isAncestorOf(QApplication::focusWidget()) ||
                          panel_->isAncestorOf(QApplication::focusWidget());
    top_->hide();
    panel_->hide();
    results_.clear();
    status_->clear();
    progress_->reset();
    if (hadFocus) w_.tvFiles->setFocus(Qt::OtherFocusReason);
    if (shownOrHidden) shownOrHidden();
}

void ContentFind::stopWorker() {
    batches_.stop();
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
    shared_.reset();
    cancel_->setEnabled(false);
}

void ContentFind::start() {
    stopWorker();
    results_.clear();
    progress_->reset();
    SearchQuery query;
    query.pattern = toCp1252(edit_->text());
    query.options.ignoreCase = !matchCase_->isChecked();
    query.textOnly = textOnly_->isChecked();
    if (query.pattern.empty()) return status_->clear();
    try {
        SearchPattern check(query.pattern, query.options);
    } catch (const PatternError& e) {
        status_->setText(QStringLiteral("bad pattern: ") + QString::fromStdString(e.what()));
        return;
    }
    shared_ = std::make_shared<Shared>();
    shared_->entries = merged_ ? merged_() : entries(*w_.session);
    shared_->total = shared_->entries.list.names.size();
    progress_->setRange(0, 1000);
    status_->setText(QStringLiteral("searching..."));
    cancel_->setEnabled(true);
    worker_ = std::jthread([shared = shared_, query, after = afterEntry](std::stop_token stop) {
        SearchRun run;
        run.workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        run.stop = stop;
        const SearchEntries& entries = shared->entries;
        run.onEntry = [&](EntryHits&& hits) {
            std::vector<ContentResult> rows;
            const EntryId id = entries.ids[hits.index];
            const std::string& name = entries.list.names[hits.index];
            if (hits.as == SearchedAs::Bytes) {
                if (hits.matchingLines > 0) rows.push_back({id, name, 0, 0, 0, {}});
            } else {
                for (LineHit& line : hits.lines) {
                    const PatternMatch m = line.matches.front();
                    rows.push_back({id, name, line.number, line.offset + static_cast<int64_t>(m.start),
                                    static_cast<int64_t>(m.length), std::move(line.text)});
                }
            }
            {
                std::lock_guard lock(shared->mutex);
                std::move(rows.begin(), rows.end(), std::back_inserter(shared->pending));
            }
            if (after) after();
            return !stop.stop_requested();
        };
        run.progress = [&](size_t done, size_t) {
            std::lock_guard lock(shared->mutex);
            shared->done = done;
        };
        SearchSummary summary;
        try {
            summary = SearchContents(entries.list, query, run);
        } catch (const std::exception&) {
            summary.stopped = true;  // the pattern compiled above; a worker that could not start
        }
        std::lock_guard lock(shared->mutex);
        shared->summary = summary;
        shared->ended = true;
    });
    batches_.start();
}

void ContentFind::cancel() {
    if (!worker_.joinable()) return;
    worker_.request_stop();
    settle();
}

void ContentFind::drain() {
    if (!shared_) return;
    std::vector<ContentResult> rows;
    size_t done, total;
    bool ended;
    {
        std::lock_guard lock(shared_->mutex);
        std::vector<ContentResult>& p = shared_->pending;
        const size_t n = std::min(p.size(), kBatchRows);
        rows.assign(std::make_move_iterator(p.begin()), std::make_move_iterator(p.begin() + static_cast<ptrdiff_t>(n)));
        p.erase(p.begin(), p.begin() + static_cast<ptrdiff_t>(n));
        done = shared_->done;
        total = shared_->total;
        ended = shared_->ended && p.empty();
    }
    results_.append(std::move(rows));
    progress_->setValue(total ? static_cast<int>(done * 1000 / total) : 1000);
    if (ended) return finish();
    status_->setText(QStringLiteral("searching... %1 found").arg(results_.rowCount()));
}

void ContentFind::finish() {
    const SearchSummary summary = shared_->summary;
    stopWorker();
    const int n = results_.rowCount();
    QString s = n == 0 ? QStringLiteral("nothing found")
                : n == 1 ? QStringLiteral("1 match")
                         : QStringLiteral("%1 matches").arg(n);
    if (summary.stopped) s += QStringLiteral(" (cancelled)");
    if (summary.errors > 0) s += QStringLiteral(", %1 entries damaged").arg(summary.errors);
    status_->setText(s);
    progress_->setValue(progress_->maximum());
}

void ContentFind::settle() {
    if (!shared_) return;
    if (worker_.joinable()) worker_.join();
    while (shared_) drain();
}

std::string ContentFind::statusText() const { return status_->text().toStdString(); }

void ContentFind::searchIn(FolderTreeModel* model, const FolderTree* tree,
                           std::function<SearchEntries()> mergedEntries) {
    stopWorker();
    results_.clear();
    status_->clear();
    progress_->reset();
    model_ = model ? model : w_.model;
    tree_ = model ? tree : w_.tree;
    merged_ = model ? std::move(mergedEntries) : nullptr;
}

NodeId ContentFind::nodeOf(EntryId id) const {
    if (!merged_ && w_.session->tree()) return w_.session->tree()->nodeOf(id);
    for (NodeId n = tree_->first(); n != kNoNode; n = tree_->next(n))
        if (tree_->entryIndex(n) == id && !tree_->hasChildren(n)) return n;
    return kNoNode;
}

// As the find box selects: the folders above opened, the node made current and scrolled to;
// then, for a text, the match selected on the Text page.
void ContentFind::openResult(int row) {
    if (row < 0 || row >= results_.rowCount()) return;
    const ContentResult r = results_.rows()[static_cast<size_t>(row)];
    const NodeId node = nodeOf(r.id);
    const QModelIndex index = model_->indexOf(node);
    if (!index.isValid()) return;
    if (!SelectAsClicked(*w_.tvFiles, index)) {
        if (merged_ && mergedShow) mergedShow(node);
        else if (!merged_) w_.showEntry(node);
    }
    if (r.line == 0) return;
    QTextDocument* doc = w_.reText->document();
    const int last = std::max(0, doc->characterCount() - 1);
    const int from = static_cast<int>(std::min<int64_t>(r.offset, last));
    QTextCursor c(doc);
    c.setPosition(from);
    c.setPosition(static_cast<int>(std::min<int64_t>(r.offset + r.length, last)), QTextCursor::KeepAnchor);
    w_.reText->setTextCursor(c);
    // The line a little below the page's top: the results cover the page's foot.
    QScrollBar* bar = w_.reText->verticalScrollBar();
    bar->setValue(bar->value() + w_.reText->cursorRect().top() - 40);
}

bool ContentFind::eventFilter(QObject* watched, QEvent* e) {
    if ((watched == edit_ || watched == list_) && e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Escape) {
            if (running())
                cancel();
            else
                closeSearch();
            return true;
        }
        if (watched == edit_ && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            start();
            return true;
        }
    }
    return QObject::eventFilter(watched, e);
}

}  // namespace vorlr
