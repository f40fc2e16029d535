#include "platform/media/Media.h"

namespace vorlr {

std::string mediaErrorText(uint32_t code) {
    switch (code) {
        case kMediaNoDevice: return "No sound is open";
        case kMediaUnsupportedType: return "There is no sound player for this type of file";
        case kMediaCannotOpenFile: return "The sound file cannot be opened";
        case kMediaBadWave: return "The file is not a valid wave sound file";
        case kMediaBadMpeg: return "The file is not a valid MPEG layer 3 sound file";
        case kMediaUnsupportedFormat:
            return "The sound's channel count or sample rate is not supported";
        case kMediaNoOutput: return "No audio output device is available";
        case kMediaOutputFailed: return "The audio output device could not be started";
        case kMediaNotPaused: return "The sound is not paused";
        case kMediaOutOfRange: return "The position is outside the sound";
        default: return {};
    }
}

}  // namespace vorlr
