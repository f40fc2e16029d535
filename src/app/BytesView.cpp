#include "app/BytesView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/gui/Dialogs.h"
#include "platform/Text.h"

namespace vorlr {

namespace {

constexpr int kMargin = 4;
// The longest a search slice holds the event loop, and the bytes between clock checks.
constexpr qint64 kSliceMs = 5;
constexpr int64_t kSliceBytes = int64_t{1} << 20;

QString hexOffset(int64_t offset) { return QStringLiteral("$") + QString::fromStdString(OffsetText(offset)); }

}  // namespace

BytesView::BytesView(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("vwBytes"));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(11);  // a whole row fits the page without scrolling sideways
    font.setStyleStrategy(QFont::PreferNoShaping);
    setFont(font);
    viewport()->setFont(font);
    const QFontMetrics fm(font);
    lineHeight_ = std::max(fm.height(), 1);
    // Cells of whole pixels, each drawn at its own place: a font's fractional advances, or a
    // character taken from another font, never move the columns.
    charWidth_ = std::max(static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(QLatin1Char('0')))), 1);
    ascent_ = fm.ascent();
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    slices_.setInterval(0);
    connect(&slices_, &QTimer::timeout, this, &BytesView::searchSlice);
    updateScrollBars();
}

BytesView::~BytesView() = default;

void BytesView::setBytes(std::unique_ptr<ByteBlocks> bytes, QString note) {
    clear();
    bytes_ = std::move(bytes);
    note_ = std::move(note);
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    changed();
}

void BytesView::clear() {
    slices_.stop();
    search_.reset();
    searchState_.clear();
    searchShown_.clear();
    bytes_.reset();
    note_.clear();
    cursor_ = anchor_ = 0;
    dragging_ = false;
    updateScrollBars();
    viewport()->update();
}

int64_t BytesView::selectionBegin() const { return std::min(cursor_, anchor_); }

int64_t BytesView::selectionEnd() const {
    const int64_t size = bytes_ ? bytes_->size() : 0;
    return std::min(std::max(cursor_, anchor_) + 1, size);
}

void BytesView::moveCursor(int64_t to, bool extend) {
    const int64_t size = bytes_ ? bytes_->size() : 0;
    cursor_ = std::clamp<int64_t>(to, 0, std::max<int64_t>(size - 1, 0));
    if (!extend) anchor_ = cursor_;
    anchor_ = std::clamp<int64_t>(anchor_, 0, std::max<int64_t>(size - 1, 0));
    scrollToCursor();
    changed();
}

void BytesView::selectAll() {
    if (!bytes_ || bytes_->size() == 0) return;
    anchor_ = 0;
    moveCursor(bytes_->size() - 1, true);
}

QString BytesView::selectionAs(CopyAs as) {
    if (!bytes_) return {};
    return SelectionText(*bytes_, selectionBegin(), selectionEnd(), as);
}

void BytesView::copy(CopyAs as) {
    if (!bytes_ || bytes_->size() == 0) return;
    QApplication::clipboard()->setText(selectionAs(as));
}

void BytesView::askGoTo() {
    if (!bytes_) return;
    const std::optional<std::string> typed = dialogs().getText(
        this, "Go to offset", "Offset (hex, or decimal after #):", OffsetText(cursor_));
    setFocus(Qt::OtherFocusReason);
    if (!typed) return;
    const std::optional<GoTo> to = ParseGoTo(*typed, bytes_->size());
    if (!to) return showInformationText("Not an offset: " + *typed, this);
    moveCursor(to->offset, false);
    searchState_ = to->pastEnd ? QStringLiteral("past the end: at the last byte") : QString();
    changed();
}

void BytesView::askFind(bool hex) {
    if (!bytes_) return;
    const std::optional<std::string> typed =
        hex ? dialogs().getText(this, "Find hex bytes", "Bytes in hex (4D 5A ...):", "")
            : dialogs().getText(this, "Find text", "Text (A to Z in either case):", "");
    setFocus(Qt::OtherFocusReason);
    if (!typed || typed->empty()) return;
    if (!hex) return find(*typed, true, QLatin1Char('"') + fromCp1252(*typed) + QLatin1Char('"'));
    const std::optional<std::string> bytes = ParseHexBytes(*typed);
    if (!bytes) return showInformationText("Not hex bytes: " + *typed, this);
    find(*bytes, false, fromCp1252(*typed).toUpper());
}

void BytesView::find(std::string pattern, bool ignoreCase, QString shown) {
    if (!bytes_) return;
    search_ = std::make_unique<ByteSearch>(*bytes_, std::move(pattern), ignoreCase);
    searchShown_ = std::move(shown);
    startSearch(selectionBegin() - 1, true);
}

void BytesView::findNext(bool forward) {
    if (!search_ || searching()) return;
    startSearch(selectionBegin(), forward);
}

void BytesView::startSearch(int64_t from, bool forward) {
    search_->start(from, forward);
    searchState_ = QStringLiteral("finding ") + searchShown_ + QStringLiteral("...");
    slices_.start();
    searchSlice();  // a match near by shows at once
}

void BytesView::searchSlice() {
    if (!search_) return slices_.stop();
    QElapsedTimer clock;
    clock.start();
    while (!search_->run(kSliceBytes) && clock.elapsed() < kSliceMs) {
    }
    if (search_->done()) return searchDone();
    searchState_ = QStringLiteral("finding %1... %2 %")
                       .arg(searchShown_)
                       .arg(static_cast<int>(search_->progress() * 100));
    changed();
}

void BytesView::settle() {
    if (!search_ || !searching()) return;
    while (!search_->run(kSliceBytes)) {
    }
    searchDone();
}

void BytesView::searchDone() {
    slices_.stop();
    if (const std::optional<int64_t> at = search_->match()) {
        const auto n = static_cast<int64_t>(search_->pattern().size());
        anchor_ = *at;
        moveCursor(*at + n - 1, true);
        searchState_ = searchShown_ + QStringLiteral(" at ") + hexOffset(*at) +
                       (search_->wrapped() ? QStringLiteral(" (wrapped round)") : QString());
    } else {
        searchState_ = searchShown_ + QStringLiteral(" not found");
    }
    changed();
}

int BytesView::firstRow() const { return verticalScrollBar()->value(); }

QPoint BytesView::pointOf(int64_t offset, bool inCharacters) const {
    const int k = static_cast<int>(offset % kBytesPerRow);
    const int column = inCharacters ? CharColumnOf(k) : HexColumnOf(k);
    const int x = kMargin - horizontalScrollBar()->value() + column * charWidth_ +
                  (inCharacters ? charWidth_ / 2 : charWidth_);
    const int64_t row = offset / kBytesPerRow - firstRow();
    return {x, static_cast<int>(row * lineHeight_ + lineHeight_ / 2)};
}

int BytesView::visibleRows() const { return std::max(viewport()->height() / lineHeight_, 1); }

QString BytesView::statusText() const {
    QString s;
    const int64_t size = bytes_ ? bytes_->size() : 0;
    if (size == 0) {
        s = QStringLiteral("no bytes");
    } else if (selectionEnd() - selectionBegin() == 1) {
        s = QStringLiteral("Offset ") + hexOffset(cursor_);
    } else {
        s = QStringLiteral("Selected ") + hexOffset(selectionBegin()) + QLatin1Char('-') +
            hexOffset(selectionEnd() - 1) + QStringLiteral(", %1 bytes").arg(selectionEnd() - selectionBegin());
    }
    if (!note_.isEmpty()) s += QStringLiteral("; ") + note_;
    if (bytes_ && !bytes_->cutReason().empty())
        s += QStringLiteral("; read as far as ") + hexOffset(size) + QStringLiteral(" (") +
             QString::fromStdString(bytes_->cutReason()) + QLatin1Char(')');
    if (!searchState_.isEmpty()) s += QStringLiteral("; ") + searchState_;
    return s;
}

void BytesView::changed() {
    updateScrollBars();  // a read may have found the bytes end sooner
    viewport()->update();
    if (statusChanged) statusChanged();
}

void BytesView::updateScrollBars() {
    const int64_t rows = bytes_ ? bytes_->rows() : 0;
    const int visible = visibleRows();
    verticalScrollBar()->setRange(0, static_cast<int>(std::max<int64_t>(rows - visible, 0)));
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setSingleStep(1);
    const int width = kMargin * 2 + kRowColumns * charWidth_;
    horizontalScrollBar()->setRange(0, std::max(width - viewport()->width(), 0));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(charWidth_);
}

void BytesView::scrollToCursor() {
    const int64_t row = cursor_ / kBytesPerRow;
    const int first = firstRow();
    if (row < first)
        verticalScrollBar()->setValue(static_cast<int>(row));
    else if (row >= first + visibleRows())
        verticalScrollBar()->setValue(static_cast<int>(row - visibleRows() + 1));
}

int64_t BytesView::byteAt(const QPoint& pos, bool* inCharacters) const {
    const int64_t size = bytes_ ? bytes_->size() : 0;
    const int y = pos.y();
    const int64_t row = firstRow() + (y < 0 ? (y - lineHeight_ + 1) / lineHeight_ : y / lineHeight_);
    const int x = pos.x() + horizontalScrollBar()->value() - kMargin;
    const ColumnHit hit = ByteAtColumn(x < 0 ? -1 : x / charWidth_);
    if (inCharacters) *inCharacters = hit.inCharacters;
    return std::clamp<int64_t>(row * kBytesPerRow + hit.byte, 0, std::max<int64_t>(size - 1, 0));
}

void BytesView::paintEvent(QPaintEvent* e) {
    QPainter p(viewport());
    const QPalette& pal = palette();
    const QRect area = e->rect();  // a scroll by a row asks for that row only
    p.fillRect(area, pal.color(QPalette::Base));
    if (!bytes_) return;
    const int first = firstRow();
    const int rows = visibleRows() + 1;  // a part row at the bottom too
    std::vector<uint8_t> buffer(static_cast<size_t>(rows) * kBytesPerRow);
    const int64_t start = int64_t{first} * kBytesPerRow;
    const size_t got = bytes_->read(start, buffer.data(), buffer.size());
    const int x0 = kMargin - horizontalScrollBar()->value();
    const int64_t selBegin = selectionBegin(), selEnd = selectionEnd();
    const bool focused = hasFocus();
    const int lastRow = std::min(rows - 1, area.bottom() / lineHeight_);
    for (int r = std::max(area.top() / lineHeight_, 0);
         r <= lastRow && static_cast<size_t>(r) * kBytesPerRow < got; ++r) {
        const int64_t rowStart = start + int64_t{r} * kBytesPerRow;
        const int n = static_cast<int>(std::min<size_t>(kBytesPerRow, got - static_cast<size_t>(r) * kBytesPerRow));
        const QString text = RowText(rowStart, buffer.data() + static_cast<size_t>(r) * kBytesPerRow, n);
        const int y = r * lineHeight_;
        // The selection's part of this row, in the hex and in the characters.
        QRegion selected;
        const int64_t a = std::max(selBegin, rowStart), b = std::min(selEnd, rowStart + n);
        if (a < b) {
            const int ka = static_cast<int>(a - rowStart), kb = static_cast<int>(b - rowStart) - 1;
            selected += QRect(x0 + HexColumnOf(ka) * charWidth_, y, (HexColumnOf(kb) + 2 - HexColumnOf(ka)) * charWidth_, lineHeight_);
            selected += QRect(x0 + CharColumnOf(ka) * charWidth_, y, (kb - ka + 1) * charWidth_, lineHeight_);
        }
        const auto cells = [&] {
            for (int k = 0; k < n; ++k) {
                p.drawText(x0 + HexColumnOf(k) * charWidth_, y + ascent_, text.mid(HexColumnOf(k), 2));
                p.drawText(x0 + CharColumnOf(k) * charWidth_, y + ascent_, QString(text.at(CharColumnOf(k))));
            }
        };
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(x0, y + ascent_, text.left(kHexColumn));
        p.setPen(pal.color(QPalette::Text));
        cells();
        if (!selected.isEmpty()) {
            const QColor back = pal.color(focused ? QPalette::Active : QPalette::Inactive, QPalette::Highlight);
            for (const QRect& rect : selected) p.fillRect(rect, back);
            p.save();
            p.setClipRegion(selected);
            p.setPen(pal.color(focused ? QPalette::Active : QPalette::Inactive, QPalette::HighlightedText));
            cells();
            p.restore();
        }
        if (focused && cursor_ >= rowStart && cursor_ < rowStart + n) {
            const int k = static_cast<int>(cursor_ - rowStart);
            p.setPen(pal.color(QPalette::Text));
            p.drawRect(x0 + HexColumnOf(k) * charWidth_ - 1, y, 2 * charWidth_ + 1, lineHeight_ - 1);
            p.drawRect(x0 + CharColumnOf(k) * charWidth_, y, charWidth_ - 1, lineHeight_ - 1);
        }
    }
    // A read that met the end sooner than the size said: the rows and the status follow it.
    if (got < buffer.size() && verticalScrollBar()->maximum() !=
                                   static_cast<int>(std::max<int64_t>(bytes_->rows() - visibleRows(), 0)))
        QTimer::singleShot(0, this, [this] { changed(); });
}

void BytesView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    updateScrollBars();
}

bool BytesView::event(QEvent* e) {
    // F3 belongs to the find box's shortcut elsewhere; here it is the view's own.
    if (e->type() == QEvent::ShortcutOverride) {
        const auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_F3 && (k->modifiers() & ~Qt::ShiftModifier) == Qt::NoModifier) {
            e->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void BytesView::keyPressEvent(QKeyEvent* e) {
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const int64_t page = int64_t{visibleRows()} * kBytesPerRow;
    const int64_t rowStart = cursor_ - cursor_ % kBytesPerRow;
    const int64_t size = bytes_ ? bytes_->size() : 0;
    switch (e->key()) {
    case Qt::Key_Left: return moveCursor(cursor_ - 1, shift);
    case Qt::Key_Right: return moveCursor(cursor_ + 1, shift);
    case Qt::Key_Up: return moveCursor(cursor_ - kBytesPerRow, shift);
    case Qt::Key_Down:
        return moveCursor(cursor_ + kBytesPerRow < size ? cursor_ + kBytesPerRow : cursor_, shift);
    case Qt::Key_PageUp: return moveCursor(cursor_ - page, shift);
    case Qt::Key_PageDown: return moveCursor(cursor_ + page, shift);
    case Qt::Key_Home: return moveCursor(ctrl ? 0 : rowStart, shift);
    case Qt::Key_End: return moveCursor(ctrl ? size - 1 : rowStart + kBytesPerRow - 1, shift);
    case Qt::Key_F3: return guarded([&] { findNext(!shift); }, this);
    case Qt::Key_Escape:
        if (searching()) {
            slices_.stop();
            searchState_ = QStringLiteral("search stopped");
            return changed();
        }
        break;
    case Qt::Key_A:
        if (ctrl) return selectAll();
        break;
    case Qt::Key_C:
        if (ctrl) return guarded([&] { copy(shift ? CopyAs::Text : CopyAs::Hex); }, this);
        break;
    default: break;
    }
    QAbstractScrollArea::keyPressEvent(e);
}

void BytesView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(e);
    setFocus(Qt::MouseFocusReason);
    dragging_ = true;
    moveCursor(byteAt(e->position().toPoint()), e->modifiers() & Qt::ShiftModifier);
}

void BytesView::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_ || !(e->buttons() & Qt::LeftButton)) return;
    const QPoint at = e->position().toPoint();
    // Past the top or the bottom the rows follow the pointer.
    if (at.y() < 0)
        verticalScrollBar()->setValue(firstRow() - 1);
    else if (at.y() >= viewport()->height())
        verticalScrollBar()->setValue(firstRow() + 1);
    moveCursor(byteAt(at), true);
}

void BytesView::contextMenuEvent(QContextMenuEvent* e) {
    QMenu menu(this);
    auto item = [&](const char* text, const QKeySequence& key, std::function<void()> run) {
        QAction* a = menu.addAction(QString::fromLatin1(text));
        a->setShortcut(key);
        a->setEnabled(bytes_ && bytes_->size() > 0);
        connect(a, &QAction::triggered, this, [this, run] { guarded(run, this); });
        return a;
    };
    item("Copy as hex", QKeySequence(Qt::CTRL | Qt::Key_C), [this] { copy(CopyAs::Hex); });
    item("Copy as text", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), [this] { copy(CopyAs::Text); });
    item("Select all", QKeySequence(Qt::CTRL | Qt::Key_A), [this] { selectAll(); });
    menu.addSeparator();
    item("Go to offset...", QKeySequence(Qt::CTRL | Qt::Key_J), [this] { askGoTo(); });
    item("Find text...", QKeySequence(Qt::CTRL | Qt::Key_K), [this] { askFind(false); });
    item("Find hex bytes...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K), [this] { askFind(true); });
    item("Find next", QKeySequence(Qt::Key_F3), [this] { findNext(true); })->setEnabled(search_ && !searching());
    menu.exec(e->globalPos());
}

void BytesView::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void BytesView::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}

}  // namespace vorlr
