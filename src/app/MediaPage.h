#pragma once
// The Media page (tsMedia): sbMedia, MediaPlayer1, tbMedia, tmMedia, ShowSoundEntry.
#include <QObject>
#include <QPointer>

#include "app/MediaPlayer.h"
#include "app/PageContext.h"

class QScrollArea;
class QSlider;
class QTimer;
class QWidget;

namespace vorlr {

class MediaPage : public QObject {
    Q_OBJECT
public:
    // Creates the page's controls; MediaPlayer1's width becomes 151.
    MediaPage(QWidget* tsMedia, PageContext context);
    ~MediaPage() override;
    // The archive stands at the selected entry's first byte; CurrentEntrySize is set. Copies the
    // entry to TEMP.<extension>, opens it and starts playing; a failed open propagates.
    void ShowSoundEntry();
    QTimer* tmMedia() const { return tmMedia_; }
    MediaPlayer* mediaPlayer() const { return mediaPlayer_.data(); }
    QSlider* tbMedia() const { return tbMedia_; }
    QScrollArea* sbMedia() const { return sbMedia_; }

    // Keys of MediaPlayer1: Space presses Pause while a sound plays and Pause is usable, Play
    // otherwise; S and Ctrl+. press Stop. Grey buttons ignore them, as they ignore the mouse.
    void MediaPlayPauseKey();
    void MediaStopKey();

    // Handlers.
    void tmMediaTimer();
    void MediaPlayer1Click(MediaPlayerControl& Sender, TMPBtnType Button, bool& DoDefault);

private:
    QWidget* tsMedia_;
    PageContext ctx_;
    QScrollArea* sbMedia_ = nullptr;
    QPointer<MediaPlayer> mediaPlayer_;  // a child of tsMedia, which may go first
    QSlider* tbMedia_ = nullptr;
    QTimer* tmMedia_ = nullptr;
};

}  // namespace vorlr
