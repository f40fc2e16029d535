#include "app/UpdateFromFolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>

#include "app/ArchiveEditor.h"
#include "app/FolderTreeModel.h"
#include "platform/gui/Dialogs.h"

namespace vorlr {

namespace {

// Rows added to the list per look at the comparison: the event loop is never held long.
constexpr size_t kRowsPerPoll = 400;
constexpr int kPollMs = 30;

enum Column { Change, Name, OldSize, NewSize, Note };

QString sizeText(int64_t size) { return size < 0 ? QString() : QString::number(size); }

QString local(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

ReviewDialog::ReviewDialog(QWidget* parent, EditSession& session, const FolderTree& tree,
                           NodeId scope, std::string folder)
    : QDialog(parent), session_(session), tree_(tree), scope_(scope), folder_(std::move(folder)) {
    setObjectName(QStringLiteral("reviewDialog"));
    setWindowTitle(QStringLiteral("Update from folder"));
    setWindowModality(Qt::WindowModal);
    resize(640, 420);
    auto* layout = new QVBoxLayout(this);
    auto* from = new QLabel(QStringLiteral("Folder: ") + local(folder_), this);
    layout->addWidget(from);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("reviewList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setHeaderLabels({QString(), QStringLiteral("Name"), QStringLiteral("Old size"),
                            QStringLiteral("New size"), QString()});
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(Change, 48);
    list_->setColumnWidth(Name, 260);
    layout->addWidget(list_, 1);
    matchNames_ = new QCheckBox(QStringLiteral("Match files by name anywhere in the folder"), this);
    deleteMissing_ = new QCheckBox(QStringLiteral("Delete entries that have no file"), this);
    layout->addWidget(matchNames_);
    layout->addWidget(deleteMissing_);
    auto* bottom = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("reviewStatus"));
    bottom->addWidget(progress_, 1);
    bottom->addWidget(status_, 1);
    auto* buttons = new QDialogButtonBox(this);
    apply_ = buttons->addButton(QStringLiteral("Apply"), QDialogButtonBox::AcceptRole);
    cancel_ = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    apply_->setDefault(true);
    apply_->setAutoDefault(true);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);

    connect(apply_, &QPushButton::clicked, this, [this] { guarded([this] { applyRows(); }, this); });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(matchNames_, &QCheckBox::toggled, this, [this] { compare(); });
    connect(deleteMissing_, &QCheckBox::toggled, this, [this] { compare(); });
    connect(list_, &QTreeWidget::itemChanged, this, [this] { refreshApply(); });
    connect(&timer_, &QTimer::timeout, this, [this] { guarded([this] { poll(); }, this); });
    timer_.setInterval(kPollMs);
    compare();
}

ReviewDialog::~ReviewDialog() = default;  // the review cancels and waits

void ReviewDialog::reject() {
    if (review_) review_->cancel();
    QDialog::reject();
}

// The comparison from the start with the options as they are now.
void ReviewDialog::compare() {
    review_.reset();
    rows_.clear();
    backlog_.clear();
    list_->clear();
    ReviewOptions options;
    options.matchNames = matchNames_->isChecked();
    options.deleteMissing = deleteMissing_->isChecked();
    options.node = scope_;
    review_ = std::make_unique<FolderReview>(session_, &tree_, folder_, options);
    progress_->setRange(0, static_cast<int>(std::min<size_t>(review_->total(), 1 << 30)));
    progress_->setValue(0);
    progress_->show();
    status_->setText(QStringLiteral("Comparing..."));
    apply_->setEnabled(false);
    review_->start();
    timer_.start();
}

void ReviewDialog::poll() {
    if (!review_) return;
    const bool finished = review_->finished();  // before the rows: none come after it
    for (ReviewRow& row : review_->takeRows()) backlog_.push_back(std::move(row));
    // A few rows at a time, so the event loop is never held long.
    const auto started = std::chrono::steady_clock::now();
    list_->setUpdatesEnabled(false);
    size_t k = 0;
    for (; k < backlog_.size() && k < kRowsPerPoll &&
           std::chrono::steady_clock::now() - started < std::chrono::milliseconds(20);
         ++k)
        addRow(std::move(backlog_[k]));
    backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(k));
    list_->setUpdatesEnabled(true);
    progress_->setValue(static_cast<int>(std::min<size_t>(review_->done(), 1 << 30)));
    if (!backlog_.empty()) return;
    if (!finished) return;
    timer_.stop();
    progress_->hide();
    if (const std::string failure = review_->failure(); !failure.empty())
        status_->setText(local(failure));
    else if (rows_.empty())
        status_->setText(QStringLiteral("Nothing to change."));
    else
        status_->setText(QString::number(rows_.size()) + (rows_.size() == 1 ? QStringLiteral(" change")
                                                                              : QStringLiteral(" changes")));
    refreshApply();
}

void ReviewDialog::addRow(ReviewRow row) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(Change, QString(QChar(row.kind)));
    item->setText(Name, local(row.name));
    item->setText(OldSize, sizeText(row.oldSize));
    item->setText(NewSize, sizeText(row.newSize));
    item->setTextAlignment(OldSize, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(NewSize, Qt::AlignRight | Qt::AlignVCenter);
    if (!row.reason.empty()) {
        item->setText(Note, local(row.reason));
        item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
    } else if (!row.candidates.empty()) {
        // Not taken unless an entry is picked in the row.
        auto* choice = new QComboBox(list_);
        choice->addItem(QStringLiteral("Several entries have this file name: pick one"));
        for (const EntryId id : row.candidates) choice->addItem(local(session_.entryName(id)));
        const size_t at = rows_.size();
        connect(choice, &QComboBox::activated, this, [this, at](int index) {
            if (index > 0) pick(at, static_cast<size_t>(index - 1));
        });
        list_->setItemWidget(item, Note, choice);
    } else {
        item->setCheckState(Change, Qt::Checked);
    }
    rows_.push_back(std::move(row));
}

void ReviewDialog::pick(size_t row, size_t candidate) {
    if (row >= rows_.size() || candidate >= rows_[row].candidates.size()) return;
    rows_[row].picked = rows_[row].candidates[candidate];
    QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(row));
    if (auto* choice = qobject_cast<QComboBox*>(list_->itemWidget(item, Note)))
        choice->setCurrentIndex(static_cast<int>(candidate) + 1);
    item->setCheckState(Change, Qt::Checked);
    refreshApply();
}

void ReviewDialog::refreshApply() {
    bool any = false;
    for (int k = 0; k < list_->topLevelItemCount() && !any; ++k)
        any = static_cast<size_t>(k) < rows_.size() && rows_[static_cast<size_t>(k)].takeable() &&
              list_->topLevelItem(k)->checkState(Change) == Qt::Checked;
    apply_->setEnabled(any && review_ && review_->finished());
}

void ReviewDialog::applyRows() {
    if (!review_ || !review_->finished()) return;
    std::vector<bool> ticked(rows_.size(), false);
    for (size_t k = 0; k < rows_.size(); ++k)
        ticked[k] = list_->topLevelItem(static_cast<int>(k))->checkState(Change) == Qt::Checked;
    ApplyReview(session_, folder_, rows_, ticked);
    accept();
}

UpdateFromFolder::UpdateFromFolder(ArchiveEditor& editor, QWidget& form, QWidget& keys,
                                   QTreeView& view, FolderTreeModel& model, const FolderTree& tree)
    : QObject(&form), form_(form), view_(view), model_(model), tree_(tree), editor_(editor) {
    auto* key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_U), &keys);
    key->setContext(Qt::WindowShortcut);
    key->setAutoRepeat(false);
    connect(key, &QShortcut::activated, this, [this] { guarded([this] { runCurrent(); }, &form_); });
}

void UpdateFromFolder::addToMenu(QMenu& menu, NodeId node) {
    // kNoNode: the whole archive (a new archive's empty tree).
    if (node >= tree_.size() || (node >= 0 && !tree_.hasChildren(node)) || node < kNoNode ||
        !editor_.editable())
        return;
    QAction* action = menu.addAction(QStringLiteral("Update from folder..."));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    connect(action, &QAction::triggered, this, [this, node] { guarded([&] { run(node); }, &form_); });
}

void UpdateFromFolder::runCurrent() {
    NodeId node = model_.nodeOf(view_.currentIndex());
    if (node != kNoNode && !tree_.hasChildren(node)) node = tree_.parent(node);
    if (node != kNoNode && tree_.depth(node) == 0) node = kNoNode;
    run(node);
}

void UpdateFromFolder::run(NodeId scope) {
    if (dialog_ || editor_.busy() || !editor_.ready(true)) return;
    const std::optional<std::string> folder = dialogs().getFolderToUpdateFrom(&form_);
    if (!folder) return;
    dialog_ = new ReviewDialog(&form_, editor_.session(), tree_, scope, *folder);
    dialog_->setAttribute(Qt::WA_DeleteOnClose);
    dialog_->open();
}

}  // namespace vorlr
