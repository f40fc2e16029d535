#include "app/MediaPage.h"

#include <QScrollArea>
#include <QSlider>
#include <QTimer>

#include "app/MediaPlayer.h"
#include "platform/gui/Dialogs.h"

namespace vorlr {

MediaPage::MediaPage(QWidget* tsMedia, PageContext context) : tsMedia_(tsMedia), ctx_(context) {
    sbMedia_ = new QScrollArea(tsMedia_);
    sbMedia_->setObjectName(QStringLiteral("sbMedia"));
    sbMedia_->setGeometry(0, 60, 561, 431);

    mediaPlayer_ = new MediaPlayer(tsMedia_);
    mediaPlayer_->setGeometry(10, 10, 85, 40);
    mediaPlayer_->resize(151, 40);
    auto& mp = mediaPlayer_->control();
    mp.VisibleButtons = {btPlay, btPause, btStop};
    mp.EnabledButtons = TButtonSet::all();
    mp.ColoredButtons = TButtonSet::all();
    mp.AutoEnable = true;
    mp.AutoRewind = true;
    mp.OnClick = [this](MediaPlayerControl& sender, TMPBtnType button, bool& doDefault) {
        MediaPlayer1Click(sender, button, doDefault);
    };
    // A length known only after opening (an MP3 counted in the background) widens the bar.
    mp.OnLengthChange = [this] { tbMedia_->setMaximum(mediaPlayer_->control().Length()); };

    tbMedia_ = new QSlider(Qt::Horizontal, tsMedia_);
    tbMedia_->setObjectName(QStringLiteral("tbMedia"));
    tbMedia_->setGeometry(170, 10, 382, 40);
    tbMedia_->setTickPosition(QSlider::NoTicks);
    tbMedia_->setRange(0, 10);
    tbMedia_->setValue(0);

    QWidget::setTabOrder(sbMedia_, mediaPlayer_);
    QWidget::setTabOrder(mediaPlayer_, tbMedia_);

    tmMedia_ = new QTimer(this);
    tmMedia_->setObjectName(QStringLiteral("tmMedia"));
    tmMedia_->setInterval(100);
    connect(tmMedia_, &QTimer::timeout, this, [this] { guarded([this] { tmMediaTimer(); }, tsMedia_); });
}

MediaPage::~MediaPage() {
    // The control may outlive the page: it must not call back into it.
    if (mediaPlayer_) {
        mediaPlayer_->control().OnClick = nullptr;
        mediaPlayer_->control().OnLengthChange = nullptr;
    }
}

void MediaPage::ShowSoundEntry() {
    auto& mp = mediaPlayer_->control();
    auto& state = ctx_.state;
    // Closed before the scratch file, which that device may have open, is written again.
    // Closing the output can run the event loop: a selection made meanwhile has shown its own
    // entry over this one's state, so this one stops there.
    const uint64_t showing = state.EntriesShown;
    mp.Close();
    if (showing != state.EntriesShown) return;
    ExtractEntry(state, "TEMP." + state.CurrentExtension);
    // Set before opening, so that it stands even when opening fails.
    ctx_.statusBar.setPanelText(3, state.CurrentExtension == "wav" ? "Type: Microsoft wave sound file"
                                                                   : "Type: MPEG layer 3 sound file");
    mp.FileName = state.TempFileName;
    mp.Open();
    if (showing != state.EntriesShown) return;
    tbMedia_->setMaximum(mp.Length());
    tbMedia_->setValue(0);
    ctx_.pageControl.setCurrentWidget(tsMedia_);
    tmMedia_->start();
    mp.Play();
}

// A key does what a mouse press on the button does, and nothing on a grey one.
void MediaPage::MediaPlayPauseKey() {
    if (!mediaPlayer_) return;
    MediaPlayerControl& control = mediaPlayer_->control();
    // Play stays usable while a sound plays, so a playing sound with a usable Pause pauses.
    if (control.isOpen() && control.isUsable(btPause) && control.Mode() == MediaMode::Playing)
        control.press(btPause);
    else
        control.press(btPlay);  // a grey button ignores the press
}

void MediaPage::MediaStopKey() {
    if (mediaPlayer_) mediaPlayer_->control().press(btStop);
}

void MediaPage::tmMediaTimer() {
    if (!mediaPlayer_) return;
    // The slider clamps the value into its range.
    tbMedia_->setValue(mediaPlayer_->control().Position());
}

void MediaPage::MediaPlayer1Click(MediaPlayerControl& Sender, TMPBtnType Button, bool& DoDefault) {
    (void)DoDefault;  // stays true: the button's own action follows
    if (Button == btStop) {
        tbMedia_->setValue(0);
        Sender.SetPosition(0);
    }
}

}  // namespace vorlr
