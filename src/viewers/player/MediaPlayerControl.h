#pragma once
// MediaPlayer1 without its widget: the button sets, the operations with their guards and
// results, the click sequence and the handling of end-of-playback notices. The widget in the
// window draws what this reports and forwards mouse presses to press().
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Errors.h"
#include "platform/media/MediaDevice.h"

namespace vorlr {

// Raised for "No MCI device open" and for a failed Open.
class EMCIDeviceError : public Error {
public:
    explicit EMCIDeviceError(const std::string& text) : Error(text) {}
};

enum TMPBtnType { btPlay, btPause, btStop, btNext, btPrev, btStep, btBack, btRecord, btEject };
constexpr int kButtonKinds = 9;

// A set of button kinds.
class TButtonSet {
public:
    constexpr TButtonSet() = default;
    constexpr TButtonSet(std::initializer_list<TMPBtnType> kinds) {
        for (auto k : kinds) bits_ |= bit(k);
    }
    static constexpr TButtonSet all() { TButtonSet s; s.bits_ = (1u << kButtonKinds) - 1; return s; }
    constexpr bool contains(TMPBtnType k) const { return (bits_ & bit(k)) != 0; }
    constexpr void add(TMPBtnType k) { bits_ |= bit(k); }
    constexpr void remove(TMPBtnType k) { bits_ &= ~bit(k); }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr bool operator==(const TButtonSet&) const = default;

private:
    static constexpr unsigned bit(TMPBtnType k) { return 1u << static_cast<unsigned>(k); }
    unsigned bits_ = 0;
};

enum class TMPNotifyValues { nvSuccessful, nvSuperseded, nvAborted, nvFailure };

class MediaPlayerControl : public QObject {
    Q_OBJECT
public:
    using ClickHandler = std::function<void(MediaPlayerControl& sender, TMPBtnType button, bool& DoDefault)>;

    MediaPlayerControl();
    // Closes the device, without a notice to anyone.
    ~MediaPlayerControl() override;

    // Settings.
    TButtonSet VisibleButtons = TButtonSet::all();
    TButtonSet EnabledButtons = TButtonSet::all();
    TButtonSet ColoredButtons = TButtonSet::all();
    bool AutoEnable = true;
    bool AutoRewind = true;
    std::string FileName;
    ClickHandler OnClick;
    std::function<void()> OnPostClick;
    std::function<void()> OnNotify;
    // Called whenever the buttons must be drawn again.
    std::function<void()> OnRedraw;
    // Called from the event loop when the open sound's Length has changed since Open (its
    // frames were counted, or playback found the real end).
    std::function<void()> OnLengthChange;

    // Operations (they wait for the device, except Play and Resume).
    void Close();
    void Open();
    int32_t Length();
    int32_t Position();
    void SetPosition(int32_t p);
    MediaMode Mode();
    void Rewind();
    void Play();
    void Pause();
    void Resume();
    void Stop();
    void Eject();

    // A mouse press released over a button: ignored for a button that cannot be pressed.
    void press(TMPBtnType button);

    // Drawn enabled and pressable.
    bool isUsable(TMPBtnType button) const;
    TButtonSet UsableButtons() const { return usable_; }
    bool isOpen() const { return open_; }
    uint16_t DeviceID() const { return deviceId_; }
    uint32_t LastMciResult() const { return lastResult_; }
    TMPNotifyValues NotifyValue() const { return notifyValue_; }
    bool canPlay() const { return canPlay_; }
    // The device behind the control, for measurements (nullptr when none is open).
    MediaDevice* device() const { return device_.get(); }

private:
    void requireOpen() const;
    MediaDevice& dev();  // the open device; raises when none
    void closeDevice();
    void afterPress(TMPBtnType button);
    void makeStoppedButtons();
    void redraw();
    void notice(MediaNotice outcome);
    MediaDevice::NoticeFn noticeFn();

    std::unique_ptr<MediaDevice> device_;
    int busy_ = 0;  // depth of calls into the device
    bool open_ = false;
    uint16_t deviceId_ = 0;
    uint16_t nextId_ = 1;
    uint32_t lastResult_ = 0;
    bool canPlay_ = false, canRecord_ = false, canEject_ = false, hasVideo_ = false;
    TButtonSet usable_;
    TMPNotifyValues notifyValue_ = TMPNotifyValues::nvSuccessful;
};

}  // namespace vorlr
