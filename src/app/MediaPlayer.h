#pragma once
// The media player control's widget: the visible buttons side by side, a coloured glyph when
// usable, grey otherwise; a press on a usable button is drawn sunken and, released over it,
// runs the control's click sequence.
#include <QWidget>

#include "viewers/player/MediaPlayerControl.h"

namespace vorlr {

class MediaPlayer : public QWidget {
    Q_OBJECT
public:
    explicit MediaPlayer(QWidget* parent = nullptr);
    MediaPlayerControl& control() { return control_; }

    // The visible buttons, left to right, and where each is drawn.
    std::vector<TMPBtnType> visibleKinds() const;
    QRect buttonRect(int index) const;
    // The button under a point; -1 when none.
    int buttonAt(const QPoint& p) const;
    int pressedIndex() const { return pressed_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    MediaPlayerControl control_;
    int pressed_ = -1;      // button held down
    bool sunken_ = false;   // the pointer is over the held button
};

}  // namespace vorlr
