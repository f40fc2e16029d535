#include "app/MediaPlayer.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "platform/gui/Dialogs.h"

namespace vorlr {

MediaPlayer::MediaPlayer(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MediaPlayer1"));
    // A click gives it the focus too, and with it the Media page's Space and S keys.
    setFocusPolicy(Qt::StrongFocus);
    control_.OnRedraw = [this] { update(); };
}

std::vector<TMPBtnType> MediaPlayer::visibleKinds() const {
    std::vector<TMPBtnType> kinds;
    for (int k = 0; k < kButtonKinds; ++k) {
        const auto kind = static_cast<TMPBtnType>(k);
        if (control_.VisibleButtons.contains(kind)) kinds.push_back(kind);
    }
    return kinds;
}

QRect MediaPlayer::buttonRect(int index) const {
    const int n = static_cast<int>(visibleKinds().size());
    if (n == 0 || index < 0 || index >= n) return {};
    // Neighbours share their 1-pixel border: n buttons of w pixels cover n*(w-1)+1 pixels.
    const int w = (width() - 1) / n + 1;
    return QRect(index * (w - 1), 0, w, height());
}

int MediaPlayer::buttonAt(const QPoint& p) const {
    const int n = static_cast<int>(visibleKinds().size());
    for (int i = 0; i < n; ++i)
        if (buttonRect(i).contains(p)) return i;
    return -1;
}

namespace {

QColor glyphColour(TMPBtnType kind) {
    switch (kind) {
        case btPlay: return QColor(0, 128, 0);
        case btPause: return QColor(192, 160, 0);
        case btStop: return QColor(192, 0, 0);
        default: return QColor(0, 0, 128);
    }
}

void drawGlyph(QPainter& p, TMPBtnType kind, const QRect& r, const QColor& c) {
    const QPoint m = r.center();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    switch (kind) {
        case btPlay: {
            QPainterPath path;
            path.moveTo(m.x() - 4, m.y() - 6);
            path.lineTo(m.x() + 5, m.y());
            path.lineTo(m.x() - 4, m.y() + 6);
            path.closeSubpath();
            p.drawPath(path);
            break;
        }
        case btPause:
            p.drawRect(m.x() - 5, m.y() - 6, 4, 12);
            p.drawRect(m.x() + 1, m.y() - 6, 4, 12);
            break;
        case btStop:
            p.drawRect(m.x() - 5, m.y() - 5, 10, 10);
            break;
        default:
            p.drawEllipse(m, 4, 4);
            break;
    }
}

}  // namespace

void MediaPlayer::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const auto kinds = visibleKinds();
    for (int i = 0; i < static_cast<int>(kinds.size()); ++i) {
        const QRect r = buttonRect(i);
        const bool down = i == pressed_ && sunken_;
        p.fillRect(r, palette().button());
        p.setPen(down ? Qt::darkGray : Qt::white);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(down ? Qt::white : Qt::darkGray);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        const bool usable = control_.isUsable(kinds[i]);
        QColor c = Qt::gray;
        if (usable) c = control_.ColoredButtons.contains(kinds[i]) ? glyphColour(kinds[i]) : QColor(Qt::black);
        drawGlyph(p, kinds[i], down ? r.translated(1, 1) : r, c);
    }
}

void MediaPlayer::mousePressEvent(QMouseEvent* event) {
    guarded([&] {
        if (event->button() != Qt::LeftButton) return;
        const int i = buttonAt(event->position().toPoint());
        if (i < 0 || !control_.isUsable(visibleKinds()[static_cast<size_t>(i)])) return;  // grey: no reaction
        pressed_ = i;
        sunken_ = true;
        update();
    }, this);
}

void MediaPlayer::mouseMoveEvent(QMouseEvent* event) {
    guarded([&] {
        if (pressed_ < 0) return;
        const bool over = buttonRect(pressed_).contains(event->position().toPoint());
        if (over != sunken_) {
            sunken_ = over;
            update();
        }
    }, this);
}

void MediaPlayer::mouseReleaseEvent(QMouseEvent* event) {
    guarded([&] {
        if (event->button() != Qt::LeftButton || pressed_ < 0) return;
        const int i = pressed_;
        const bool over = buttonRect(i).contains(event->position().toPoint());
        pressed_ = -1;
        sunken_ = false;
        update();
        const auto kinds = visibleKinds();
        if (over && i < static_cast<int>(kinds.size())) control_.press(kinds[static_cast<size_t>(i)]);
    }, this);
}

}  // namespace vorlr
