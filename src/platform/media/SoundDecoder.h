#pragma once
// Decoding a sound file on demand: WAV through libsndfile, MP3 through libmpg123.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/Media.h"

namespace vorlr {

// A streaming decoder for one WAV file (libsndfile) or MP3 file (libmpg123, after libsndfile has
// recognised it). Reading goes on until the decoder gives no more, whatever the header claimed;
// frames() is the count known so far and becomes exact once the frames are counted or the end
// has been read.
class SoundDecoder {
public:
    enum class Kind { Wave, Mpeg };
    struct Impl;  // libsndfile or libmpg123 handle and the bytes it reads
    class PendingCount;
    ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    // MP3 files up to this size are counted at open (a millisecond at most); larger ones are
    // counted by PendingCount, which may run on another thread.
    static constexpr int64_t kCountAtOpenBytes = 64 * 1024;

    // The kind for a file name's extension (compared without case); false when none fits.
    static bool kindForName(const std::string& fileName, Kind& kind);
    // Opens a file; returns 0 and sets decoder, or a result code.
    static uint32_t openFile(const std::string& path, Kind kind, std::unique_ptr<SoundDecoder>& decoder);
    // Opens bytes held in memory (copied).
    static uint32_t openMemory(const uint8_t* data, size_t size, Kind kind,
                               std::unique_ptr<SoundDecoder>& decoder);

    const PcmFormat& format() const { return format_; }
    int fileChannels() const { return fileChannels_; }
    // Never less than what has been read: an estimate grows while the sound plays past it.
    int64_t frames() const { return std::max(frames_, reached_); }
    bool framesExact() const { return exact_; }
    int64_t lengthMs() const;                        // clamped to 0..INT32_MAX
    int64_t framesToMs(int64_t frames) const;
    int64_t msToFrames(int64_t ms) const;
    // Next frame read() will return.
    int64_t framePosition() const { return next_; }
    // Decodes up to maxFrames frames of format() into out; 0 at the end or on a decode error.
    int64_t read(int16_t* out, int64_t maxFrames);
    // Moves to a frame (clamped to 0..frames()); false when the decoder cannot.
    bool seekFrame(int64_t frame);

    // The count still to be made, once (nullptr when the frames are known or cannot be counted).
    std::unique_ptr<PendingCount> takePendingCount();
    // Takes over a finished count: the counted decoder replaces this one at the same frame.
    // False when the count failed or came too late (the end was read first).
    bool adoptCount(PendingCount& count);

private:
    SoundDecoder();
    static uint32_t finishOpen(std::unique_ptr<Impl> impl, Kind kind,
                               std::unique_ptr<SoundDecoder>& decoder);
    std::unique_ptr<Impl> impl_;
    PcmFormat format_;
    int fileChannels_ = 0;
    int64_t frames_ = 0;
    bool exact_ = false;
    int64_t next_ = 0;
    // The furthest frame read so far. Reading that starts at a known frame (one read before, or
    // any frame once the count is exact) and finds the end has found the real end; a seek past
    // everything read to a guessed length may land beyond the real end, where nothing is known.
    int64_t reached_ = 0;
    bool runFromKnown_ = true;
    std::vector<int16_t> scratch_;
    std::unique_ptr<PendingCount> pending_;
};

// A full pass over an MP3 file's frames with a decoder of its own (libmpg123's scan). run() may
// be called on any one thread; cancel() from any thread makes a running pass end soon.
class SoundDecoder::PendingCount {
public:
    ~PendingCount();
    void run();
    void cancel() { cancelled_ = true; }
    bool succeeded() const { return ok_; }
    int64_t frames() const { return frames_; }
    struct Reader;  // the MP3 decoder it counts with, which then takes over the playback

private:
    friend class SoundDecoder;
    PendingCount();
    std::unique_ptr<Reader> reader_;
    std::atomic<bool> cancelled_{false};
    bool ok_ = false;
    int64_t frames_ = 0;
};

}  // namespace vorlr
