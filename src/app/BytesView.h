#pragma once
// The bytes view: an entry's bytes as rows of offset, hex and Windows-1252 characters, painted
// only where they show (the rows come from ByteBlocks, which reads a few blocks, never the whole
// entry). A cursor byte and a selection from it (mouse drag, Shift with the arrow and page
// keys), copied as hex (Ctrl+C) or as text (Ctrl+Shift+C); go to an offset; a search for text or
// hex bytes run in slices from the event loop, F3 / Shift+F3 for the next / previous match while
// the view has the keyboard (the find box keeps F3 otherwise).
#include <QAbstractScrollArea>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "viewers/ByteRows.h"

namespace vorlr {

class BytesView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit BytesView(QWidget* parent = nullptr);
    ~BytesView() override;

    // Shows these bytes from the top, the cursor on the first; note follows the position in the
    // status text (why the bytes are fewer than the entry's size, say).
    void setBytes(std::unique_ptr<ByteBlocks> bytes, QString note = {});
    // No bytes; a search running stops.
    void clear();
    ByteBlocks* bytes() const { return bytes_.get(); }

    int64_t cursor() const { return cursor_; }
    // The bytes selected, [begin, end): the cursor's and the anchor's and those between.
    int64_t selectionBegin() const;
    int64_t selectionEnd() const;
    // Moves the cursor (and with extend, keeps the anchor), kept inside the bytes and shown.
    void moveCursor(int64_t to, bool extend);
    void selectAll();
    QString selectionAs(CopyAs as);
    void copy(CopyAs as);

    // Asks for an offset and goes there ("Go to offset...").
    void askGoTo();
    // Asks for text or hex bytes and finds the first match from the cursor on.
    void askFind(bool hex);
    // Starts a search for pattern from the cursor (it counts as a match place).
    void find(std::string pattern, bool ignoreCase, QString shown);
    // The next (or previous) match of the last search; nothing without one.
    void findNext(bool forward);
    bool searching() const { return slices_.isActive(); }
    // Runs a search to its end at once (tests, benchmarks).
    void settle();

    int firstRow() const;
    int visibleRows() const;
    // The middle of a byte's hex digits (or of its character) in the viewport, shown or not.
    QPoint pointOf(int64_t offset, bool inCharacters) const;
    // Position, selection, search and note, as the page's status line shows them.
    QString statusText() const;
    std::function<void()> statusChanged;

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void updateScrollBars();
    int64_t byteAt(const QPoint& pos, bool* inCharacters = nullptr) const;
    void scrollToCursor();
    void startSearch(int64_t from, bool forward);
    void searchSlice();
    void searchDone();
    void changed();

    std::unique_ptr<ByteBlocks> bytes_;
    QString note_;
    int64_t cursor_ = 0, anchor_ = 0;
    int lineHeight_ = 1, charWidth_ = 1, ascent_ = 0;
    std::unique_ptr<ByteSearch> search_;
    QString searchShown_;  // the pattern as typed, for the status text
    QString searchState_;
    QTimer slices_;
    bool dragging_ = false;
};

}  // namespace vorlr
