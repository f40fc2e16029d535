#include "app/BytesPage.h"

#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/BytesView.h"
#include "app/FolderTreeModel.h"
#include "edit/EditSession.h"
#include "platform/gui/Dialogs.h"
#include "platform/Errors.h"

namespace vorlr {

namespace {

QString hex(int64_t n) { return QStringLiteral("$") + QString::number(n, 16).toUpper(); }

}  // namespace

BytesPage::BytesPage(QTabWidget& pageControl, QTreeView& view, FolderTreeModel& model,
                     const FolderTree& tree, const EditSession& session)
    : QObject(&pageControl), pageControl_(pageControl), treeView_(view), model_(model), tree_(tree),
      session_(session) {
    // A hidden child until asked for: the page control shows its three pages as before.
    page_ = new QWidget(&pageControl);
    page_->setObjectName(QStringLiteral("tsBytes"));
    page_->hide();
    auto* layout = new QVBoxLayout(page_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    view_ = new BytesView(page_);
    status_ = new QLabel(page_);
    status_->setObjectName(QStringLiteral("laBytes"));
    status_->setTextFormat(Qt::PlainText);
    // Its text changes with every cursor step: a fixed line, so that no change lays out the page.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    status_->setFixedHeight(status_->fontMetrics().height() + 2);
    layout->addWidget(view_, 1);
    layout->addWidget(status_);
    view_->statusChanged = [this] { status_->setText(view_->statusText()); };

    // The page's keys act only while it shows (a hidden page's shortcuts are silent).
    auto key = [this](const QKeySequence& seq, std::function<void()> run) {
        auto* s = new QShortcut(seq, page_);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, [this, run] { guarded(run, view_); });
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_J), [this] { view_->askGoTo(); });
    key(QKeySequence(Qt::CTRL | Qt::Key_K), [this] { view_->askFind(false); });
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K), [this] { view_->askFind(true); });

    // Another page brought to the front (a tab, Ctrl+1..3, a folder's pictures) ends the bytes.
    connect(&pageControl_, &QTabWidget::currentChanged, this, [this](int index) {
        if (shown_ && pageControl_.widget(index) != page_) drop();
    });
}

// The view lets go of the entry's reader while the archive it reads still exists.
BytesPage::~BytesPage() { view_->clear(); }

void BytesPage::addToMenu(QMenu& menu, NodeId node) {
    if (node < 0 || node >= tree_.size() || tree_.hasChildren(node)) return;
    QAction* action = menu.addAction(QStringLiteral("Show bytes"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(action, &QAction::triggered, this,
            [this, node] { guarded([&] { show(node); }, &treeView_); });
}

void BytesPage::showCurrent() { show(model_.nodeOf(treeView_.currentIndex())); }

void BytesPage::show(NodeId node) {
    if (node < 0 || node >= tree_.size() || tree_.hasChildren(node) || !session_.reading()) return;
    const EntryId id = tree_.entryIndex(node);
    if (id < 0 || !session_.present(id)) return;
    const QModelIndex index = model_.indexOf(node);
    if (index.isValid() && treeView_.currentIndex() != index) treeView_.setCurrentIndex(index);

    // The entry as it stands now; later edits show once it is asked for again.
    EditSession::EntryBytes bytes;
    QString note;
    try {
        bytes = session_.bytesAsTheyStand({id})(id);
    } catch (const Error& e) {
        note = QString::fromStdString(e.what());
    }
    present(std::move(bytes.source), bytes.held, session_.entrySize(id), note);
}

void BytesPage::showBytes(std::unique_ptr<ByteSource> source, int64_t held, int64_t size) {
    present(std::move(source), held, size, {});
}

void BytesPage::present(std::unique_ptr<ByteSource> source, int64_t held, int64_t size,
                        QString note) {
    if (note.isEmpty() && held < size)
        note = QStringLiteral("the archive file holds %1 of the entry's %2 bytes")
                   .arg(hex(held), hex(size));
    auto blocks = source ? std::make_unique<ByteBlocks>(std::move(source), held)
                         : std::make_unique<ByteBlocks>();
    if (!shown_) {
        before_ = pageControl_.currentIndex();
        pageControl_.addTab(page_, QStringLiteral("Bytes"));
        shown_ = true;
    }
    view_->setBytes(std::move(blocks), note);
    pageControl_.setCurrentWidget(page_);
    view_->setFocus(Qt::OtherFocusReason);
}

void BytesPage::leave() {
    if (!shown_) return;
    if (pageControl_.currentWidget() == page_)
        pageControl_.setCurrentIndex(before_);  // which drops the page
    drop();
}

void BytesPage::drop() {
    if (!shown_) return;
    shown_ = false;
    view_->clear();
    pageControl_.removeTab(pageControl_.indexOf(page_));
    page_->hide();
}

}  // namespace vorlr
