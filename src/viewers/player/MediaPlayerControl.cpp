#include "viewers/player/MediaPlayerControl.h"

#include "platform/gui/Dialogs.h"

namespace vorlr {

namespace {
constexpr const char* kNoDevice = "No MCI device open";

// Marks a call into the device: a Close from the event loop run inside it is deferred.
struct Busy {
    explicit Busy(int& depth) : depth_(depth) { ++depth_; }
    ~Busy() { --depth_; }
    int& depth_;
};
}  // namespace

MediaDevice& MediaPlayerControl::dev() {
    requireOpen();
    return *device_;
}

MediaPlayerControl::MediaPlayerControl() = default;

MediaPlayerControl::~MediaPlayerControl() {
    // Playback ends with the control; any notice still queued dies with this object.
    if (deviceId_ != 0) closeDevice();
}

void MediaPlayerControl::requireOpen() const {
    if (!open_) throw EMCIDeviceError(kNoDevice);
}

void MediaPlayerControl::redraw() {
    if (OnRedraw) OnRedraw();
}

void MediaPlayerControl::closeDevice() {
    // The state says "closed" before the device goes: closing an output can run the event loop,
    // and a notice handled there must not reach a device half destroyed.
    std::shared_ptr<MediaDevice> device(std::move(device_));
    if (device) device->onLengthChanged = nullptr;
    lastResult_ = kMediaOk;
    open_ = false;
    deviceId_ = 0;
    if (busy_ > 0 && device)  // closed from inside one of its own calls: destroy it afterwards
        QMetaObject::invokeMethod(this, [device] {}, Qt::QueuedConnection);
}

void MediaPlayerControl::Close() {
    if (deviceId_ == 0) return;
    closeDevice();
    usable_ = {};
    redraw();
}

void MediaPlayerControl::Open() {
    if (open_) Close();
    std::unique_ptr<MediaDevice> device;
    lastResult_ = MediaDevice::open(FileName, device);
    if (lastResult_ != kMediaOk) {
        std::string text = mediaErrorText(lastResult_);
        if (text.empty()) text = "Unknown error code";
        throw EMCIDeviceError(text);
    }
    device_ = std::move(device);
    device_->onLengthChanged = [this] {
        guarded([this] {
            if (OnLengthChange) OnLengthChange();
        });
    };
    open_ = true;
    deviceId_ = nextId_;
    nextId_ = static_cast<uint16_t>(nextId_ + 1);
    if (nextId_ == 0) nextId_ = 1;

    Length();
    canPlay_ = device_->canPlay();
    canRecord_ = device_->canRecord();
    canEject_ = device_->canEject();
    hasVideo_ = device_->hasVideo();  // sound only: nothing is shown in the display area

    usable_ = {};
    if (canPlay_) usable_.add(btPlay);
    if (canRecord_) usable_.add(btRecord);
    if (canEject_) usable_.add(btEject);
    redraw();
    if (Mode() == MediaMode::Playing) {
        afterPress(btPlay);
        redraw();
    }
}

int32_t MediaPlayerControl::Length() {
    requireOpen();
    lastResult_ = kMediaOk;
    return static_cast<int32_t>(device_->lengthMs());
}

int32_t MediaPlayerControl::Position() {
    if (!open_) {
        lastResult_ = kMediaNoDevice;
        return 0;
    }
    lastResult_ = kMediaOk;
    return static_cast<int32_t>(device_->positionMs());
}

MediaMode MediaPlayerControl::Mode() {
    if (!open_) {
        lastResult_ = kMediaNoDevice;
        return MediaMode::NotReady;
    }
    lastResult_ = kMediaOk;
    return device_->mode();
}

void MediaPlayerControl::SetPosition(int32_t p) {
    Busy busy(busy_);
    lastResult_ = dev().seek(p);
}

void MediaPlayerControl::Rewind() {
    Busy busy(busy_);
    dev().seekToStart();  // not recorded in LastMciResult
}

MediaDevice::NoticeFn MediaPlayerControl::noticeFn() {
    return [this](MediaNotice outcome) { notice(outcome); };
}

void MediaPlayerControl::Play() {
    Busy busy(busy_);
    requireOpen();
    if (AutoRewind && Position() == Length()) Rewind();
    lastResult_ = dev().play(this, noticeFn());
}

void MediaPlayerControl::Pause() {
    Busy busy(busy_);
    requireOpen();
    const MediaMode mode = Mode();
    if (mode == MediaMode::Playing)
        lastResult_ = dev().pause();
    else if (mode == MediaMode::Paused)
        Resume();
}

void MediaPlayerControl::Resume() {
    Busy busy(busy_);
    lastResult_ = dev().resume(this, noticeFn());
    if (lastResult_ != kMediaOk) Play();
}

void MediaPlayerControl::Stop() {
    Busy busy(busy_);
    lastResult_ = dev().stop();
}

void MediaPlayerControl::Eject() {
    requireOpen();
    // No device of this layer has a door.
    if (canEject_) lastResult_ = kMediaOk;
}

bool MediaPlayerControl::isUsable(TMPBtnType button) const {
    if (!VisibleButtons.contains(button)) return false;
    return AutoEnable ? usable_.contains(button) : EnabledButtons.contains(button);
}

void MediaPlayerControl::makeStoppedButtons() {
    if (canPlay_) usable_.add(btPlay);
    if (canRecord_) usable_.add(btRecord);
    usable_.remove(btPause);
    usable_.remove(btStop);
}

void MediaPlayerControl::afterPress(TMPBtnType button) {
    switch (button) {
        case btPlay:
        case btRecord:
            usable_.remove(btPlay);
            usable_.remove(btRecord);
            usable_.add(btPause);
            usable_.add(btStop);
            break;
        case btPause:
            if (canPlay_) usable_.add(btPlay);
            if (canRecord_) usable_.add(btRecord);
            break;
        default:
            makeStoppedButtons();
            break;
    }
}

void MediaPlayerControl::press(TMPBtnType button) {
    if (!isUsable(button)) return;
    bool DoDefault = true;
    if (OnClick) OnClick(*this, button, DoDefault);
    if (DoDefault) {
        switch (button) {
            case btPlay: Play(); break;
            case btPause: Pause(); break;
            case btStop: Stop(); break;
            case btEject: Eject(); break;
            default: break;
        }
        if (OnPostClick) OnPostClick();
    }
    if (open_ && lastResult_ == kMediaOk) {
        afterPress(button);
        redraw();
    }
}

void MediaPlayerControl::notice(MediaNotice outcome) {
    // Runs from the event loop: nothing may escape.
    guarded([&] {
        // The device asked is the one open now, not necessarily the one the notice is about.
        if (AutoEnable && Mode() == MediaMode::Stopped) {
            makeStoppedButtons();
            redraw();
        }
        switch (outcome) {
            case MediaNotice::Successful: notifyValue_ = TMPNotifyValues::nvSuccessful; break;
            case MediaNotice::Superseded: notifyValue_ = TMPNotifyValues::nvSuperseded; break;
            case MediaNotice::Aborted: notifyValue_ = TMPNotifyValues::nvAborted; break;
            case MediaNotice::Failure: notifyValue_ = TMPNotifyValues::nvFailure; break;
        }
        if (OnNotify) OnNotify();
    });
}

}  // namespace vorlr
